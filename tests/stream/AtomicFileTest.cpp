#include "stream/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "runtime/Exceptions.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"
#include "tests/stream/SaveFailures.h"
#include "tests/support/TempDir.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

class AtomicFileTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    bank::Init();
    bankstream::Init();
    textstream::Init();
  }
  Ref<String> Url(const std::string& path) { return String::FromUtf8(path); }
  mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
};

// Every writer that replaces a file, each given `bytes` to write to `path`;
// each returns true when it reported success.
std::vector<std::pair<const char*, std::function<bool(const std::string&, const std::string&)>>> Writers() {
  auto url = [](const std::string& path) { return String::FromUtf8(path); };
  return {
      {"SaveString",
       [=](const std::string& path, const std::string& bytes) {
         SaveString(String::FromNarrow(bytes), url(path));
         return true;
       }},
      {"SaveByteArray",
       [=](const std::string& path, const std::string& bytes) {
         Ref<Array> array = Array::New("b", int32_t(bytes.size()));
         std::copy(bytes.begin(), bytes.end(), static_cast<char*>(array->Data()));
         SaveByteArray(array, url(path));
         return true;
       }},
      {"SaveText (UTF-16)",
       [=](const std::string& path, const std::string& bytes) {
         std::u16string wide(bytes.begin(), bytes.end());
         wide += u'\u0100';
         return SaveText(String::FromUnits(wide), url(path)) == 1;
       }},
      {"TBank.Save",
       [=](const std::string& path, const std::string& bytes) {
         Ref<TBank> bank = TBank::Create(int32_t(bytes.size()));
         std::copy(bytes.begin(), bytes.end(), bank->Buf());
         return bank->Save(url(path)) == 1;
       }},
  };
}

TEST_F(AtomicFileTest, SavesReplaceTheFileKeepingItsPermissions) {
  const std::string path = NativeOf("kept.txt");
  for (auto& [name, write] : Writers()) {
    WriteWhole(path, "the old content");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(write(path, "new")) << name;
    EXPECT_EQ(ReadWhole(path).substr(0, 3), name == std::string("SaveText (UTF-16)") ? "\xff\xfen" : "new")
        << name;
    EXPECT_EQ(ModeOf(path), 0640u) << name;
    EXPECT_TRUE(TemporaryFiles(Root()).empty()) << name;
  }
  // A new file gets what a plain open gives it.
  const mode_t mask = umask(0);
  umask(mask);
  SaveString(String::FromNarrow("x"), Url(NativeOf("fresh.txt")));
  EXPECT_EQ(ModeOf(NativeOf("fresh.txt")), 0666u & ~mask);
}

TEST_F(AtomicFileTest, WritesThatFailLeaveTheOldFileAndNoTemporary) {
  // Files may not grow beyond 4 KiB: the 64 KiB saves fail part-way.
  const std::string path = NativeOf("precious.txt");
  const std::string big(64 << 10, 'n');
  for (auto& [name, write] : Writers()) {
    WriteWhole(path, "precious");
    int result = RunInChild([&, &write = write] { return write(path, big); }, 4096);
    EXPECT_TRUE(result == kChildThrew || result == kChildFailed) << name << " gave " << result;
    EXPECT_EQ(ReadWhole(path), "precious") << name;
    EXPECT_TRUE(TemporaryFiles(Root()).empty()) << name;
  }
  // The same saves succeed where nothing stops them.
  for (auto& [name, write] : Writers()) {
    EXPECT_EQ(RunInChild([&, &write = write] { return write(path, big); }, 0), kChildSucceeded) << name;
    EXPECT_EQ(ReadWhole(path).size(),
              name == std::string("SaveText (UTF-16)") ? 2 + 2 * (big.size() + 1) : big.size())
        << name;
  }
}

TEST_F(AtomicFileTest, AFullDeviceLeavesTheOldFile) {
  const std::string mountPoint = NativeOf("small");
  ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  const std::string path = mountPoint + "/card.txt";
  const std::string big(256 << 10, 'x');
  for (auto& [name, write] : Writers()) {
    WriteWhole(path, "old card");
    bool reported = false;
    try {
      reported = !write(path, big);
    } catch (const ThrownObject& e) {
      reported = e.As<TStreamWriteException>() != nullptr;
    }
    EXPECT_TRUE(reported) << name;
    EXPECT_EQ(ReadWhole(path), "old card") << name;
    EXPECT_TRUE(TemporaryFiles(mountPoint).empty()) << name;
  }
}

TEST_F(AtomicFileTest, AReadOnlyDirectoryLeavesTheOldFile) {
  // The file itself could be rewritten in place, but no temporary file can
  // be made beside it: the save fails rather than risk the file. Root is not
  // bound by permissions, so the save runs as an unprivileged user there.
  const std::string dir = NativeOf("locked");
  const std::string path = dir + "/note.txt";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  WriteWhole(path, "keep me");
  uid_t user = uid_t(-1);
  if (geteuid() == 0) {
    user = 65534;
    ASSERT_EQ(chmod(Root().c_str(), 0755), 0);
    ASSERT_EQ(chown(dir.c_str(), user, user), 0);
    ASSERT_EQ(chown(path.c_str(), user, user), 0);
  }
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
  for (auto& [name, write] : Writers()) {
    int result = RunInChild([&, &write = write] { return write(path, "lost"); }, 0, user);
    EXPECT_TRUE(result == kChildThrew || result == kChildFailed) << name << " gave " << result;
    EXPECT_EQ(ReadWhole(path), "keep me") << name;
  }
  chmod(dir.c_str(), 0755);
  EXPECT_TRUE(TemporaryFiles(dir).empty());
  // A read-only file in a writable directory is not saved over either.
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  for (auto& [name, write] : Writers()) {
    int result = RunInChild([&, &write = write] { return write(path, "lost"); }, 0, user);
    EXPECT_TRUE(result == kChildThrew || result == kChildFailed) << name << " gave " << result;
    EXPECT_EQ(ReadWhole(path), "keep me") << name;
  }
  EXPECT_TRUE(TemporaryFiles(dir).empty());
}

TEST_F(AtomicFileTest, AnExceptionWhileWritingAbandonsTheSave) {
  const std::string path = NativeOf("object.bin");
  WriteWhole(path, "old object");
  // The base stream cannot write objects: the save throws half-way.
  EXPECT_THROW(SaveObject(TBank::Create(4), Url(path)), ThrownObject);
  EXPECT_EQ(ReadWhole(path), "old object");
  EXPECT_TRUE(TemporaryFiles(Root()).empty());
  {
    AtomicFile file(Url(path));
    ASSERT_FALSE(file.IsNull());
    file.Stream()->WriteBytes("never", 5);
    EXPECT_EQ(TemporaryFiles(Root()).size(), 1u);
  }  // dropped without a commit
  EXPECT_EQ(ReadWhole(path), "old object");
  EXPECT_TRUE(TemporaryFiles(Root()).empty());
  AtomicFile file(Url(path));
  file.Stream()->WriteBytes("new", 3);
  EXPECT_TRUE(file.Commit());
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(ReadWhole(path), "new");
}

TEST_F(AtomicFileTest, LinksDevicesAndOtherUrlsAreWrittenWhereTheyLead) {
  const std::string real = NativeOf("real.txt"), link = NativeOf("link.txt");
  WriteWhole(real, "old");
  ASSERT_EQ(symlink("real.txt", link.c_str()), 0);
  SaveString(String::FromNarrow("through the link"), Url(link));
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadWhole(real), "through the link");
  EXPECT_TRUE(TemporaryFiles(Root()).empty());

  // A device is written in place, never replaced.
  SaveString(String::FromNarrow("gone"), Url("/dev/null"));
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // A bank is not a file: its stream is written as before.
  Ref<TBank> bank = TBank::Create(0);
  SaveString(String::FromNarrow("abc"), bank);
  EXPECT_EQ(bank->Size(), 3);

  // Backslashes name the same file as slashes.
  std::string backslashed = Root() + "\\real.txt";
  SaveString(String::FromNarrow("slashes"), Url(backslashed));
  EXPECT_EQ(ReadWhole(real), "slashes");

  // Nothing can be opened in a directory that does not exist.
  EXPECT_TRUE(AtomicFile(Url(NativeOf("missing/x.txt"))).IsNull());
}

TEST_F(AtomicFileTest, TemporaryNamesAreRecognisable) {
  const std::string path = NativeOf("name.txt");
  AtomicFile file(Url(path));
  std::vector<std::string> temps = TemporaryFiles(Root());
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_EQ(temps[0].rfind(".name.txt.vrl-save-", 0), 0u) << temps[0];
  EXPECT_EQ(temps[0].find(".vrl-save-" + std::to_string(getpid()) + "-"), 9u) << temps[0];
  EXPECT_FALSE(AtomicFile::IsTemporaryName("name.txt"));
  EXPECT_FALSE(AtomicFile::IsTemporaryName(".name.txt.vrl-save-12345"));
  EXPECT_FALSE(AtomicFile::IsTemporaryName(".name.txt.vrl-save-0123456789ab"));
  EXPECT_FALSE(AtomicFile::IsTemporaryName(".name.txt.vrl-save--0123456789ab"));
  EXPECT_FALSE(AtomicFile::IsTemporaryName(".name.txt.vrl-save-1x-0123456789ab"));
  EXPECT_FALSE(AtomicFile::IsTemporaryName("name.txt.vrl-save-7-0123456789ab"));
  EXPECT_TRUE(AtomicFile::IsTemporaryName(".name.txt.vrl-save-7-0123456789ab"));
}

TEST_F(AtomicFileTest, ASaveRemovesOnlyWhatDeadWritersLeftOfTheSameFile) {
  // A process id that is certainly free: a child's, once it has been reaped.
  pid_t dead = fork();
  ASSERT_GE(dead, 0);
  if (dead == 0) _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string gone = ".name.txt.vrl-save-" + std::to_string(dead) + "-0123456789ab";
  const std::string live = ".name.txt.vrl-save-1-0123456789ab";  // init: a save in progress
  const std::string mine = ".name.txt.vrl-save-" + std::to_string(getpid()) + "-0123456789ab";
  const std::string other = ".other.txt.vrl-save-" + std::to_string(dead) + "-0123456789ab";
  for (const std::string& name : {gone, live, mine, other}) WriteWhole(NativeOf(name), "partial");

  // A failed save removes nothing of others.
  {
    AtomicFile failed(Url(NativeOf("name.txt")));
    ASSERT_FALSE(failed.IsNull());
  }
  EXPECT_EQ(TemporaryFiles(Root()).size(), 4u);

  AtomicFile save(Url(NativeOf("name.txt")));
  ASSERT_FALSE(save.IsNull());
  ASSERT_EQ(save.Stream()->Write("new", 3), 3);
  ASSERT_TRUE(save.Commit());
  EXPECT_EQ(ReadWhole(NativeOf("name.txt")), "new");
  std::vector<std::string> left = TemporaryFiles(Root());
  std::sort(left.begin(), left.end());
  std::vector<std::string> kept = {live, mine, other};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(left, kept);
}

}  // namespace
