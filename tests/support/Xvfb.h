// A private X server for tests that need a real display: starts Xvfb on a
// free display number (1024 x 768 x 24, Mesa's software OpenGL), points
// DISPLAY at it, and stops it when the test program ends. Tests skip when
// Xvfb is not installed.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vrl::testing_support {

class XvfbEnvironment : public ::testing::Environment {
 public:
  static bool Available() { return _display != 0; }

  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int display = 90; display < 140; ++display) {
      std::string lock = "/tmp/.X" + std::to_string(display) + "-lock";
      if (access(lock.c_str(), F_OK) == 0) continue;
      pid_t pid = fork();
      if (pid == 0) {
        std::string name = ":" + std::to_string(display);
        execl("/usr/bin/Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
              "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
      }
      if (pid < 0) return;
      std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
      for (int i = 0; i < 100; ++i) {
        struct stat info;
        if (stat(socket.c_str(), &info) == 0) {
          _pid = pid;
          _display = display;
          std::string value = ":" + std::to_string(display);
          setenv("DISPLAY", value.c_str(), 1);
          unsetenv("SDL_VIDEODRIVER");
          usleep(100000);
          return;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // it failed: try the next number
        usleep(50000);
      }
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  void TearDown() override {
    if (_pid > 0) {
      kill(_pid, SIGTERM);
      waitpid(_pid, nullptr, 0);
      _pid = 0;
    }
  }

 private:
  static inline pid_t _pid = 0;
  static inline int _display = 0;
};

}  // namespace vrl::testing_support

#define VRL_REQUIRE_DISPLAY()                                                         \
  do {                                                                                \
    if (!::vrl::testing_support::XvfbEnvironment::Available()) GTEST_SKIP() << "no Xvfb"; \
  } while (0)
