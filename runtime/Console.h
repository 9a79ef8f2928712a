// The runtime's console and clock: 8-bit text on the standard streams, a
// millisecond counter and a sleep.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/Object.h"

namespace vrl {

class String;

/// Write the string as 8-bit characters (the low byte of each unit) and
/// flush. No line end is added.
void vrWriteStdout(String* text);
void vrWriteStderr(String* text);

/// Reads one line from standard input: the line feed is removed, and so is
/// one white-space character just before it (the carriage return of a CR LF
/// line end). An empty line, or end of input, gives the empty string; a last
/// line without a line feed is returned as it stands. Bytes become units
/// 0..255.
Ref<String> vrReadStdinLine();
/// The same on any stream.
Ref<String> ReadLineFrom(std::FILE* in);

/// A monotonic millisecond counter; it wraps after 2^32 ms.
uint32_t vrMilliseconds();
/// Sleeps `ms` milliseconds; zero or a negative value returns at once.
void vrDelay(int32_t ms);

}  // namespace vrl
