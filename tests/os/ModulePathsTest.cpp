#include "os/ModulePaths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/Startup.h"
#include "runtime/String.h"
#include "tests/support/TempDir.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using vrl::testing_support::kOddNameUtf8;
using vrl::testing_support::TempDirTest;

namespace {

Ref<String> S(const std::string& text) { return String::FromUtf8(std::string_view(text)); }
std::string N(String* s) { return s->ToUtf8String(); }

std::vector<std::string> Names(TList* list) {
  std::vector<std::string> out;
  for (String* name : ListOf<String>(list)) out.push_back(N(name));
  return out;
}

// An installation tree in a temporary directory; the application directory
// and VRLPATH are put back afterwards.
class ModulePathsTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    modulepaths::Init();
    _launch = N(LaunchDirectory());
    _program = N(ApplicationFile());
    unsetenv("VRLPATH");
    ForgetFrameworkPath();
  }
  void TearDown() override {
    SetApplicationPaths(_launch, _program);
    unsetenv("VRLPATH");
    ForgetFrameworkPath();
    TempDirTest::TearDown();
  }

  void MakeDirs(const std::string& relative) { std::filesystem::create_directories(NativeOf(relative)); }
  void MakeFile(const std::string& relative) {
    std::filesystem::create_directories(std::filesystem::path(NativeOf(relative)).parent_path());
    std::ofstream(NativeOf(relative)) << "x";
  }
  // Runs the search as a program at `relative`/prog would.
  void RunFrom(const std::string& relative) {
    MakeDirs(relative);
    SetApplicationPaths(Root(), NativeOf(relative) + "/prog");
  }

 private:
  std::string _launch, _program;
};

TEST_F(ModulePathsTest, FilesOfAModuleUnderVrlPath) {
  setenv("VRLPATH", Root().c_str(), 1);
  EXPECT_EQ(N(FrameworkPath()), Root());
  EXPECT_EQ(N(ModuleSource(S("vrl.stream"))), Root() + "/mod/vrl.mod/stream.mod/stream.vls");
  EXPECT_EQ(N(ModulePath(S(""))), Root() + "/mod");
  EXPECT_EQ(N(ModulePath(S("a.b.c"))), Root() + "/mod/a.mod/b.mod/c.mod");
  EXPECT_EQ(N(ModuleIdent(S("vrl.stream"))), "stream");
  EXPECT_EQ(N(ModuleIdent(S("stream"))), "stream");
  EXPECT_EQ(N(ModuleIdent(S(""))), "");

  std::string dir = Root() + "/mod/vrl.mod/stream.mod/";
  EXPECT_EQ(N(ModuleArchive(S("vrl.stream"), S("debug"))), dir + "stream.debug.a");
  EXPECT_EQ(N(ModuleArchive(S("vrl.stream"), S(".debug"))), dir + "stream.debug.a");
  EXPECT_EQ(N(ModuleArchive(S("vrl.stream"), nullptr)), dir + "stream.a");
  EXPECT_EQ(N(ModuleInterface(S("vrl.stream"), S("debug"))), dir + "stream.debug.i");
  EXPECT_EQ(N(ModuleInterface(S("vrl.stream"), S(""))), dir + "stream.i");
}

TEST_F(ModulePathsTest, SearchFindsTheMarkerAboveANestedApplicationDirectory) {
  MakeFile("bin/vmk");
  // A directory called vmk is no marker: the search goes past it.
  MakeDirs("apps/bin/vmk");
  RunFrom(std::string("apps/deep/") + kOddNameUtf8 + "/bin");
  EXPECT_EQ(N(FrameworkPath()), Root());
  // Children learn it through the environment.
  ASSERT_NE(getenv("VRLPATH"), nullptr);
  EXPECT_EQ(std::string(getenv("VRLPATH")), Root());
  EXPECT_EQ(N(ModulePath(S("pub.lua"))), Root() + "/mod/pub.mod/lua.mod");

  // Kept for the run: the installation may move, the answer does not.
  std::filesystem::remove(NativeOf("bin/vmk"));
  unsetenv("VRLPATH");
  EXPECT_EQ(N(FrameworkPath()), Root());
}

TEST_F(ModulePathsTest, TheApplicationDirectoryItselfCanBeTheInstallation) {
  MakeFile("inst/bin/vmk");
  MakeFile("bin/vmk");
  RunFrom("inst");
  EXPECT_EQ(N(FrameworkPath()), NativeOf("inst"));
}

TEST_F(ModulePathsTest, NoMarkerUpToTheRootIsAnError) {
  RunFrom("a/b");
  EXPECT_EQ(ThrownText([] { FrameworkPath(); }), "Unable to locate Vorlith path");
  EXPECT_EQ(getenv("VRLPATH"), nullptr);
  // An empty variable counts as unset.
  setenv("VRLPATH", "", 1);
  EXPECT_EQ(ThrownText([] { FrameworkPath(); }), "Unable to locate Vorlith path");
  // Nothing was kept: once the installation appears, it is found.
  MakeFile("a/bin/vmk");
  EXPECT_EQ(N(FrameworkPath()), NativeOf("a"));
}

TEST_F(ModulePathsTest, EnumModulesListsTheInstalledModules) {
  setenv("VRLPATH", Root().c_str(), 1);
  MakeDirs("mod/vrl.mod/stream.mod");
  MakeDirs("mod/pub.mod/lua.mod");
  MakeDirs("mod/vrl.mod/stream.mod/inner.mod");  // deeper than a module
  MakeFile("mod/vrl.mod/notes.txt");
  MakeFile("mod/vrl.mod/fake.mod");  // a file, not a directory
  MakeDirs("mod/pub.mod/lua");       // no .mod suffix

  std::vector<std::string> all = Names(EnumModules(S("")));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{"pub.lua", "vrl.stream"}));

  Ref<TList> list = New<TList>();
  list->AddLast(S("first"));
  Ref<TList> same = EnumModules(S("vrl"), list);
  EXPECT_EQ(same.object(), list.object());
  EXPECT_EQ(Names(list), (std::vector<std::string>{"first", "vrl.stream"}));

  EXPECT_TRUE(Names(EnumModules(S("missing"))).empty());
  EXPECT_TRUE(Names(EnumModules(S("vrl.stream"))).empty());
}

TEST_F(ModulePathsTest, EnumModulesEndsOnOddTrees) {
  setenv("VRLPATH", Root().c_str(), 1);
  MakeDirs("mod/vrl.mod/stream.mod");
  // A directory called ".mod" names the top again; a link back up loops.
  MakeDirs("mod/.mod");
  std::filesystem::create_directory_symlink("..", NativeOf("mod/vrl.mod/loop.mod"));
  std::filesystem::create_directory_symlink(".", NativeOf("mod/vrl.mod/again.mod"));
  std::vector<std::string> all = Names(EnumModules(S("")));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{"vrl.again", "vrl.loop", "vrl.stream"}));
}

}  // namespace
