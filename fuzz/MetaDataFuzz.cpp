// libFuzzer target: arbitrary text as metadata, looked up by the keys that
// the text itself names and by a few fixed ones, and as a member's type tag
// through the tag-to-type conversion. A lookup may answer a value or throw
// "Malformed meta data"; it must never read out of bounds, loop or leak, and
// a value it answers is always a piece of the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "script/Reflection.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::reflection::Init();
  return 0;
}

namespace {

void LookUp(vrl::String* meta, vrl::String* key) {
  try {
    vrl::Ref<vrl::String> value = vrl::MetaDataValue(meta, key);
    if (value->Length() > 0 && meta->View().find(value->View()) == std::u16string_view::npos)
      __builtin_trap();
  } catch (const vrl::ThrownObject& e) {
    if (std::string_view(e.what()) != "Malformed meta data") __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 1024) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  {
    Ref<String> meta = String::FromByteBuffer(data, static_cast<int32_t>(size));
    for (const char* key : {"", "a", "name", "\""}) LookUp(meta, String::FromNarrow(key));
    // The text before each of the first "="s is a key that may match (a
    // lookup costs the length of the text; more keys only slow the run).
    int keys = 0;
    for (std::size_t eq = text.find('='); eq != std::string_view::npos && keys++ < 16;
         eq = text.find('=', eq + 1)) {
      std::size_t start = text.rfind(' ', eq);
      start = start == std::string_view::npos ? 0 : start + 1;
      if (start < eq) LookUp(meta, String::FromNarrow(text.substr(start, eq - start)));
    }
    try {
      Ref<TTypeId> type = TypeIdForTag(text);
      if (!type.IsNull()) TypeTagForId(type);
    } catch (const ThrownObject&) {
      // "ERROR" for a type without a tag: allowed.
    }
  }
  GCCollect();
  return 0;
}
