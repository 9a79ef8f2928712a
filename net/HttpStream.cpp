#include "net/HttpStream.h"

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
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  // Waits for the next byte of a socket, within what is left of the time.
  auto ready = [&]() {
    if (!socketStream || !socketStream->Socket()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    return SocketWaitReadable(socketStream->Socket(), static_cast<int32_t>(left));
  };
  int32_t total = 0;
  while (!held->Eof()) {
    // One line, byte by byte, so that the stream stops right after it.
    int32_t length = 0;
    for (;;) {
      if (!ready()) return false;
      uint8_t byte = 0;
      if (held->Read(&byte, 1) != 1) break;  // the end of the data ends the line
      if (++total > kHttpMaxHeaders) return false;
      if (byte == 0 || byte == 10) break;
      if (byte == 13) continue;
      if (++length > kHttpMaxLine) return false;
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
