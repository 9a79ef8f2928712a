#include "runtime/Console.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/String.h"

namespace vrl {

namespace {

void WriteNarrow(String* text, std::FILE* out) {
  if (text) {
    std::string bytes = text->ToNarrow();
    std::fwrite(bytes.data(), 1, bytes.size(), out);
  }
  std::fflush(out);
}

// Lines are read in chunks of this many characters.
constexpr int kChunk = 255;

}  // namespace

void vrWriteStdout(String* text) { WriteNarrow(text, stdout); }
void vrWriteStderr(String* text) { WriteNarrow(text, stderr); }

Ref<String> ReadLineFrom(std::FILE* in) {
  std::string line;
  char chunk[kChunk + 1];
  while (std::fgets(chunk, sizeof chunk, in)) {
    line.append(chunk, std::strlen(chunk));
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      if (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
      break;
    }
  }
  return String::FromNarrow(line);
}

Ref<String> vrReadStdinLine() { return ReadLineFrom(stdin); }

uint32_t vrMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void vrDelay(int32_t ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  // A signal (a thread suspension among them) interrupts the sleep: sleep on
  // for the rest.
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

}  // namespace vrl
