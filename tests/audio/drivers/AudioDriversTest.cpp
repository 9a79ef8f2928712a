// The table of audio back-ends: initialising it registers exactly its
// drivers, in its order, after the Null driver.
#include "audio/drivers/AudioDrivers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
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
  // Each back-end's name comes in table order, newest first; a back-end
  // that registers several drivers lists the others right after its name.
  const std::vector<std::string> names = RegisteredNames();
  auto at = names.begin();
  for (const std::string& name : fromTable) {
    at = std::find(at, names.end(), name);
    EXPECT_NE(at, names.end()) << name;
  }
  EXPECT_EQ(names.back(), "Null");
  // DirectSound first, then the mixer's three drivers, each under its own
  // name; any later back-end lists before them.
  const std::vector<std::string> oldest = {"Aurimix", "Aurimix Multimedia", "Aurimix DirectSound",
                                           "DirectSound", "Null"};
  ASSERT_GE(names.size(), oldest.size());
  EXPECT_EQ(std::vector<std::string>(names.end() - std::ptrdiff_t(oldest.size()), names.end()), oldest);
  EXPECT_EQ(AudioBackends()[0].name, std::string("DirectSound"));
  EXPECT_EQ(AudioBackends()[1].name, std::string("Aurimix"));
  // OpenAL last, registered when its library opens (it is installed here).
  EXPECT_EQ(AudioBackends()[2].name, std::string("OpenAL"));
  EXPECT_EQ(names.front(), "OpenAL");
}

}  // namespace
