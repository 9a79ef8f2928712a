// Drives the vcat tool as a user would: the program is run with arguments
// and its output, error text and exit status are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/net/TestServer.h"
#include "tests/support/TempDir.h"

namespace vrl {
namespace {

using testing_support::TestServer;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got = 0; (got = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

// Runs vcat with `args`; standard error goes to a file so that neither pipe
// can fill up while the other is read.
Outcome Vcat(const std::vector<std::string>& args, const std::string& errFile) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::FILE* err = std::freopen(errFile.c_str(), "w", stderr);
    if (!err) _exit(120);
    std::vector<char*> argv{const_cast<char*>(VCAT_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VCAT_PATH, argv.data());
    _exit(121);
  }
  close(out[1]);
  Outcome outcome;
  outcome.out = Drain(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  outcome.err = text.str();
  return outcome;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class VcatTest : public testing_support::TempDirTest {
 protected:
  Outcome Run(const std::vector<std::string>& args) { return Vcat(args, Root() + "/stderr.txt"); }
};

TEST_F(VcatTest, CopiesAFileToStandardOutputOrToAFile) {
  std::string content;
  for (int i = 0; i < 100000; ++i) content += static_cast<char>(i * 13 % 256);
  std::string source = Root() + "/" + testing_support::kOddNameUtf8 + ".bin";
  std::ofstream(source, std::ios::binary) << content;

  Outcome plain = Run({source});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.size(), content.size());
  EXPECT_TRUE(plain.out == content);  // (not EXPECT_EQ: it would print 100 KB)
  EXPECT_EQ(plain.err, "");

  // Through a byte-order wrapper the raw bytes pass unchanged.
  std::string copy = Root() + "/copy.bin";
  Outcome wrapped = Run({"BigEndian::" + source, copy});
  EXPECT_EQ(wrapped.status, 0) << wrapped.err;
  EXPECT_EQ(wrapped.out, "");
  EXPECT_TRUE(FileText(copy) == content);
}

TEST_F(VcatTest, TextProtocolsAreDecodedAndWrittenAsUtf8) {
  std::ofstream(Root() + "/latin1.txt", std::ios::binary) << "caf\xe9\r\n";
  std::ofstream(Root() + "/utf16.txt", std::ios::binary) << std::string("h\0\xe9\0\x34\xd8\x1e\xdd", 8);
  Outcome latin1 = Run({"latin1::" + Root() + "/latin1.txt"});
  EXPECT_EQ(latin1.status, 0) << latin1.err;
  EXPECT_EQ(latin1.out, "caf\xc3\xa9\r\n");
  // UTF-16LE with a character outside the 16-bit range (a surrogate pair).
  Outcome utf16 = Run({"utf16le::" + Root() + "/utf16.txt"});
  EXPECT_EQ(utf16.status, 0) << utf16.err;
  EXPECT_EQ(utf16.out, "h\xc3\xa9\xf0\x9d\x84\x9e");
  // A UTF-16 character cut short by the end of the data is a failed read.
  std::ofstream(Root() + "/odd.txt", std::ios::binary) << "abc";
  Outcome odd = Run({"utf16be::" + Root() + "/odd.txt"});
  EXPECT_EQ(odd.status, 1);
  EXPECT_EQ(odd.err, "vcat: read failed: utf16be::" + Root() + "/odd.txt\n");
}

TEST_F(VcatTest, OpensTheEmbeddedFonts) {
  Outcome font = Run({"incbin::vorlfont.bin"});
  EXPECT_EQ(font.status, 0) << font.err;
  EXPECT_TRUE(font.out == FileText(VRL_SOURCE_DIR "/lith2d/vorlfont.bin"));
  EXPECT_EQ(font.out.size(), 1536U);
  Outcome other = Run({"incbin::gldrawtextfont.bin"});
  EXPECT_EQ(other.status, 0) << other.err;
  EXPECT_TRUE(other.out == FileText(VRL_SOURCE_DIR "/gldriver/gldrawtextfont.bin"));
}

TEST_F(VcatTest, FetchesTheBodyOfAnHttpUrl) {
  TestServer server("HTTP/1.0 200 OK\r\nServer: test\r\n\r\nthe body\n");
  Outcome fetched = Run({"http::127.0.0.1:" + std::to_string(server.Port()) + "/page"});
  EXPECT_EQ(fetched.status, 0) << fetched.err;
  EXPECT_EQ(fetched.out, "the body\n");
  server.Finish();
  EXPECT_EQ(server.Request().rfind("GET /page HTTP/1.0\r\n", 0), 0U);

  TestServer raw("raw bytes", TestServer::Then::Close, {}, false);
  Outcome tcp = Run({"tcp::127.0.0.1:" + std::to_string(raw.Port())});
  EXPECT_EQ(tcp.status, 0) << tcp.err;
  EXPECT_EQ(tcp.out, "raw bytes");
}

TEST_F(VcatTest, FailuresSayWhatFailedWithStatus1) {
  Outcome missing = Run({Root() + "/does-not-exist"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "vcat: cannot open: " + Root() + "/does-not-exist\n");
  Outcome unknown = Run({"incbin::no-such-file"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("cannot open"), std::string::npos);
  Outcome unwritable = Run({"incbin::vorlfont.bin", Root() + "/no-dir/out.bin"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "vcat: cannot write: " + Root() + "/no-dir/out.bin\n");
  Outcome full = Run({"incbin::vorlfont.bin", "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "vcat: write failed: /dev/full\n");
}

TEST_F(VcatTest, BadArgumentsGiveTheUsageWithStatus2) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"a", "b", "c"}, {""}}) {
    Outcome outcome = Run(args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "usage: vcat URL [FILE]\n");
    EXPECT_EQ(outcome.out, "");
  }
}

}  // namespace
}  // namespace vrl
