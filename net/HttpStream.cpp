#include "net/HttpStream.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "net/SocketStream.h"
#include "runtime/ClassRecord.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& THTTPStreamFactory::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<THTTPStreamFactory>("THTTPStreamFactory", [](auto& d) {
    d.template Method<&THTTPStreamFactory::CreateStream>("CreateStream");
  });
  return record;
}

void httpstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  socketstream::Init();
  vrRegisterClass(THTTPStreamFactory::StaticClass());
  New<THTTPStreamFactory>();
}

namespace {

int32_t gHeaderTimeout = limits::kHttpHeaderTimeoutMs;

using Clock = std::chrono::steady_clock;

}  // namespace

int32_t HttpHeaderTimeout() { return gHeaderTimeout; }
void SetHttpHeaderTimeout(int32_t milliseconds) { gHeaderTimeout = std::max(milliseconds, 1); }

bool SkipHttpHeaders(TStream* stream, int32_t timeout) {
  Ref<TStream> held(stream);
  auto* socketStream = CastRaw<TSocketStream>(stream);
  TSocket* socket = socketStream ? socketStream->Socket() : nullptr;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  // Waits for the next bytes of a socket, within what is left of the time.
  auto ready = [&]() {
    if (!socket) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    return SocketWaitReadable(socket, static_cast<int32_t>(left));
  };
  // The next piece of a line, never past its end so that the stream stops
  // right after the headers: from a socket, what has arrived up to the first
  // line end (looked at with MSG_PEEK, then taken), otherwise one byte.
  // Never more than `room` bytes. 0 at the end of the data.
  uint8_t piece[4096];
  auto next = [&](int32_t room) -> int32_t {
    if (!socket) return held->Read(piece, 1);
    int32_t want = std::min<int32_t>(room, sizeof piece);
    int32_t seen = socket->Recv(piece, want, MSG_PEEK);
    if (seen <= 0) return 0;
    auto* end = std::find_if(piece, piece + seen, [](uint8_t b) { return b == 0 || b == 10; });
    int32_t take = end == piece + seen ? seen : static_cast<int32_t>(end - piece) + 1;
    return socket->Recv(piece, take, 0);
  };
  int32_t total = 0;
  while (!held->Eof()) {
    int32_t length = 0;
    bool ended = false;
    while (!ended) {
      if (!ready()) return false;
      int32_t got = next(kHttpMaxHeaders + 1 - total);
      if (got <= 0) break;  // the end of the data ends the line
      for (int32_t i = 0; i < got; ++i) {
        if (++total > kHttpMaxHeaders) return false;
        uint8_t byte = piece[i];
        if (byte == 0 || byte == 10) {
          ended = true;
          break;
        }
        if (byte == 13) continue;
        if (++length > kHttpMaxLine) return false;
      }
    }
    if (length == 0) break;
  }
  return true;
}

Ref<TStream> THTTPStreamFactory::CreateStream(Object*, String* proto, String* path, int32_t, int32_t) {
  if (CompareStrings(proto, u"http"_vs) != 0) return {};
  Ref<String> whole(path);
  int32_t slash = whole->Find(u"/"_vs);
  Ref<String> host = slash < 0 ? whole : vrSliceString(whole, 0, slash);
  Ref<String> resource = slash < 0 ? Ref<String>(u"/"_vs) : vrSliceString(whole, slash, whole->Length());
  Ref<String> name;
  int32_t port = SplitHostPort(host, 80, name);
  if (port < 0) return {};
  Ref<TSocketStream> stream = TSocketStream::CreateClient(name, port);
  if (!stream) return {};
  bool sent = stream->WriteLine(vrConcatStrings(vrConcatStrings(u"GET "_vs, resource), u" HTTP/1.0"_vs)) &&
              stream->WriteLine(vrConcatStrings(u"Host: "_vs, host)) && stream->WriteLine(u""_vs);
  if (!sent || !SkipHttpHeaders(stream, gHeaderTimeout)) {
    stream->Close();
    return {};
  }
  return stream;
}

}  // namespace vrl
