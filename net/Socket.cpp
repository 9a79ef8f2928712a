#include "net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "runtime/ClassRecord.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TSocket::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSocket>("TSocket", [](auto& d) {
    d.template Field<&TSocket::_socket>("_socket");
    d.template Field<&TSocket::_autoClose>("_autoClose");
    d.template Field<&TSocket::_localIp>("_localIp");
    d.template Field<&TSocket::_localPort>("_localPort");
    d.template Field<&TSocket::_remoteIp>("_remoteIp");
    d.template Field<&TSocket::_remotePort>("_remotePort");
    // Send and Recv take raw buffers: declared, and skipped by reflection.
    d.template Method<&TSocket::Send>("Send");
    d.template Method<&TSocket::Recv>("Recv");
    d.template Method<&TSocket::Close>("Close");
    d.template Method<&TSocket::Connected>("Connected");
    d.template Method<&TSocket::Bind>("Bind");
    d.template Method<&TSocket::Connect>("Connect");
    d.template Method<&TSocket::Listen>("Listen");
    d.template Method<&TSocket::Accept>("Accept");
    d.template Method<&TSocket::ReadAvail>("ReadAvail");
    d.template Method<&TSocket::SetTCPNoDelay>("SetTCPNoDelay");
    d.template Method<&TSocket::Socket>("Socket");
    d.template Method<&TSocket::LocalIp>("LocalIp");
    d.template Method<&TSocket::LocalPort>("LocalPort");
    d.template Method<&TSocket::RemoteIp>("RemoteIp");
    d.template Method<&TSocket::RemotePort>("RemotePort");
    d.template Method<&TSocket::UpdateLocalName>("UpdateLocalName");
    d.template Method<&TSocket::UpdateRemoteName>("UpdateRemoteName");
    d.template Function<&TSocket::Create>("Create");
    d.template Function<&TSocket::CreateUDP>("CreateUDP");
    d.template Function<&TSocket::CreateTCP>("CreateTCP");
  });
  return record;
}

const ClassRecord& TSocketException::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSocketException>(
      "TSocketException", [](auto& d) { d.template Method<&TSocketException::ToString>("ToString"); });
  return record;
}

void sockets::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  vrRegisterClass(TSocket::StaticClass());
  vrRegisterClass(TSocketException::StaticClass());
}

namespace {

int32_t gConnectTimeout = limits::kSocketConnectTimeoutMs;

using Clock = std::chrono::steady_clock;

// The address of an IPv4 socket address as an Int, first byte on top.
int32_t IpOf(const sockaddr_in& address) { return static_cast<int32_t>(ntohl(address.sin_addr.s_addr)); }
int32_t PortOf(const sockaddr_in& address) { return ntohs(address.sin_port); }

sockaddr_in AddressOf(int32_t ip, int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(static_cast<uint32_t>(ip));
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// poll() for one descriptor, retried after signals until `timeout`
// milliseconds have passed in all. The events seen, 0 on timeout, -1 on error.
int PollFor(int fd, short events, int32_t timeout) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, events, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::max<int64_t>(left, 0)));
    if (ready > 0) return entry.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

int32_t SocketConnectTimeout() { return gConnectTimeout; }
void SetSocketConnectTimeout(int32_t milliseconds) { gConnectTimeout = std::max(milliseconds, 1); }

bool SocketWaitReadable(TSocket* socket, int32_t timeout) {
  if (!socket || socket->Socket() < 0) return false;
  int events = PollFor(socket->Socket(), POLLIN, timeout);
  return events > 0;
}

TSocket::~TSocket() {
  // Freeing an owning socket releases its descriptor (Close is idempotent).
  if (_autoClose) TSocket::Close();
}

Ref<TSocket> TSocket::Create(int32_t socket, int32_t autoClose) {
  if (socket < 0) return {};
  Ref<TSocket> result = New<TSocket>();
  result->_socket = socket;
  result->_autoClose = autoClose;
  result->UpdateLocalName();
  result->UpdateRemoteName();
  return result;
}

Ref<TSocket> TSocket::CreateUDP() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return Create(fd, 1);
}

Ref<TSocket> TSocket::CreateTCP() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return Create(fd, 1);
}

int32_t TSocket::Send(const void* buf, int32_t count, int32_t flags) {
  if (_socket < 0 || count <= 0 || !buf) return 0;
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone is a failed send, not SIGPIPE.
    ssize_t sent = ::send(_socket, buf, static_cast<size_t>(count), flags | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int32_t>(sent);
    if (errno != EINTR) return 0;
  }
}

int32_t TSocket::Recv(void* buf, int32_t count, int32_t flags) {
  if (_socket < 0 || count <= 0 || !buf) return 0;
  for (;;) {
    ssize_t got = ::recv(_socket, buf, static_cast<size_t>(count), flags);
    if (got >= 0) return static_cast<int32_t>(got);
    if (errno != EINTR) return 0;
  }
}

void TSocket::Close() {
  if (_socket < 0) return;
  if (_autoClose) ::close(_socket);
  _socket = -1;
  _localIp = _localPort = _remoteIp = _remotePort = -1;
}

int32_t TSocket::Connected() {
  if (_socket < 0) return 0;
  int events = PollFor(_socket, POLLIN, 0);
  if (events <= 0) return 1;  // not readable (an error of poll itself proves nothing)
  if (ReadAvail() > 0) return 1;
  Close();
  return 0;
}

int32_t TSocket::Bind(int32_t port) {
  if (_socket < 0 || port < 0 || port > 65535) return 0;
  sockaddr_in address = AddressOf(0, port);  // INADDR_ANY is 0
  if (::bind(_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
  UpdateLocalName();
  return 1;
}

int32_t TSocket::Connect(int32_t ip, int32_t port) {
  if (_socket < 0 || port < 0 || port > 65535) return 0;
  sockaddr_in address = AddressOf(ip, port);
  // Connect without blocking and wait for the outcome with a bound, so a
  // peer that drops the request cannot hold the caller for minutes.
  int flags = fcntl(_socket, F_GETFL);
  if (flags < 0 || fcntl(_socket, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
  bool connected = ::connect(_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
    int events = PollFor(_socket, POLLOUT, gConnectTimeout);
    int error = 0;
    socklen_t length = sizeof error;
    connected = events > 0 && getsockopt(_socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  fcntl(_socket, F_SETFL, flags);
  if (!connected) return 0;
  UpdateLocalName();
  UpdateRemoteName();
  return 1;
}

int32_t TSocket::Listen(int32_t backlog) {
  if (_socket < 0) return 0;
  return ::listen(_socket, backlog) == 0 ? 1 : 0;
}

Ref<TSocket> TSocket::Accept(int32_t timeout) {
  if (_socket < 0) return {};
  int events = PollFor(_socket, POLLIN, timeout);
  if (events <= 0) return {};
  // The connection can vanish between the poll and the accept; a
  // non-blocking accept then fails instead of waiting for the next one.
  int flags = fcntl(_socket, F_GETFL);
  if (flags < 0 || fcntl(_socket, F_SETFL, flags | O_NONBLOCK) != 0) return {};
  int fd = -1;
  do {
    fd = ::accept4(_socket, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  fcntl(_socket, F_SETFL, flags);
  return Create(fd, 1);
}

int32_t TSocket::ReadAvail() {
  if (_socket < 0) return 0;
  int waiting = 0;
  if (ioctl(_socket, FIONREAD, &waiting) != 0) return 0;
  return waiting;
}

int32_t TSocket::SetTCPNoDelay(int32_t enable) {
  if (_socket < 0) return 0;
  int value = enable ? 1 : 0;
  return setsockopt(_socket, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0 ? 1 : 0;
}

int32_t TSocket::Socket() { return _socket; }
int32_t TSocket::LocalIp() { return _localIp; }
int32_t TSocket::LocalPort() { return _localPort; }
int32_t TSocket::RemoteIp() { return _remoteIp; }
int32_t TSocket::RemotePort() { return _remotePort; }

void TSocket::UpdateLocalName() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (_socket >= 0 && getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      address.sin_family == AF_INET) {
    _localIp = IpOf(address);
    _localPort = PortOf(address);
  } else {
    _localIp = _localPort = 0;
  }
}

void TSocket::UpdateRemoteName() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (_socket >= 0 && getpeername(_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      address.sin_family == AF_INET) {
    _remoteIp = IpOf(address);
    _remotePort = PortOf(address);
  } else {
    _remoteIp = _remotePort = 0;
  }
}

Ref<String> TSocketException::ToString() { return u"Internal socket error"_vs; }

namespace {
TSocket& Checked(TSocket* socket) { return *Ref<TSocket>(socket); }
}  // namespace

Ref<TSocket> CreateUDPSocket() { return TSocket::CreateUDP(); }
Ref<TSocket> CreateTCPSocket() { return TSocket::CreateTCP(); }
int32_t SendSocket(TSocket* socket, const void* buf, int32_t count, int32_t flags) {
  return Checked(socket).Send(buf, count, flags);
}
int32_t RecvSocket(TSocket* socket, void* buf, int32_t count, int32_t flags) {
  return Checked(socket).Recv(buf, count, flags);
}
void CloseSocket(TSocket* socket) { Checked(socket).Close(); }
int32_t SocketConnected(TSocket* socket) { return Checked(socket).Connected(); }
int32_t BindSocket(TSocket* socket, int32_t port) { return Checked(socket).Bind(port); }
int32_t ConnectSocket(TSocket* socket, int32_t ip, int32_t port) { return Checked(socket).Connect(ip, port); }
int32_t SocketListen(TSocket* socket, int32_t backlog) { return Checked(socket).Listen(backlog); }
Ref<TSocket> SocketAccept(TSocket* socket, int32_t timeout) { return Checked(socket).Accept(timeout); }
int32_t SocketReadAvail(TSocket* socket) { return Checked(socket).ReadAvail(); }
int32_t SetTCPNoDelay(TSocket* socket, int32_t enable) { return Checked(socket).SetTCPNoDelay(enable); }
int32_t SocketHandle(TSocket* socket) { return Checked(socket).Socket(); }
int32_t SocketLocalIp(TSocket* socket) { return Checked(socket).LocalIp(); }
int32_t SocketLocalPort(TSocket* socket) { return Checked(socket).LocalPort(); }
int32_t SocketRemoteIp(TSocket* socket) { return Checked(socket).RemoteIp(); }
int32_t SocketRemotePort(TSocket* socket) { return Checked(socket).RemotePort(); }
void UpdateSocketLocalName(TSocket* socket) { Checked(socket).UpdateLocalName(); }
void UpdateSocketRemoteName(TSocket* socket) { Checked(socket).UpdateRemoteName(); }

}  // namespace vrl
