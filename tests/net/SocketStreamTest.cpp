#include "net/SocketStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "net/Host.h"
#include "runtime/Runtime.h"
#include "tests/net/TestServer.h"

namespace vrl {
namespace {

using testing_support::TestServer;

constexpr int32_t kLoopback = (127 << 24) + 1;
constexpr int32_t kWait = 10000;

class SocketStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { socketstream::Init(); }
};

std::string ReadToEnd(TStream* stream) {
  Ref<Array> bytes = ReadAllBytes(stream);
  return {static_cast<const char*>(bytes->Data()), static_cast<std::size_t>(bytes->Length())};
}

TEST_F(SocketStreamTest, EofClosesTheStreamOnceThePeerHasClosedAndAllIsRead) {
  TestServer server("first line\r\nsecond\r\n");
  Ref<TSocketStream> stream = TSocketStream::CreateClient(u"127.0.0.1"_vs, server.Port());
  ASSERT_TRUE(stream);
  ASSERT_TRUE(stream->Socket());
  EXPECT_EQ(stream->Socket()->RemotePort(), server.Port());
  stream->WriteString(u"request\r\n\r\n"_vs);
  server.Finish();  // the reply is sent and the server's end is closed
  EXPECT_EQ(server.Request(), "request\r\n\r\n");

  EXPECT_EQ(stream->Pos(), -1);  // no position: readers stop at Eof
  EXPECT_EQ(stream->Eof(), 0);   // data waits: not the end yet
  EXPECT_EQ(stream->ReadLine()->ToUtf8String(), "first line");
  EXPECT_EQ(stream->ReadLine()->ToUtf8String(), "second");
  ASSERT_TRUE(SocketWaitReadable(stream->Socket(), kWait));
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_FALSE(stream->Socket());  // closed and dropped
  EXPECT_EQ(stream->Eof(), 1);
  char byte = 0;
  EXPECT_EQ(stream->Read(&byte, 1), 0);
  EXPECT_EQ(stream->Write("x", 1), 0);
  EXPECT_EQ(stream->Close(), 0);
}

TEST_F(SocketStreamTest, ReadAllBytesTakesEverythingUpToThePeersClose) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += static_cast<char>('a' + i % 26);
  TestServer server(body);
  Ref<TSocketStream> stream = TSocketStream::CreateClient(u"localhost"_vs, server.Port());
  ASSERT_TRUE(stream);
  stream->WriteString(u"\r\n\r\n"_vs);
  EXPECT_EQ(ReadToEnd(stream), body);
  // The copy ends at Eof or at a Read that moved nothing (the peer's close);
  // either way Eof now says so and drops the socket.
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_FALSE(stream->Socket());
}

TEST_F(SocketStreamTest, OnlyAnOwningStreamClosesItsSocket) {
  TestServer server("", TestServer::Then::WaitForPeer);
  Ref<TSocket> socket = TSocket::CreateTCP();
  ASSERT_EQ(socket->Connect(kLoopback, server.Port()), 1);
  Ref<TSocketStream> borrowing = TSocketStream::Create(socket, 0);
  ASSERT_TRUE(borrowing);
  borrowing->Close();
  EXPECT_FALSE(borrowing->Socket());
  EXPECT_GE(socket->Socket(), 0);  // still open
  Ref<TSocketStream> owning = TSocketStream::Create(socket, 1);
  owning->Close();
  EXPECT_EQ(socket->Socket(), -1);
  EXPECT_FALSE(TSocketStream::Create(nullptr, 1));
}

TEST_F(SocketStreamTest, TcpUrlsConnectToTheHostAndPortOfThePath) {
  TestServer server("pong");
  std::string url = "TCP::127.0.0.1:" + std::to_string(server.Port());
  Ref<TStream> stream = OpenStream(String::FromUtf8(url), 1, 1);
  ASSERT_TRUE(stream);
  ASSERT_TRUE(CastRaw<TSocketStream>(stream));
  stream->WriteString(u"ping\r\n\r\n"_vs);
  EXPECT_EQ(ReadToEnd(stream), "pong");
  server.Finish();
  EXPECT_EQ(server.Request(), "ping\r\n\r\n");
}

TEST_F(SocketStreamTest, BadTcpPathsGiveNull) {
  Ref<TSocket> quiet = TSocket::CreateTCP();
  ASSERT_EQ(quiet->Bind(0), 1);  // bound, not listening: refuses
  for (const std::string& path :
       {"127.0.0.1:" + std::to_string(quiet->LocalPort()), std::string("127.0.0.1:"),
        std::string("127.0.0.1:x80"), std::string("127.0.0.1:65536"), std::string("127.0.0.1:-1"),
        std::string("no-such-host.invalid:80"), std::string(":80"), std::string("")}) {
    EXPECT_FALSE(OpenStream(String::FromUtf8("tcp::" + path), 1, 1)) << path;
  }
}

TEST(SplitHostPort, ColonSeparatesHostAndPort) {
  Ref<String> host;
  EXPECT_EQ(SplitHostPort(u"example.org:8080"_vs, 80, host), 8080);
  EXPECT_EQ(host->ToUtf8String(), "example.org");
  EXPECT_EQ(SplitHostPort(u"example.org"_vs, 80, host), 80);
  EXPECT_EQ(host->ToUtf8String(), "example.org");
  EXPECT_EQ(SplitHostPort(u"h:0"_vs, 80, host), 0);
  EXPECT_EQ(SplitHostPort(u"h:65535"_vs, 80, host), 65535);
  EXPECT_EQ(SplitHostPort(u"h:65536"_vs, 80, host), -1);
  EXPECT_EQ(SplitHostPort(u"h:123456"_vs, 80, host), -1);
  EXPECT_EQ(SplitHostPort(u"h:1:2"_vs, 80, host), -1);
  EXPECT_EQ(SplitHostPort(u"h: 1"_vs, 80, host), -1);
  EXPECT_EQ(host->ToUtf8String(), "h");
}

// Brings up the loopback interface of a fresh network namespace.
bool LoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

// "tcp::host" without a port means port 80. Port 80 is not ours to take on a
// shared machine, so the check runs in a child process with a network
// namespace of its own (as root, or in a new user namespace), where the
// listener on port 80 and the client see only each other. The child reports
// by its exit status.
TEST_F(SocketStreamTest, TcpPathWithoutAColonConnectsToPort80) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) _exit(77);
    if (!LoopbackUp()) _exit(77);
    int status = 10;
    auto check = [&] {
      Ref<TSocket> server = TSocket::CreateTCP();
      if (!server || !server->Bind(80) || !server->Listen(1)) return;
      status = 11;
      Ref<TStream> stream = OpenStream(u"tcp::127.0.0.1"_vs, 1, 1);
      if (!stream) return;
      status = 12;
      Ref<TSocket> accepted = server->Accept(kWait);
      if (!accepted || accepted->LocalPort() != 80) return;
      status = 13;
      if (!stream->WriteLine(u"hi"_vs)) return;
      char bytes[4] = {};
      for (int got = 0; got < 4;) {
        if (!SocketWaitReadable(accepted, kWait)) return;
        int32_t n = accepted->Recv(bytes + got, 4 - got, 0);
        if (n == 0) return;
        got += n;
      }
      if (std::memcmp(bytes, "hi\r\n", 4) == 0) status = 0;
    };
    try {
      check();
    } catch (...) {
      status = 14;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace can be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no listener on 80, 11: no stream, 12: no accept, 13: no data";
}

}  // namespace
}  // namespace vrl
