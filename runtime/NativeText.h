// Names between framework strings (UTF-16) and the operating system's byte
// strings (UTF-8 on Linux), for the names that the runtime itself exchanges
// with the system: the directories and the program file of start-up.
//
// The file layer converts names through these functions too
// (stream/NativePath.h), so that a name decoded here opens the same file
// there:
// - a surrogate pair becomes its 4-byte UTF-8 sequence and back;
// - bytes that are not valid UTF-8 (Linux names are arbitrary bytes) become
//   the lone units U+DC80..U+DCFF and are written back as the same bytes;
// - other lone surrogates use their 3-byte form.
// String::FromUtf8 and ToUtf8 are not used for names: they encode each unit
// on its own and refuse characters outside the 16-bit range.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

/// The bytes to hand to the system; nullopt when the text holds a 0 unit,
/// which no system name can (the name would silently be cut short). nullptr
/// reads as the empty string.
std::optional<std::string> NativeText(String* text);
Ref<String> TextFromNative(std::string_view bytes);

}  // namespace vrl
