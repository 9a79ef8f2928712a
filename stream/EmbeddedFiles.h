// The registry of embedded files: named byte blocks linked into the program
// (cmake/EmbedFiles.cmake compiles them in and generates the function that
// registers them). They are opened read-only as "incbin::name" URLs
// (stream/RamStream.h).
//
// Entries are never removed and their bytes are read in place: the data must
// stay valid and unchanged for the whole run (program image data does). Names
// compare exactly, unit by unit; the first registration of a name wins.
// Register from the main thread, before other modules initialise.
#pragma once

#include <cstdint>

#include "runtime/String.h"

namespace vrl {

/// 1 when added; 0 (and nothing changes) when the name is registered already
/// or the size is negative.
int32_t AddEmbeddedFile(String* name, const void* data, int32_t size);
/// The bytes of the entry named `name`, or nullptr.
const uint8_t* EmbeddedFilePointer(String* name);
/// Its size in bytes; 0 when there is none.
int32_t EmbeddedFileLength(String* name);

}  // namespace vrl
