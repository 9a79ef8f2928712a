#include "runtime/Startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/Array.h"
#include "runtime/Memory.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

std::string CurrentDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? buffer : "";
}

TEST(StartupTest, ApplicationDirectoryOfPath) {
  EXPECT_EQ(ApplicationDirectoryOf("/opt/x/card"), "/opt/x");
  EXPECT_EQ(ApplicationDirectoryOf("card"), "");
  EXPECT_EQ(ApplicationDirectoryOf("C:/card.exe"), "C:/");
  EXPECT_EQ(ApplicationDirectoryOf("C:/games/card.exe"), "C:/games");
  // Only the last "/" counts, and only a ":" right before it keeps it.
  EXPECT_EQ(ApplicationDirectoryOf("a:b/c/"), "a:b/c");
  EXPECT_EQ(ApplicationDirectoryOf(WithForwardSlashes("D:\\x\\card.exe")), "D:/x");
}

TEST(StartupTest, GlobalsDescribeTheTestProgram) {
  std::string file = ApplicationFile()->ToNarrow();
  std::string directory = ApplicationDirectory()->ToNarrow();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(file, directory + "/runtime_tests");
  EXPECT_EQ(access(file.c_str(), X_OK), 0);
  EXPECT_EQ(ApplicationTitle()->ToNarrow(), "Vorlith Application");
  // The test main starts the runtime without changing the directory.
  EXPECT_EQ(LaunchDirectory()->ToNarrow(), CurrentDirectory());
  EXPECT_EQ(ApplicationFile()->RefCount() & ~kQueuedMark, 1u) << "a global holds a counted reference";
}

// Runs in a child: starts as a program would, from the root directory.
[[noreturn]] void StartAsProgram() {
  if (chdir("/") != 0) std::_Exit(2);
  char program[] = "card";
  char spaced[] = "two words";
  char latin[] = "caf\xe9";
  char* argv[] = {program, spaced, latin, nullptr};
  StartProgram(3, argv, GCStackBase());
  bool ok = LaunchDirectory()->ToNarrow() == "/" &&
            CurrentDirectory() == ApplicationDirectory()->ToNarrow() &&
            ApplicationArguments()->Length() == 3 && std::string(ApplicationArguments()->Tag()) == "$";
  for (int i = 0; ok && i < 3; ++i) {
    auto* s = static_cast<String*>(ApplicationArguments()->GetObject(i));
    ok = s->Equals(String::FromNarrowChars(argv[i]));
  }
  std::_Exit(ok ? 0 : 1);
}

TEST(StartupTest, ProgramStartEntersTheApplicationDirectory) {
  EXPECT_EXIT(StartAsProgram(), testing::ExitedWithCode(0), "");
}

// An accented letter and a character outside the 16-bit range (U+1D11E).
constexpr char kNonAsciiName[] = "caf\xC3\xA9 \xF0\x9D\x84\x9E";
constexpr char16_t kNonAsciiUnits[] = u"caf\u00E9 \U0001D11E";

// Runs in a child: a program installed in (and started from) a directory
// whose name is not ASCII enters its directory and finds the file beside it.
[[noreturn]] void StartUnderNonAsciiPath() {
  char root[] = "/tmp/vrl-startup-XXXXXX";
  if (!mkdtemp(root)) std::_Exit(2);
  std::string directory = std::string(root) + "/" + kNonAsciiName;
  std::string beside = directory + "/beside.txt";
  if (mkdir(directory.c_str(), 0700) != 0) std::_Exit(2);
  if (FILE* f = std::fopen(beside.c_str(), "w")) std::fclose(f);
  std::string_view rootName = root;
  std::u16string units(rootName.begin(), rootName.end());  // ASCII
  units = units + u"/" + kNonAsciiUnits;

  SetApplicationPaths(directory, directory + "/card");
  bool named = LaunchDirectory()->View() == units && ApplicationFile()->View() == units + u"/card" &&
               ApplicationDirectory()->View() == units;
  if (!named) std::fputs("the paths are not decoded as UTF-8\n", stderr);
  bool entered = chdir("/") == 0;
  EnterApplicationDirectory();
  entered = entered && CurrentDirectory() == directory && access("beside.txt", R_OK) == 0;
  if (!entered) std::fputs("the application directory was not entered\n", stderr);

  unlink(beside.c_str());
  rmdir(directory.c_str());
  rmdir(root);
  std::_Exit(named && entered ? 0 : 1);
}

TEST(StartupTest, NonAsciiInstallPathIsDecodedAsTheFileLayerDecodesNames) {
  EXPECT_EXIT(StartUnderNonAsciiPath(), testing::ExitedWithCode(0), "");
}

TEST(StartupTest, EndRunsEndHandlersInReverseOrder) {
  EXPECT_EXIT(
      {
        RegisterEndHandler([] { std::fputs("first handler\n", stderr); });
        RegisterEndHandler([] { std::fputs("second handler\n", stderr); });
        End();
      },
      testing::ExitedWithCode(0), "second handler\nfirst handler");
}

}  // namespace
