// libFuzzer target: arbitrary bytes as the response of an HTTP server, read by
// the HTTP header reader that the "http" URL protocol uses. The bytes are read
// twice: from a memory stream, and from a socket stream over a local socket
// pair whose other end sends them and closes. The reader may refuse (a line or
// the whole too long); it must never read out of bounds or without end, both
// readings must agree, and what the socket stream gives after the headers must
// be exactly the bytes after the point where the memory stream stopped.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/HttpStream.h"
#include "net/SocketStream.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::ramstream::Init();
  vrl::httpstream::Init();
  return 0;
}

namespace {

// The socket reader's time in milliseconds. Every byte is in the socket
// before it reads and the other end is closed, so no read waits: the time
// only has to outlast a starved process. It is longer than libFuzzer's
// time-out for an input (fuzz.sh: 10 s), which still catches a reader that
// never ends.
constexpr int32_t kSocketTimeout = 30000;

// Sends all of `data` into `fd` without blocking; false when it does not fit
// into the socket's buffer.
bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 0x7fffffff) return 0;
  std::vector<uint8_t> input(data, data + size);
  int32_t stop = -1;
  bool accepted = false;
  {
    Ref<TStream> memory = CreateRamStream(input.data(), static_cast<int32_t>(size), 1, 0);
    accepted = SkipHttpHeaders(memory, 1000);
    stop = memory->Pos();
    if (stop < 0 || stop > static_cast<int32_t>(size)) __builtin_trap();
    // Refused or not, the reader never takes more than the limit and a byte.
    if (stop > kHttpMaxHeaders + 1) __builtin_trap();
    // Accepted in the middle of the data: it stopped right after a line's end.
    if (accepted && stop < static_cast<int32_t>(size) && stop > 0 && input[stop - 1] != '\n' &&
        input[stop - 1] != 0)
      __builtin_trap();
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  int buffer = 1 << 20;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  bool sent = SendAll(pair[0], input.data(), size);
  close(pair[0]);
  if (sent) {
    Ref<TSocketStream> stream = TSocketStream::Create(TSocket::Create(pair[1], 1), 1);
    if (SkipHttpHeaders(stream, kSocketTimeout) != accepted) __builtin_trap();
    if (accepted) {
      Ref<Array> body = ReadAllBytes(stream);
      if (body->Length() != static_cast<int32_t>(size) - stop) __builtin_trap();
      if (body->Length() > 0 &&
          std::memcmp(body->Data(), input.data() + stop, size - static_cast<size_t>(stop)) != 0)
        __builtin_trap();
    }
    stream->Close();
  } else {
    close(pair[1]);
  }
  GCCollect();
  return 0;
}
