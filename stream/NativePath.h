// File names between framework strings (UTF-16) and the operating system's
// byte strings (UTF-8 on Linux). The rules are the runtime's
// (runtime/NativeText.h), so names decoded at start-up and here agree:
//
// The runtime's UTF-8 conversion encodes each unit on its own, which would
// turn a character outside the 16-bit range (a surrogate pair) into two
// invalid 3-byte sequences. File names are converted here instead:
// - a surrogate pair becomes its 4-byte UTF-8 sequence and back;
// - bytes that are not valid UTF-8 (Linux names are arbitrary bytes) become
//   the lone units U+DC80..U+DCFF and are written back as the same bytes, so
//   every name read from a directory reopens the same file;
// - other lone surrogates use their 3-byte form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

/// The bytes to hand to the system; nullopt when the name holds a 0 unit,
/// which no system name can (the name would silently be cut short).
std::optional<std::string> NativePath(String* path);
Ref<String> PathFromNative(std::string_view bytes);

}  // namespace vrl
