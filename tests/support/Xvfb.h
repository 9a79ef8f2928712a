// A private X server for tests that need a real display: starts Xvfb
// (1024 x 768 x 24, Mesa's software OpenGL) on a display it chooses itself,
// points DISPLAY at it, and stops it when the test program ends. Tests skip
// when Xvfb is not installed, and fail when it is but does not start.
//
// Xvfb picks a free display number and reports it (-displayfd): choosing
// one here by looking for lock files would race with other test programs
// started at the same time, and two programs could end up on one server.
//
// CTest runs every test case in a process of its own, so many servers come
// and go in one run. The server is told to end with the program that started
// it, also when that program is killed (a CTest timeout) and never reaches
// TearDown, so that no server outlives its test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

namespace vrl::testing_support {

class XvfbEnvironment : public ::testing::Environment {
 public:
  static bool Available() { return _display >= 0; }
  static bool Installed() { return access("/usr/bin/Xvfb", X_OK) == 0; }
  // Why an installed Xvfb gave no server; empty otherwise.
  static const std::string& Failure() { return _failure; }
  // The display number, -1 without a server.
  static int Display() { return _display; }
  static pid_t ServerProcess() { return _pid; }

  void SetUp() override {
    if (_pid > 0 || !Installed()) return;
    // A server that does not come up on a loaded machine gets one more try.
    for (int attempt = 0; attempt < 2 && _pid <= 0; ++attempt) Start();
  }

  void TearDown() override {
    if (_pid > 0) {
      kill(_pid, SIGTERM);
      waitpid(_pid, nullptr, 0);
      _pid = 0;
      _display = -1;
    }
  }

 private:
  void Start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      _failure = "no pipe";
      return;
    }
    // Everything the child needs is made before fork: the test program may
    // have threads, so the child only calls async-signal-safe functions.
    std::string fd = std::to_string(fds[1]);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);  // the program ended before prctl
      fcntl(fds[1], F_SETFD, 0);            // the write end stays open in Xvfb
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
            "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      _failure = "fork failed";
      return;
    }
    int display = ReadDisplay(fds[0]);
    close(fds[0]);
    if (display < 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      _failure = "Xvfb reported no display";
      return;
    }
    _pid = pid;
    _display = display;
    _failure.clear();
    std::string value = ":" + std::to_string(display);
    setenv("DISPLAY", value.c_str(), 1);
    unsetenv("SDL_VIDEODRIVER");
  }

  // Xvfb writes the number and a newline once it accepts connections; it
  // closes the pipe without a number when it fails. -1 then, or after 30 s.
  static int ReadDisplay(int fd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string text;
    for (;;) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return -1;
      pollfd p{fd, POLLIN, 0};
      int ready = poll(&p, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return -1;
      char c;
      ssize_t n = read(fd, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return -1;
      if (c == '\n') break;
      if (c < '0' || c > '9' || text.size() > 6) return -1;
      text += c;
    }
    return text.empty() ? -1 : std::atoi(text.c_str());
  }

  static inline pid_t _pid = 0;
  static inline int _display = -1;
  static inline std::string _failure;
};

}  // namespace vrl::testing_support

#define VRL_REQUIRE_DISPLAY()                                                                           \
  do {                                                                                                  \
    using ::vrl::testing_support::XvfbEnvironment;                                                      \
    if (!XvfbEnvironment::Available()) {                                                                \
      if (XvfbEnvironment::Installed()) FAIL() << "Xvfb did not start: " << XvfbEnvironment::Failure(); \
      GTEST_SKIP() << "no Xvfb";                                                                        \
    }                                                                                                   \
  } while (0)
