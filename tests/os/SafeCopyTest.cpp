// Copies replace their target only once the copy is complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "os/FileSystem.h"
#include "runtime/Exceptions.h"
#include "stream/AtomicFile.h"
#include "tests/stream/FailingStream.h"
#include "tests/stream/SaveFailures.h"
#include "tests/support/TempDir.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

// "cutshort::" gives 20000 bytes whose reads stop after 9000.
class TCutShortFactory : public TStreamFactory {
  VRL_CLASS(TCutShortFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object*, String* proto, String*, int32_t, int32_t) override {
    if (CompareStrings(proto, u"cutshort"_vs) != 0) return {};
    return TFailingStream::Over(std::string(20000, 'c'), 9000);
  }
};

}  // namespace

VRL_CLASS_RECORD(TCutShortFactory, "TCutShortFactory")

namespace {

class SafeCopyTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    filesystem::Init();
  }
  Ref<String> P(const char* name) { return String::FromUtf8(NativeOf(name)); }
};

TEST_F(SafeCopyTest, AFailedCopyLeavesTheTargetAsItWas) {
  static bool registered = false;
  if (!registered) New<TCutShortFactory>();  // the chain keeps it
  registered = true;
  WriteWhole(NativeOf("target"), "the old target");
  EXPECT_EQ(DuplicateFile(String::FromUtf8("cutshort::x"), P("target")), 0);
  EXPECT_EQ(ReadWhole(NativeOf("target")), "the old target");
  EXPECT_TRUE(TemporaryFiles(Root()).empty());

  // Writes that fail part-way (files limited to 4 KiB).
  WriteWhole(NativeOf("big"), std::string(100000, 'b'));
  EXPECT_EQ(RunInChild([&] { return DuplicateFile(P("big"), P("target")) == 1; }, 4096), kChildFailed);
  EXPECT_EQ(ReadWhole(NativeOf("target")), "the old target");
  EXPECT_TRUE(TemporaryFiles(Root()).empty());

  // A tree copy that fails keeps the files already in the target tree.
  ASSERT_EQ(mkdir(NativeOf("tree").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(NativeOf("copy").c_str(), 0755), 0);
  WriteWhole(NativeOf("tree/big"), std::string(100000, 't'));
  WriteWhole(NativeOf("copy/big"), "old copy");
  EXPECT_EQ(RunInChild([&] { return DuplicateDirectory(P("tree"), P("copy")) == 1; }, 4096), kChildFailed);
  EXPECT_EQ(ReadWhole(NativeOf("copy/big")), "old copy");
  EXPECT_TRUE(TemporaryFiles(NativeOf("copy")).empty());
  EXPECT_EQ(DuplicateDirectory(P("tree"), P("copy")), 1);
  EXPECT_EQ(ReadWhole(NativeOf("copy/big")), std::string(100000, 't'));
}

// Waits until a temporary file in `dir` holds at least `bytes`, woken by
// inotify rather than by the clock; false after a generous bound without
// any change in the directory.
bool WaitForTemporary(const std::string& dir, off_t bytes, std::string& found) {
  int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0) return false;
  inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE);
  bool reached = false;
  for (;;) {
    for (const std::string& name : TemporaryFiles(dir)) {
      std::string path = dir;
      path += '/';
      path += name;
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && st.st_size >= bytes) {
        found = name;
        reached = true;
      }
    }
    if (reached) break;
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) break;
    char events[4096];
    if (read(watch, events, sizeof events) <= 0) break;
  }
  close(watch);
  return reached;
}

TEST_F(SafeCopyTest, AWriterKilledHalfWayLeavesTheOldFileWhole) {
  // The copy reads from a pipe that the test feeds, so the writer is
  // certainly in the middle of its copy when it is killed.
  const std::string pipePath = NativeOf("pipe"), target = NativeOf("card.txt");
  ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
  WriteWhole(target, "the old card, whole");
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DuplicateFile(P("pipe"), P("card.txt"));
    _exit(0);
  }
  int feed = open(pipePath.c_str(), O_WRONLY);
  ASSERT_GE(feed, 0);
  const std::string chunk(64 << 10, 'n');
  ASSERT_EQ(write(feed, chunk.data(), chunk.size()), ssize_t(chunk.size()));
  std::string temp;
  const bool reached = WaitForTemporary(Root(), 32 << 10, temp);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(feed);
  ASSERT_TRUE(reached);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadWhole(target), "the old card, whole");

  // The killed writer's temporary file is left, recognisable; the next save
  // of the file succeeds and removes it.
  ASSERT_EQ(TemporaryFiles(Root()), std::vector<std::string>{temp});
  WriteWhole(NativeOf("new"), "the new card");
  EXPECT_EQ(DuplicateFile(P("new"), P("card.txt")), 1);
  EXPECT_EQ(ReadWhole(target), "the new card");
  EXPECT_EQ(TemporaryFiles(Root()), std::vector<std::string>{});
}

}  // namespace
