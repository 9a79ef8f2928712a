#include "runtime/Startup.h"

#include <gtest/gtest.h>
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
