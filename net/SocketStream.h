// A stream over a connected socket, and the "tcp" URL protocol:
// "tcp::host:port" opens a raw connected stream, "tcp::host" connects to
// port 80.
//
// The stream has no position or size (Pos -1): readers stop at Eof, which
// turns 1 once the peer has closed and everything it sent has been read. Read
// and Write block as the socket's Recv and Send do; connecting gives up after
// SocketConnectTimeout() (net/Socket.h).
#pragma once

#include <cstdint>

#include "net/Socket.h"
#include "stream/Stream.h"

namespace vrl {

class TSocketStream : public TStream {
  VRL_CLASS(TSocketStream, TStream)
  /// Recv and Send with flags 0; 0 once the stream is closed.
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  /// 1 when the socket is Null; 0 while it is connected; otherwise (the peer
  /// has closed and nothing is left to read) closes the stream and gives 1.
  int32_t Eof() override;
  /// Closes the socket when the stream owns it, then drops it; returns 0.
  int32_t Close() override;
  /// The socket, Null once the stream is closed.
  virtual TSocket* Socket();

  /// A stream over `socket` (Null for a Null socket); with autoClose 1 the
  /// stream's Close closes the socket.
  static Ref<TSocketStream> Create(TSocket* socket, int32_t autoClose);
  /// Connects to HostIp(host, 0) at `port` over a new TCP socket that the
  /// stream owns; Null when the name does not resolve or the connection fails.
  static Ref<TSocketStream> CreateClient(String* host, int32_t port);

 private:
  Ref<TSocket> _socket;
  int32_t _autoClose = 0;
};

/// "tcp": the path is host:port, or host for port 80. Other protocols: Null.
class TSocketStreamFactory : public TStreamFactory {
  VRL_CLASS(TSocketStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

/// The port of a "host:port" text: the digits after the colon, 0..65535; -1
/// when they are missing, not all digits or out of range. `host` receives the
/// text before the colon. Without a colon: `defaultPort`, host the whole text.
int32_t SplitHostPort(String* text, int32_t defaultPort, Ref<String>& host);

namespace socketstream {
/// Registers the classes and enrols the "tcp" factory.
void Init();
}  // namespace socketstream

}  // namespace vrl
