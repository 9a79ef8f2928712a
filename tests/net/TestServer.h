// A one-connection TCP server on 127.0.0.1 for the socket and HTTP tests. It
// runs on a thread of its own and uses the plain system calls only (framework
// objects belong to the test's thread). It accepts one connection, reads the
// request up to its empty line (unless told not to), sends the scripted reply, and then, as
// scripted, closes, keeps sending one chunk forever (until the peer goes),
// or waits for the peer to close.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace vrl::testing_support {

class TestServer {
 public:
  enum class Then { Close, RepeatForever, WaitForPeer };

  // With readRequest false the reply goes out as soon as the client
  // connects (for raw "tcp::" clients, which send nothing first).
  TestServer(std::string reply, Then then = Then::Close, std::string repeat = {}, bool readRequest = true)
      : _reply(std::move(reply)), _then(then), _repeat(std::move(repeat)), _readRequest(readRequest) {
    _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (_listener < 0 || ::bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(_listener, 4) != 0 ||
        getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    _port = ntohs(address.sin_port);
    _thread = std::thread([this] { Serve(); });
  }
  ~TestServer() {
    // Wakes an accept that no client will answer (a test that connected has
    // called Finish or no longer needs the server).
    if (_listener >= 0) ::shutdown(_listener, SHUT_RDWR);
    if (_thread.joinable()) _thread.join();
    if (_listener >= 0) ::close(_listener);
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return _port; }
  // What the client sent up to its first empty line (valid after the join,
  // that is once the server object is gone or Finish returned).
  const std::string& Request() const { return _request; }
  // Waits until the server has served its connection (one must have been
  // made: the connection may still wait in the listen queue).
  void Finish() {
    if (_thread.joinable()) _thread.join();
  }

 private:
  void Serve() {
    int fd = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    char byte = 0;
    // Up to the blank line; a client that sends no request is not waited for
    // beyond its close.
    while (_readRequest && _request.size() < 65536 && ::recv(fd, &byte, 1, 0) == 1) {
      _request += byte;
      if (_request.ends_with("\r\n\r\n")) break;
    }
    SendAll(fd, _reply);
    if (_then == Then::RepeatForever) {
      while (SendAll(fd, _repeat)) {
      }
    } else if (_then == Then::WaitForPeer) {
      while (::recv(fd, &byte, 1, 0) > 0) {
      }
    }
    ::close(fd);
  }
  static bool SendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t sent = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }

  std::string _reply;
  Then _then;
  std::string _repeat;
  bool _readRequest;
  int _listener = -1;
  int _port = 0;
  std::string _request;
  std::thread _thread;
};

}  // namespace vrl::testing_support
