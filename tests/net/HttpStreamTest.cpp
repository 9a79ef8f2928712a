#include "net/HttpStream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "net/SocketStream.h"
#include "stream/RamStream.h"
#include "tests/net/TestServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitFor.h"

namespace vrl {
namespace {

using testing_support::TestServer;

constexpr int32_t kLoopback = (127 << 24) + 1;
constexpr int32_t kWait = 10000;

std::string ReadToEnd(TStream* stream) {
  Ref<Array> bytes = ReadAllBytes(stream);
  return {static_cast<const char*>(bytes->Data()), static_cast<std::size_t>(bytes->Length())};
}

Ref<TStream> OpenUrl(const std::string& url) { return OpenStream(String::FromUtf8(url), 1, 0); }

std::string Local(int port, const std::string& rest = "") {
  return "http::127.0.0.1:" + std::to_string(port) + rest;
}

class HttpStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    httpstream::Init();
    _timeout = HttpHeaderTimeout();
  }
  void TearDown() override { SetHttpHeaderTimeout(_timeout); }

 private:
  int32_t _timeout = 0;
};

TEST_F(HttpStreamTest, SendsAGetWithTheHostLineAndLeavesTheStreamAtTheBody) {
  TestServer server("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Long: " + std::string(500, 'v') +
                    "\r\n\r\nbody line\r\nHTTP/1.0 is body too\r\n");
  Ref<TStream> stream = OpenUrl(Local(server.Port(), "/dir/file.txt?q=1"));
  ASSERT_TRUE(stream);
  char first[4] = {};
  ASSERT_EQ(stream->Read(first, 4), 4);  // the first read gives the body, not the headers
  EXPECT_EQ(std::string(first, 4), "body");
  EXPECT_EQ(ReadToEnd(stream), " line\r\nHTTP/1.0 is body too\r\n");
  server.Finish();
  EXPECT_EQ(server.Request(), "GET /dir/file.txt?q=1 HTTP/1.0\r\nHost: 127.0.0.1:" +
                                  std::to_string(server.Port()) + "\r\n\r\n");
}

TEST_F(HttpStreamTest, APathWithoutASlashAsksForTheRoot) {
  TestServer server("HTTP/1.0 200 OK\n\nroot");  // bare line feeds end lines too
  Ref<TStream> stream = OpenUrl(Local(server.Port()));
  ASSERT_TRUE(stream);
  EXPECT_EQ(ReadToEnd(stream), "root");
  server.Finish();
  EXPECT_EQ(server.Request(),
            "GET / HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n");
}

TEST_F(HttpStreamTest, TheStatusIsNotExaminedAndAnEmptyBodyIsAtItsEnd) {
  TestServer server("HTTP/1.0 404 Not Found\r\nA: b\r\n\r\n");
  Ref<TStream> stream = OpenUrl(Local(server.Port(), "/missing"));
  ASSERT_TRUE(stream);
  server.Finish();
  EXPECT_EQ(ReadToEnd(stream), "");
}

TEST_F(HttpStreamTest, AResponseThatEndsInsideTheHeadersGivesAnEmptyBody) {
  TestServer server("HTTP/1.0 200 OK\r\nTruncated: yes");
  Ref<TStream> stream = OpenUrl(Local(server.Port(), "/"));
  ASSERT_TRUE(stream);
  EXPECT_EQ(ReadToEnd(stream), "");
}

TEST_F(HttpStreamTest, HeaderLinesUpTo8KiBAreReadAndLongerOnesRefused) {
  {
    TestServer server("HTTP/1.0 200 OK\r\nX: " + std::string(8192 - 3, 'a') + "\r\n\r\nok");
    Ref<TStream> stream = OpenUrl(Local(server.Port(), "/"));
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadToEnd(stream), "ok");
  }
  {
    // One byte more; the server then waits, so only the limit can end it.
    TestServer server("HTTP/1.0 200 OK\r\nX: " + std::string(8192 - 2, 'a'), TestServer::Then::WaitForPeer);
    EXPECT_FALSE(OpenUrl(Local(server.Port(), "/")));
  }
  {
    TestServer server(std::string(9000, 's'), TestServer::Then::WaitForPeer);  // a status line without end
    EXPECT_FALSE(OpenUrl(Local(server.Port(), "/")));
  }
}

TEST_F(HttpStreamTest, HeadersOver64KiBInAllAreRefused) {
  std::string header = "X-Filler: " + std::string(88, 'f') + "\r\n";  // 100 bytes
  std::string headers = "HTTP/1.0 200 OK\r\n";
  {
    std::string fits = headers;
    while (fits.size() + header.size() + 2 <= 65536) fits += header;
    TestServer server(fits + "\r\nbody");
    Ref<TStream> stream = OpenUrl(Local(server.Port(), "/"));
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadToEnd(stream), "body");
  }
  {
    std::string over = headers;
    while (over.size() <= 65536) over += header;
    TestServer server(over + "\r\nbody");
    EXPECT_FALSE(OpenUrl(Local(server.Port(), "/")));
  }
}

TEST_F(HttpStreamTest, AServerThatSendsHeadersForeverIsCutOff) {
  TestServer server("HTTP/1.0 200 OK\r\n", TestServer::Then::RepeatForever, "X-More: again and again\r\n");
  EXPECT_FALSE(OpenUrl(Local(server.Port(), "/")));
  // The refusal closed the connection, which is what ends the server's loop.
}

TEST_F(HttpStreamTest, AServerThatNeverAnswersTimesOut) {
  SetHttpHeaderTimeout(50);
  TestServer silent("", TestServer::Then::WaitForPeer);
  EXPECT_FALSE(OpenUrl(Local(silent.Port(), "/")));
  // A server that answers part of the headers and then stalls.
  TestServer stalling("HTTP/1.0 200 OK\r\nX: 1\r\n", TestServer::Then::WaitForPeer);
  EXPECT_FALSE(OpenUrl(Local(stalling.Port(), "/")));
}

TEST_F(HttpStreamTest, HostsThatCannotBeReachedGiveNull) {
  Ref<TSocket> quiet = TSocket::CreateTCP();
  ASSERT_EQ(quiet->Bind(0), 1);  // bound, not listening
  EXPECT_FALSE(OpenUrl(Local(quiet->LocalPort(), "/")));
  EXPECT_FALSE(OpenUrl("http::no-such-host.invalid/"));
  EXPECT_FALSE(OpenUrl("http::127.0.0.1:99999/"));
  EXPECT_FALSE(OpenUrl("http::/index.html"));
  EXPECT_FALSE(OpenUrl("gopher::127.0.0.1/"));  // no factory knows it
}

TEST(HttpHeaders, SkippingStopsRightAfterTheEmptyLine) {
  ramstream::Init();
  std::string text = "HTTP/1.1 200 OK\r\nA: 1\r\n\r\r\nafter\r\n\r\nmore";
  Ref<TStream> stream = CreateRamStream(text.data(), static_cast<int32_t>(text.size()), 1, 0);
  ASSERT_TRUE(SkipHttpHeaders(stream, kWait));
  EXPECT_EQ(stream->Pos(), static_cast<int32_t>(text.find("after")));
  // A 0 byte ends a line as it does for ReadLine.
  std::string nul = std::string("HTTP/1.0 200 OK\0X\r\n\0rest", 24);
  stream = CreateRamStream(nul.data(), static_cast<int32_t>(nul.size()), 1, 0);
  ASSERT_TRUE(SkipHttpHeaders(stream, kWait));
  EXPECT_EQ(stream->Pos(), static_cast<int32_t>(nul.size() - 4));
  // Carriage returns do not count towards a line's length.
  std::string returns = "S\r\nX" + std::string(8191, '\r') + std::string(8191, 'x') + "\n\nb";
  stream = CreateRamStream(returns.data(), static_cast<int32_t>(returns.size()), 1, 0);
  ASSERT_TRUE(SkipHttpHeaders(stream, kWait));
  EXPECT_EQ(stream->Pos(), static_cast<int32_t>(returns.size() - 1));
  // At the end of the data the skip is done, wherever it stands.
  std::string empty;
  stream = CreateRamStream(empty.data(), 0, 1, 0);
  EXPECT_TRUE(SkipHttpHeaders(stream, kWait));
}

// A real HTTP server: Python's, serving a temporary directory on a port it
// picks and prints. It is waited for by connecting, and killed at the end.
class PythonHttpServer {
 public:
  explicit PythonHttpServer(const std::string& directory) {
    int out[2];
    if (pipe(out) != 0) return;
    _pid = fork();
    if (_pid == 0) {
      dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      execlp("python3", "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
             directory.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    // "Serving HTTP on 127.0.0.1 port N (...) ...": printed once it listens.
    std::FILE* lines = fdopen(out[0], "r");
    char line[512] = {};
    if (lines && std::fgets(line, sizeof line, lines))
      std::sscanf(line, "Serving HTTP on %*s port %d", &_port);
    if (lines) std::fclose(lines);
    // Waited for by connecting, within the tests' bound.
    if (_port > 0 &&
        testing_support::WaitFor([&] { return TSocket::CreateTCP()->Connect(kLoopback, _port) != 0; }))
      return;
    _port = 0;
  }
  ~PythonHttpServer() {
    if (_pid > 0) {
      kill(_pid, SIGKILL);
      waitpid(_pid, nullptr, 0);
    }
  }
  PythonHttpServer(const PythonHttpServer&) = delete;
  PythonHttpServer& operator=(const PythonHttpServer&) = delete;
  int Port() const { return _port; }

 private:
  pid_t _pid = -1;
  int _port = 0;
};

class PythonHttpTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    httpstream::Init();
  }
};

TEST_F(PythonHttpTest, FilesComeBackByteForByte) {
  std::string content;
  for (int i = 0; i < 70000; ++i) content += static_cast<char>(i * 7 % 251);
  std::ofstream(Root() + "/data.bin", std::ios::binary) << content;
  std::ofstream(Root() + "/index.html") << "<p>index</p>\n";
  PythonHttpServer server(Root());
  ASSERT_GT(server.Port(), 0) << "python3 -m http.server did not start";

  Ref<TStream> stream = OpenUrl(Local(server.Port(), "/data.bin"));
  ASSERT_TRUE(stream);
  EXPECT_TRUE(ReadToEnd(stream) == content);  // (EXPECT_EQ would print 70 KB)
  // Without a slash the root is asked for: the index page, headers skipped.
  stream = OpenUrl(Local(server.Port()));
  ASSERT_TRUE(stream);
  EXPECT_EQ(ReadToEnd(stream), "<p>index</p>\n");
  // A missing file: the server's error page is the body.
  Ref<Array> page = LoadByteArray(String::FromUtf8(Local(server.Port(), "/nothing-here")));
  std::string text(static_cast<const char*>(page->Data()), static_cast<std::size_t>(page->Length()));
  EXPECT_NE(text.find("404"), std::string::npos);
  EXPECT_NE(text.rfind("HTTP/1.", 0), 0U);
}

}  // namespace
}  // namespace vrl
