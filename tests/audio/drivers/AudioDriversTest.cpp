// The table of audio back-ends: initialising it registers exactly its
// drivers, in its order, after the Null driver.
#include "audio/drivers/AudioDrivers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/AudioDriver.h"
#include "runtime/Array.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

std::vector<std::string> RegisteredNames() {
  Ref<Array> names = AudioDriverNames();
  std::vector<std::string> out;
  out.reserve(std::size_t(names->Length()));
  for (int32_t i = 0; i < names->Length(); ++i)
    out.push_back(static_cast<String*>(names->GetObject(i))->ToNarrow());
  return out;
}

TEST(AudioDriversTest, TheTableRegistersItsDriversInOrderAfterNull) {
  audiodrivers::Init();
  audiodrivers::Init();  // once only: a second call registers nothing
  std::vector<std::string> fromTable;
  for (const AudioBackend& backEnd : AudioBackends()) fromTable.insert(fromTable.begin(), backEnd.name);
  fromTable.emplace_back("Null");
  EXPECT_EQ(RegisteredNames(), fromTable);
  // What programs have always seen.
  EXPECT_EQ(RegisteredNames(), (std::vector<std::string>{"DirectSound", "Null"}));
}

}  // namespace
