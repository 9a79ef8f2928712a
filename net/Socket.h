// IPv4 sockets (TCP and UDP) as framework objects, over the POSIX socket
// calls.
//
// Addresses are Ints in host byte order, the first dotted component in the
// top byte (net/Host.h). Nothing here throws: every operation reports failure
// by its result (0, Null). A socket belongs to one thread.
//
// Blocking and timeouts:
// - Connect gives up after SocketConnectTimeout() milliseconds (10000 unless
//   changed with SetSocketConnectTimeout), so a peer that never answers the
//   connection request cannot hang the caller.
// - Accept waits at most its `timeout` (a negative timeout counts as 0).
// - Send and Recv block as the system's calls do.
// - Send never raises SIGPIPE: a write to a peer that has closed is a failed
//   send (0), not the end of the program.
//
// Ownership: a socket made with autoClose 1 (CreateTCP, CreateUDP, Accept)
// owns its descriptor. Close releases it; so does freeing the object, so an
// owning socket that is dropped without Close does not leak the descriptor.
#pragma once

#include <cstdint>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

class TSocket : public Object {
  VRL_CLASS(TSocket, Object)
  ~TSocket() override;

  /// One send or receive with the system's `flags`; the bytes moved, 0 on an
  /// error (and 0 from Recv when the peer has closed).
  virtual int32_t Send(const void* buf, int32_t count, int32_t flags);
  virtual int32_t Recv(void* buf, int32_t count, int32_t flags);
  /// Nothing for a closed socket; otherwise closes the descriptor when the
  /// socket owns it and sets the descriptor and the four address fields to -1.
  virtual void Close();
  /// 0 for a closed socket. Otherwise a readability test that does not wait:
  /// not readable, or readable with bytes waiting, is connected (1); readable
  /// with nothing waiting means the peer has closed: Close and 0.
  virtual int32_t Connected();
  /// Any local address at `port` (0: one the system picks); 1 on success, then
  /// the local name is refreshed.
  virtual int32_t Bind(int32_t port);
  /// 1 on success, then both names are refreshed; 0 on failure or after the
  /// connect timeout (above). For UDP it sets the default peer.
  virtual int32_t Connect(int32_t ip, int32_t port);
  virtual int32_t Listen(int32_t backlog);
  /// Waits up to `timeout` milliseconds for a pending connection: a new
  /// owning TSocket for it, or Null.
  virtual Ref<TSocket> Accept(int32_t timeout);
  /// Bytes waiting to be read; 0 on error.
  virtual int32_t ReadAvail();
  /// Sets TCP_NODELAY; 1 on success.
  virtual int32_t SetTCPNoDelay(int32_t enable);
  /// The descriptor, -1 once closed.
  virtual int32_t Socket();
  virtual int32_t LocalIp();
  virtual int32_t LocalPort();
  virtual int32_t RemoteIp();
  virtual int32_t RemotePort();
  /// Ask the system; on failure the address and port become 0.
  virtual void UpdateLocalName();
  virtual void UpdateRemoteName();

  /// Wraps an existing descriptor (Null for a negative one) and refreshes both
  /// names. With autoClose 1 the socket owns the descriptor.
  static Ref<TSocket> Create(int32_t socket, int32_t autoClose);
  /// New owning IPv4 sockets; Null when the system refuses.
  static Ref<TSocket> CreateUDP();
  static Ref<TSocket> CreateTCP();

 private:
  int32_t _socket = -1;
  int32_t _autoClose = 0;
  int32_t _localIp = 0;
  int32_t _localPort = 0;
  int32_t _remoteIp = 0;
  int32_t _remotePort = 0;
};

/// Never thrown by the socket layer itself (it reports by results); callers
/// that want an exception for a failed socket operation throw it.
class TSocketException : public Object {
  VRL_CLASS(TSocketException, Object)
  Ref<String> ToString() override;  // "Internal socket error"
};

/// The connect timeout in milliseconds (at least 1).
int32_t SocketConnectTimeout();
void SetSocketConnectTimeout(int32_t milliseconds);

/// Waits up to `timeout` milliseconds until `socket` is readable (data, a
/// pending connection, or the peer's close). False on timeout, for a Null or
/// closed socket, and on error.
bool SocketWaitReadable(TSocket* socket, int32_t timeout);

/// The module functions: each forwards to the TSocket method of its name with
/// the socket as first argument (a Null socket throws TNullObjectException).
Ref<TSocket> CreateUDPSocket();
Ref<TSocket> CreateTCPSocket();
int32_t SendSocket(TSocket* socket, const void* buf, int32_t count, int32_t flags = 0);
int32_t RecvSocket(TSocket* socket, void* buf, int32_t count, int32_t flags = 0);
void CloseSocket(TSocket* socket);
int32_t SocketConnected(TSocket* socket);
int32_t BindSocket(TSocket* socket, int32_t port);
int32_t ConnectSocket(TSocket* socket, int32_t ip, int32_t port);
int32_t SocketListen(TSocket* socket, int32_t backlog);
Ref<TSocket> SocketAccept(TSocket* socket, int32_t timeout);
int32_t SocketReadAvail(TSocket* socket);
int32_t SetTCPNoDelay(TSocket* socket, int32_t enable);
int32_t SocketHandle(TSocket* socket);
int32_t SocketLocalIp(TSocket* socket);
int32_t SocketLocalPort(TSocket* socket);
int32_t SocketRemoteIp(TSocket* socket);
int32_t SocketRemotePort(TSocket* socket);
void UpdateSocketLocalName(TSocket* socket);
void UpdateSocketRemoteName(TSocket* socket);

namespace sockets {
/// Registers the socket classes.
void Init();
}  // namespace sockets

}  // namespace vrl
