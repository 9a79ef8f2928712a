// The tests' private X server (tests/support/Xvfb.h): test programs that run
// at the same time each get a server of their own. Its own executable, so
// that the children are forked from a process without other threads.
#include "tests/support/Xvfb.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

using vrl::testing_support::XvfbEnvironment;

namespace {

// A process that ended but was not reaped yet (its parent died, and the
// container's first process may not reap) counts as ended.
bool Running(pid_t process) {
  std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
  std::string pid, name, state;
  if (!(stat >> pid >> name >> state)) return false;
  return state != "Z" && state != "X";
}

bool SocketExists(int display) {
  struct stat info {};
  std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
  return stat(socket.c_str(), &info) == 0;
}

struct Program {
  pid_t pid = -1;
  int report = -1;   // reads the child's display number and server pid
  int release = -1;  // closing it lets the child stop its server and end
};

// A child that starts its server like a test program, reports it, and
// stops it when released. `earlier`: a program started before, whose pipe
// ends the new child must not keep open.
Program StartProgram(const Program* earlier = nullptr) {
  int report[2], release[2];
  Program p;
  if (pipe(report) != 0 || pipe(release) != 0) return p;
  p.pid = fork();
  if (p.pid == 0) {
    close(report[0]);
    close(release[1]);
    if (earlier) {
      close(earlier->report);
      close(earlier->release);
    }
    XvfbEnvironment xvfb;
    xvfb.SetUp();
    int answer[2] = {XvfbEnvironment::Display(), static_cast<int>(XvfbEnvironment::ServerProcess())};
    if (write(report[1], answer, sizeof answer) != sizeof answer) _exit(1);
    char c = 0;
    while (read(release[0], &c, 1) > 0) {
    }
    xvfb.TearDown();
    _exit(0);
  }
  close(report[1]);
  close(release[0]);
  p.report = report[0];
  p.release = release[1];
  return p;
}

TEST(XvfbTest, ProgramsStartedTogetherGetServersOfTheirOwn) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
  Program a = StartProgram();
  Program b = StartProgram(&a);
  ASSERT_GT(a.pid, 0);
  ASSERT_GT(b.pid, 0);
  int first[2] = {-1, 0}, second[2] = {-1, 0};
  ASSERT_EQ(read(a.report, first, sizeof first), static_cast<ssize_t>(sizeof first));
  ASSERT_EQ(read(b.report, second, sizeof second), static_cast<ssize_t>(sizeof second));
  EXPECT_GE(first[0], 0);
  EXPECT_GE(second[0], 0);
  EXPECT_NE(first[0], second[0]);
  EXPECT_NE(first[1], second[1]);
  EXPECT_TRUE(SocketExists(first[0]));
  EXPECT_TRUE(SocketExists(second[0]));

  // Each program stops its own server only: the other one keeps running.
  // (The display number may be taken again at once by another program.)
  close(a.release);
  int status = -1;
  ASSERT_EQ(waitpid(a.pid, &status, 0), a.pid);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(Running(first[1]));
  EXPECT_TRUE(Running(second[1]));
  EXPECT_TRUE(SocketExists(second[0]));
  close(b.release);
  ASSERT_EQ(waitpid(b.pid, &status, 0), b.pid);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(Running(second[1]));
  close(a.report);
  close(b.report);
}

// A program that CTest kills for its timeout never reaches TearDown; its
// server used to stay behind, holding a display, for every such case.
TEST(XvfbTest, ServerEndsWhenItsProgramIsKilled) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
  Program a = StartProgram();
  ASSERT_GT(a.pid, 0);
  int answer[2] = {-1, 0};
  ASSERT_EQ(read(a.report, answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
  ASSERT_GE(answer[0], 0);
  ASSERT_TRUE(Running(answer[1]));
  kill(a.pid, SIGKILL);
  ASSERT_EQ(waitpid(a.pid, nullptr, 0), a.pid);
  // The server gets its signal when the program dies; it may take a moment
  // to end. The bound is generous: only a server that stays fails.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Running(answer[1]) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  bool stayed = Running(answer[1]);
  if (stayed) kill(answer[1], SIGKILL);
  EXPECT_FALSE(stayed) << "the server outlived its program";
  close(a.report);
  close(a.release);
}

}  // namespace
