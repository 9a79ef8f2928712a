// Helpers for the tests of saves that must never lose a file: running a save
// in a child process under conditions that make writing fail, and looking
// at what a save left in a directory.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/Exceptions.h"
#include "stream/AtomicFile.h"

namespace vrl::testing_support {

/// What a child's body reports through its exit status.
enum ChildResult : int { kChildSucceeded = 0, kChildFailed = 1, kChildThrew = 2, kChildCrashed = 3 };

/// Runs `body` in a child process whose files may not grow beyond
/// `fileLimit` bytes (RLIMIT_FSIZE, with SIGXFSZ ignored, so a write beyond
/// it fails with EFBIG; 0 for no limit) and, with `uid` set, that runs as
/// that user. The body returns true for success; a framework exception
/// counts as kChildThrew.
inline int RunInChild(const std::function<bool()>& body, rlim_t fileLimit, uid_t uid = uid_t(-1)) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (uid != uid_t(-1) && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(kChildCrashed);
    if (fileLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{fileLimit, fileLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kChildCrashed);
    }
    int result = kChildCrashed;
    try {
      result = body() ? kChildSucceeded : kChildFailed;
    } catch (const ThrownObject&) {
      result = kChildThrew;
    } catch (...) {
      result = kChildCrashed;
    }
    _exit(result);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

/// The names in `directory` that are the temporary files of saves.
inline std::vector<std::string> TemporaryFiles(const std::string& directory) {
  std::vector<std::string> found;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (AtomicFile::IsTemporaryName(entry->d_name)) found.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return found;
}

}  // namespace vrl::testing_support
