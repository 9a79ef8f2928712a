// The process's standard input and output as a stream, and the console
// print-line and input functions built on it.
#pragma once

#include <cstdint>

#include "stream/Stream.h"
#include "stream/TextStream.h"

namespace vrl {

/// Read takes bytes from standard input, Write puts them on standard output,
/// Flush flushes standard output. It has no position or size.
class TCStandardIO : public TStream {
  VRL_CLASS(TCStandardIO, TStream)
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  int32_t Flush() override;
};

/// A UTF-8 text stream over a TCStandardIO, created by standardio::Init and
/// never closed (Null before that).
TTextStream* StandardIOStream();

/// WriteLine to the standard IO stream, then Flush.
void Print(String* s);
/// Writes the prompt, flushes, and reads one line (the empty string at the end
/// of input).
Ref<String> Input(String* prompt);

namespace standardio {
void Init();
}  // namespace standardio

}  // namespace vrl
