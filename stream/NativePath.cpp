#include "stream/NativePath.h"

#include "runtime/NativeText.h"

namespace vrl {

// One conversion for every name the framework hands to the system: the
// runtime's, which start-up already uses for the program's own paths.
std::optional<std::string> NativePath(String* path) { return NativeText(path); }

Ref<String> PathFromNative(std::string_view bytes) { return TextFromNative(bytes); }

}  // namespace vrl
