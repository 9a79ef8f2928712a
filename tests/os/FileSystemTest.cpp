#include "os/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/BankStream.h"
#include "stream/CStream.h"
#include "tests/stream/FailingStream.h"
#include "tests/support/TempDir.h"

using namespace vrl;
using vrl::testing_support::kOddName;
using vrl::testing_support::kOddNameUtf8;
using vrl::testing_support::TempDirTest;
using vrl::testing_support::TFailingStream;

namespace {

// "failing::" gives 5000 bytes whose reads stop after 3000.
class TFailingFactory : public TStreamFactory {
  VRL_CLASS(TFailingFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object*, String* proto, String*, int32_t, int32_t) override {
    if (CompareStrings(proto, u"failing"_vs) != 0) return {};
    return TFailingStream::Over(std::string(5000, 'f'), 3000);
  }
};

}  // namespace

VRL_CLASS_RECORD(TFailingFactory, "TFailingFactory")

namespace {

std::string N(String* s) { return s->ToUtf8String(); }
Ref<String> S(const char* text) { return String::FromUtf8(text); }

std::vector<std::string> Names(Array* names) {
  std::vector<std::string> out;
  out.reserve(std::size_t(names->Length()));
  for (int32_t i = 0; i < names->Length(); ++i) out.push_back(N(CastRaw<String>(names->GetObject(i))));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PathText, Normalise) {
  EXPECT_EQ(N(NormalisePath(S("C:\\dir\\file.txt"))), "C:/dir/file.txt");
  EXPECT_EQ(N(NormalisePath(S("C:name"))), "C:/name");
  EXPECT_EQ(N(NormalisePath(S("C:"))), "C:/");
  EXPECT_EQ(N(NormalisePath(S("incbin::snow.png"))), "incbin::snow.png");
  EXPECT_EQ(N(NormalisePath(S("//server"))), "//server/");
  EXPECT_EQ(N(NormalisePath(S("a/b:c"))), "a/b:c");
  EXPECT_EQ(N(NormalisePath(S("a/b/"), 1)), "a/b");
  EXPECT_EQ(N(NormalisePath(S("C:/"), 1)), "C:/");
  EXPECT_EQ(N(NormalisePath(S("/"), 1)), "/");
  EXPECT_EQ(N(NormalisePath(S("//server/"), 1)), "//server/");
}

// A drive is one ASCII letter and a colon: "12:30.log" used to become
// "12:/30.log", an absolute path on a drive "12:".
TEST(PathText, ColonsAfterSomethingElseThanADriveLetterAreText) {
  EXPECT_EQ(N(NormalisePath(S("12:30.log"))), "12:30.log");
  EXPECT_EQ(N(NormalisePath(S("name:x"))), "name:x");
  EXPECT_EQ(N(NormalisePath(S("\u00e9:x"))), "\u00e9:x");
  EXPECT_EQ(N(NormalisePath(S("c:x"))), "c:/x");
  EXPECT_EQ(N(NormalisePath(S("c::x"))), "c::x");
  EXPECT_EQ(N(PathRoot(S("12:/x"))), "");
  EXPECT_EQ(IsAbsolutePath(S("12:30.log")), 0);
  EXPECT_EQ(N(PathDirectory(S("12:30.log"))), "");
  EXPECT_EQ(N(AbsolutePathFrom(S("12:30.log"), S("/home/u"))), "/home/u/12:30.log");
  EXPECT_EQ(N(AbsolutePathFrom(S("/x"), S("/home/12:30"))), "/x");
  EXPECT_EQ(N(AbsolutePathFrom(S("/x"), S("d:/w"))), "d:/x");
}

TEST(PathText, Roots) {
  EXPECT_EQ(N(PathRoot(S("//server/share/x"))), "//server/");
  EXPECT_EQ(N(PathRoot(S("/x"))), "/");
  EXPECT_EQ(N(PathRoot(S("x/y"))), "");
  EXPECT_EQ(N(PathRoot(S("C:/x"))), "C:/");
  EXPECT_EQ(N(PathRoot(S("incbin::a/b"))), "");
  EXPECT_EQ(IsRootPath(S("C:/")), 1);
  EXPECT_EQ(IsRootPath(S("//server")), 1);  // normalised first
  EXPECT_EQ(IsRootPath(S("/x")), 0);
  EXPECT_EQ(IsRootPath(S("")), 0);
  EXPECT_EQ(IsAbsolutePath(S("D:x")), 1);
  EXPECT_EQ(IsAbsolutePath(S("x")), 0);
}

TEST(PathText, Components) {
  EXPECT_EQ(N(PathExtension(S("a/b.c/d"))), "");
  EXPECT_EQ(N(PathExtension(S("a/b.txt"))), "txt");
  EXPECT_EQ(N(PathDirectory(S("C:/x"))), "C:/");
  EXPECT_EQ(N(PathDirectory(S("/x"))), "/");
  EXPECT_EQ(N(PathDirectory(S("x"))), "");
  EXPECT_EQ(N(PathDirectory(S("a/b/c"))), "a/b");
  EXPECT_EQ(N(PathDirectory(S(".."))), "..");
  EXPECT_EQ(N(PathDirectory(S("//server/"))), "//server/");
  EXPECT_EQ(N(PathFileName(S("a\\b\\c.tar.gz"))), "c.tar.gz");
  EXPECT_EQ(N(PathWithoutExtension(S("a.b/c"))), "a.b/c");
  EXPECT_EQ(N(PathWithoutExtension(S("a/c.tar.gz"))), "a/c.tar");
  EXPECT_EQ(N(PathBaseName(S("dir.d/file.txt"))), "file");
  EXPECT_EQ(N(PathWithoutSlash(S("a/"))), "a");
  EXPECT_EQ(N(PathWithoutSlash(S("C:/"))), "C:/");
}

TEST(PathText, AbsolutePaths) {
  EXPECT_EQ(N(AbsolutePathFrom(S("a/./b/../c"), S("C:/w"))), "C:/w/a/c");
  EXPECT_EQ(N(AbsolutePathFrom(S("../../.."), S("C:/w"))), "C:/");
  EXPECT_EQ(N(AbsolutePathFrom(S("/x//y/"), S("C:/w"))), "C:/x/y");
  EXPECT_EQ(N(AbsolutePathFrom(S("//srv/share/../a"), S("C:/w"))), "//srv/a");
  EXPECT_EQ(N(AbsolutePathFrom(S("/x/../.."), S("/home/u"))), "/");
  EXPECT_EQ(N(AbsolutePathFrom(S("D:y"), S("/home/u"))), "D:/y");
  EXPECT_EQ(N(AbsolutePathFrom(S(".."), S("/home/u"))), "/home");
  Ref<String> cwd = CurrentDirectory();
  EXPECT_EQ(IsAbsolutePath(cwd), 1);
  EXPECT_EQ(N(AbsolutePath(S("q"))), N(cwd) == "/" ? "/q" : N(cwd) + "/q");
}

class FileSystemTest : public TempDirTest {
 protected:
  void SetUp() override {
    filesystem::Init();
    TempDirTest::SetUp();
  }
  Ref<String> P(const char* relative) { return S((Root() + "/" + relative).c_str()); }
  void Write(const char* relative, const std::string& bytes) {
    std::ofstream(Root() + "/" + relative, std::ios::binary) << bytes;
  }
  std::string Read(const char* relative) {
    std::ifstream in(Root() + "/" + relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

TEST_F(FileSystemTest, Attributes) {
  Write("f.txt", "12345");
  EXPECT_EQ(PathType(P("f.txt")), 1);
  EXPECT_EQ(PathType(S(Root().c_str())), 2);
  EXPECT_EQ(PathType(P("missing")), 0);
  EXPECT_EQ(PathSize(P("missing")), -1);
  EXPECT_EQ(PathSize(P("f.txt")), 5);
  EXPECT_EQ(PathTime(P("missing")), 0);
  EXPECT_GT(PathTime(P("f.txt")), 1600000000);
  EXPECT_EQ(SetPathMode(P("f.txt"), 0640), 1);
  EXPECT_EQ(PathMode(P("f.txt")), 0640);
  EXPECT_EQ(PathMode(P("missing")), -1);
  Write("a<b", "x");
  EXPECT_EQ(PathType(P("a<b")), 0);
}

TEST_F(FileSystemTest, FilesWithCharactersBeyondSixteenBits) {
  Ref<String> odd = Path(kOddName);
  EXPECT_EQ(MakeFile(odd), 1);
  struct stat st {};
  EXPECT_EQ(stat((Root() + "/" + kOddNameUtf8).c_str(), &st), 0);
  Ref<Array> names = ListDirectory(S(Root().c_str()), 1);
  ASSERT_EQ(names->Length(), 1);
  EXPECT_TRUE(CastRaw<String>(names->GetObject(0))->Equals(String::FromUnits(kOddName)));
  Ref<String> moved = Path(std::u16string(kOddName) + u".moved");
  EXPECT_EQ(MoveFile(odd, moved), 1);
  EXPECT_EQ(PathType(odd), 0);
  EXPECT_EQ(RemoveFile(moved), 1);
  EXPECT_EQ(RemoveFile(moved), 1);  // nothing left either way
}

TEST_F(FileSystemTest, MakeFileReplacesAndRemoveFileLeavesDirectories) {
  Write("old", "content");
  ASSERT_EQ(chmod((Root() + "/old").c_str(), 0444), 0);
  EXPECT_EQ(MakeFile(P("old")), 1);
  EXPECT_EQ(PathSize(P("old")), 0);
  EXPECT_EQ(MakeFile(P("no/dir/x")), 0);
  ASSERT_EQ(mkdir((Root() + "/d").c_str(), 0755), 0);
  EXPECT_EQ(RemoveFile(P("d")), 0);
  EXPECT_EQ(MakeFile(P("d")), 0);
}

TEST_F(FileSystemTest, DirectoriesRecursively) {
  EXPECT_EQ(MakeDirectory(P("a/b/c"), 0), 0);
  EXPECT_EQ(MakeDirectory(P("a/b/c/"), 1), 1);
  EXPECT_EQ(PathType(P("a/b/c")), 2);
  EXPECT_EQ(MakeDirectory(P("a/b/c"), 1), 1);
  Write("a/b/file", "f");
  EXPECT_EQ(MakeDirectory(P("a/b/file/sub"), 1), 0);
  EXPECT_EQ(ListDirectory(P("a/b/c"), 1)->Length(), 0);
  EXPECT_EQ(Names(ListDirectory(P("a/b/c"), 0)), (std::vector<std::string>{".", ".."}));
  EXPECT_EQ(ListDirectory(P("missing"), 1)->Length(), 0);
  EXPECT_EQ(RemoveDirectory(P("a"), 0), 0);
  // A link inside the tree is removed as a link: its target survives.
  ASSERT_EQ(mkdir((Root() + "/keep").c_str(), 0755), 0);
  Write("keep/precious", "p");
  ASSERT_EQ(symlink((Root() + "/keep").c_str(), (Root() + "/a/b/link").c_str()), 0);
  EXPECT_EQ(RemoveDirectory(P("a/"), 1), 1);
  EXPECT_EQ(PathType(P("a")), 0);
  EXPECT_EQ(Read("keep/precious"), "p");
}

TEST_F(FileSystemTest, RawListing) {
  Write("one", "1");
  Ref<TDirectoryHandle> dir = OpenDirectory(S(Root().c_str()));
  ASSERT_TRUE(dir);
  std::vector<std::string> seen;
  for (Ref<String> name = NextDirectoryEntry(dir); name->Length(); name = NextDirectoryEntry(dir))
    seen.push_back(N(name));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{".", "..", "one"}));
  CloseDirectory(dir);
  EXPECT_EQ(NextDirectoryEntry(dir)->Length(), 0);
  EXPECT_FALSE(OpenDirectory(P("missing")));
}

TEST_F(FileSystemTest, DuplicateFilesAndTrees) {
  std::string big(10000, 'b');
  Write("src", big);
  EXPECT_EQ(DuplicateFile(P("src"), P("dst")), 1);
  EXPECT_EQ(Read("dst"), big);
  EXPECT_EQ(DuplicateFile(P("missing"), P("x")), 0);
  EXPECT_EQ(PathType(P("x")), 0);
  EXPECT_EQ(DuplicateFile(P("src"), P("no/dir/x")), 0);
  // Onto itself: refused, and the data survives.
  EXPECT_EQ(DuplicateFile(P("src"), P("./src")), 0);
  EXPECT_EQ(Read("src"), big);
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(DuplicateFile(P("src"), S("/dev/full")), 0);
  }

  MakeDirectory(P("tree/sub/deeper"), 1);
  Write("tree/sub/f", "deep");
  Write("tree/top", "top");
  EXPECT_EQ(DuplicateDirectory(P("tree"), P("copy")), 1);
  EXPECT_EQ(Read("copy/sub/f"), "deep");
  EXPECT_EQ(Read("copy/top"), "top");
  EXPECT_EQ(PathType(P("copy/sub/deeper")), 2);
  EXPECT_EQ(DuplicateDirectory(P("src"), P("copy2")), 0);
  // Into itself: ends, copying what was there before.
  EXPECT_EQ(DuplicateDirectory(P("tree"), P("tree/inner")), 1);
  EXPECT_EQ(Read("tree/inner/top"), "top");
  EXPECT_EQ(PathType(P("tree/inner/inner")), 0);
}

// The "<>" refusal of the attribute functions used to reach copying and
// removing too: such names were skipped by a copy that reported success and
// could not be removed. Names that the path text would rewrite (a
// backslash, a colon) must survive as well.
TEST_F(FileSystemTest, CopyAndRemoveHandleEveryName) {
  const char* names[] = {"a<b", "c>d", "12:30.log", "back\\slash", "two::colons"};
  MakeDirectory(P("tree/sub<dir>"), 1);
  for (const char* name : names) {
    Write((std::string("tree/") + name).c_str(), name);
    Write((std::string("tree/sub<dir>/") + name).c_str(), name);
  }
  EXPECT_EQ(PathType(P("tree/a<b")), 0);  // the attribute functions still refuse them
  ASSERT_EQ(DuplicateDirectory(P("tree"), P("copy")), 1);
  for (const char* name : names) {
    EXPECT_EQ(Read((std::string("copy/") + name).c_str()), name);
    EXPECT_EQ(Read((std::string("copy/sub<dir>/") + name).c_str()), name);
  }
  EXPECT_EQ(RemoveFile(P("copy/a<b")), 1);
  EXPECT_EQ(access((Root() + "/copy/a<b").c_str(), F_OK), -1);
  EXPECT_EQ(RemoveDirectory(P("copy"), 1), 1);
  EXPECT_EQ(RemoveDirectory(P("tree"), 1), 1);
  EXPECT_EQ(access((Root() + "/tree").c_str(), F_OK), -1);
  EXPECT_EQ(MakeFile(P("x<y")), 1);
  EXPECT_EQ(MakeDirectory(P("d>e"), 0), 1);
}

// A copy that leaves something out must not report success: a FIFO holds no
// bytes to copy; a dangling link is copied as the link it is.
TEST_F(FileSystemTest, CopyThatSkipsAnythingFails) {
  MakeDirectory(P("tree"), 0);
  Write("tree/f", "f");
  ASSERT_EQ(symlink("nowhere", (Root() + "/tree/dangling").c_str()), 0);
  ASSERT_EQ(DuplicateDirectory(P("tree"), P("copy")), 1);
  std::vector<char> target(64);
  ssize_t n = readlink((Root() + "/copy/dangling").c_str(), target.data(), target.size());
  EXPECT_EQ(std::string(target.data(), std::size_t(std::max<ssize_t>(n, 0))), "nowhere");
  ASSERT_EQ(mkfifo((Root() + "/tree/fifo").c_str(), 0644), 0);
  EXPECT_EQ(DuplicateDirectory(P("tree"), P("copy2")), 0);
}

// MakeFile used to open a dangling link by name and create its target.
TEST_F(FileSystemTest, MakeFileDoesNotFollowADanglingLink) {
  MakeDirectory(P("elsewhere"), 0);
  ASSERT_EQ(symlink((Root() + "/elsewhere/target").c_str(), (Root() + "/link").c_str()), 0);
  EXPECT_EQ(MakeFile(P("link")), 1);
  struct stat st {};
  ASSERT_EQ(lstat((Root() + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(access((Root() + "/elsewhere/target").c_str(), F_OK), -1);
  // A link to a file is replaced as well; the file it named is untouched.
  Write("kept", "kept");
  ASSERT_EQ(symlink((Root() + "/kept").c_str(), (Root() + "/to-kept").c_str()), 0);
  EXPECT_EQ(MakeFile(P("to-kept")), 1);
  EXPECT_EQ(Read("kept"), "kept");
  // A link to a directory is left alone, as a directory is.
  ASSERT_EQ(symlink((Root() + "/elsewhere").c_str(), (Root() + "/to-dir").c_str()), 0);
  EXPECT_EQ(MakeFile(P("to-dir")), 0);
  EXPECT_EQ(PathType(P("to-dir")), 2);
}

// A source whose reads stop before its end used to be copied short with
// success; a directory used to be "copied" as nothing.
TEST_F(FileSystemTest, DuplicateFileOfAFailingSourceFails) {
  static bool registered = false;
  if (!registered) New<TFailingFactory>();  // the chain keeps it
  registered = true;
  EXPECT_EQ(DuplicateFile(S("failing::x"), P("short")), 0);
  MakeDirectory(P("folder"), 0);
  EXPECT_EQ(DuplicateFile(P("folder"), P("empty")), 0);
  EXPECT_EQ(PathType(P("empty")), 0);
}

TEST_F(FileSystemTest, EnterDirectoryAndBack) {
  Ref<String> before = CurrentDirectory();
  MakeDirectory(P("here"), 0);
  EXPECT_EQ(EnterDirectory(P("here")), 1);
  EXPECT_EQ(N(PathFileName(CurrentDirectory())), "here");
  EXPECT_EQ(EnterDirectory(P("missing")), 0);
  EXPECT_EQ(EnterDirectory(before), 1);
}

TEST_F(FileSystemTest, CasedPathFindsTheSpellingOnDisk) {
  ASSERT_EQ(mkdir(NativeOf("Upper").c_str(), 0755), 0);
  std::string odd = std::string("Upper/") + kOddNameUtf8 + "-File.TXT";
  Write(odd.c_str(), "x");
  Ref<String> exact = String::FromUtf8(Root() + "/Upper");
  EXPECT_TRUE(CasedPath(exact)->Equals(exact));
  Ref<String> asked = Path(u"upper/" + std::u16string(kOddName) + u"-file.txt");
  Ref<String> found = CasedPath(asked);
  EXPECT_TRUE(found->Equals(Path(u"Upper/" + std::u16string(kOddName) + u"-File.TXT"))) << found->ToNarrow();
  EXPECT_EQ(CasedPath(Path(u"upper/none"))->Length(), 0);
  EXPECT_EQ(CasedPath(Path(u"lower/x"))->Length(), 0);
}

TEST_F(FileSystemTest, FileStreamsAreSeekable) {
  Write("s", "seekable");
  Ref<TStream> file = ReadFileStream(P("s"));
  EXPECT_TRUE(CastRaw<TCStream>(file));
  EXPECT_EQ(CloseFileStream(file), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "through a pipe", 14), 14);
  close(fds[1]);
  Ref<TStream> pipe = TCStream::CreateWithCStream(fdopen(fds[0], "rb"), TCStream::MODE_READ);
  Ref<TStream> seekable = ReadFileStream(pipe);
  ASSERT_TRUE(CastRaw<TBankStream>(seekable));
  EXPECT_EQ(seekable->Size(), 14);
  seekable->Seek(8);
  EXPECT_EQ(seekable->ReadLine()->ToNarrow(), "a pipe");
  Ref<TStream> out = WriteFileStream(P("w"));
  out->WriteString(S("w"));
  CloseFileStream(out);
  EXPECT_EQ(Read("w"), "w");
}

}  // namespace
