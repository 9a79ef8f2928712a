#include "stream/StandardIO.h"

#include <cstdio>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

namespace vrl {

VRL_CLASS_RECORD(TCStandardIO, "TCStandardIO")

namespace {

// Never destroyed: end handlers may still print.
Ref<TTextStream>& StandardIO() {
  static auto* stream = new Ref<TTextStream>;
  return *stream;
}

}  // namespace

void standardio::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  textstream::Init();
  vrRegisterClass(TCStandardIO::StaticClass());
  StandardIO() = TTextStream::Create(New<TCStandardIO>(), TTextStream::UTF8);
}

int32_t TCStandardIO::Read(void* buf, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(std::fread(buf, 1, std::size_t(count), stdin));
}

int32_t TCStandardIO::Write(const void* buf, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(std::fwrite(buf, 1, std::size_t(count), stdout));
}

int32_t TCStandardIO::Flush() { return std::fflush(stdout) == 0 ? 0 : -1; }

TTextStream* StandardIOStream() { return StandardIO().get(); }

void Print(String* s) {
  StandardIO()->WriteLine(s);
  StandardIO()->Flush();
}

Ref<String> Input(String* prompt) {
  StandardIO()->WriteString(prompt);
  StandardIO()->Flush();
  return StandardIO()->ReadLine();
}

}  // namespace vrl
