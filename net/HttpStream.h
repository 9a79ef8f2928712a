// The "http" URL protocol: "http::host/resource" sends an HTTP/1.0 GET for
// the resource (for "/" when the path has no "/") with a Host line naming
// the host, skips the status line and the headers, and gives the connection
// as a stream standing at the first byte of the body. The status code is not
// examined. The host may carry a port ("http::host:8080/x"); without one the
// server is asked at port 80.
//
// The response is hostile input. The open gives Null when
// - a status or header line is longer than kHttpMaxLine (8 KiB),
// - the status line and headers come to more than kHttpMaxHeaders (64 KiB),
//   which also ends a server that sends headers forever,
// - the headers have not ended within HttpHeaderTimeout() milliseconds of
//   the request (15000 unless changed with SetHttpHeaderTimeout), so a
//   server that accepts and never answers, or drips its headers, cannot
//   hang the caller.
// Connecting has its own bound (SocketConnectTimeout(), net/Socket.h).
#pragma once

#include <cstdint>

#include "runtime/Limits.h"
#include "stream/Stream.h"

namespace vrl {

class THTTPStreamFactory : public TStreamFactory {
  VRL_CLASS(THTTPStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

inline constexpr int32_t kHttpMaxLine = limits::kHttpLine;
inline constexpr int32_t kHttpMaxHeaders = limits::kHttpHeaderBytes;

int32_t HttpHeaderTimeout();
void SetHttpHeaderTimeout(int32_t milliseconds);

/// Reads and discards lines (the status line and the headers) until the
/// stream is at its end or an empty line has been read, leaving the stream at
/// the first byte after it. Lines end at a line feed or a 0 byte; carriage
/// returns are dropped. True when the headers ended within the limits above;
/// false when a line or the whole grew too long or, for a socket stream, the
/// timeout (milliseconds from the call) passed first.
bool SkipHttpHeaders(TStream* stream, int32_t timeout);

namespace httpstream {
/// Registers the class and enrols the "http" factory.
void Init();
}  // namespace httpstream

}  // namespace vrl
