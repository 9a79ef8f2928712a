#include "platform/Dialogs.h"

#include <SDL.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/Window.h"

extern char** environ;

namespace vrl::platform {

namespace {

// Runs a program with its standard output in a pipe and returns what it
// wrote when it exits with status 0; "" otherwise.
std::string RunForOutput(const std::vector<std::string>& arguments) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string output;
  if (rc == 0) {
    char buffer[4096];
    for (;;) {
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n > 0) {
        output.append(buffer, static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
  }
  close(fds[0]);
  if (rc != 0) return {};
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

// Focus is given back to the window that had it before a modal dialog.
class FocusKeeper {
 public:
  FocusKeeper() : _window(ActiveWindow()) {}
  ~FocusKeeper() {
    if (_window) FocusWindow(_window);
  }
  uint32_t Window() const { return _window; }

 private:
  uint32_t _window;
};

}  // namespace

int32_t ShowMessageBox(MessageBoxKind kind, const std::string& caption, const std::string& text,
                       bool serious) {
  FocusKeeper focus;
  // Button ids are the results.
  SDL_MessageBoxButtonData buttons[3];
  int count = 0;
  switch (kind) {
    case MessageBoxKind::Notify:
      buttons[count++] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                          0, "OK"};
      break;
    case MessageBoxKind::Confirm:
      buttons[count++] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "OK"};
      buttons[count++] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "Cancel"};
      break;
    case MessageBoxKind::Proceed:
      buttons[count++] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"};
      buttons[count++] = {0, 0, "No"};
      buttons[count++] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, -1, "Cancel"};
      break;
  }
  SDL_MessageBoxData data;
  SDL_zero(data);
  data.flags = serious ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
  data.window = focus.Window() ? SDL_GetWindowFromID(focus.Window()) : nullptr;
  data.title = caption.c_str();
  data.message = text.c_str();
  data.numbuttons = count;
  data.buttons = buttons;
  int chosen = -1;
  int32_t failed = kind == MessageBoxKind::Proceed ? -1 : 0;
  if (SDL_ShowMessageBox(&data, &chosen) != 0) return failed;
  if (kind == MessageBoxKind::Notify) return 0;
  // Closing the box without a button gives -1: Cancel.
  if (chosen == -1) return kind == MessageBoxKind::Proceed ? -1 : 0;
  return chosen;
}

bool ProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path || name.empty()) return false;
  std::string_view dirs(path);
  for (;;) {
    std::size_t end = dirs.find(':');
    std::string_view dir = dirs.substr(0, end);
    std::string candidate = dir.empty() ? std::string(".") : std::string(dir);
    candidate += '/';
    candidate += name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    if (end == std::string_view::npos) return false;
    dirs.remove_prefix(end + 1);
  }
}

std::string RequestFileWithDialog(const std::string& title, const std::vector<FileFilterGroup>& groups,
                                  int32_t preselected, bool save, const std::string& directory,
                                  const std::string& file) {
  if (!ProgramOnPath("zenity")) return {};
  FocusKeeper focus;
  std::vector<std::string> args = {"zenity", "--file-selection", "--title=" + title};
  if (save) {
    args.push_back("--save");
    args.push_back("--confirm-overwrite");
  }
  if (!directory.empty() || !file.empty()) {
    std::string start = directory;
    if (!start.empty() && start.back() != '/') start += '/';
    args.push_back("--filename=" + start + file);
  }
  // zenity shows its first filter: the preselected group goes first, the
  // others follow in their order.
  auto addGroup = [&](const FileFilterGroup& g) {
    std::string patterns = g.patterns;
    for (char& c : patterns)
      if (c == ';') c = ' ';
    args.push_back("--file-filter=" + g.description + " | " + patterns);
  };
  std::size_t first = preselected >= 1 && static_cast<std::size_t>(preselected) <= groups.size()
                          ? static_cast<std::size_t>(preselected) - 1
                          : 0;
  if (!groups.empty()) addGroup(groups[first]);
  for (std::size_t i = 0; i < groups.size(); ++i)
    if (i != first) addGroup(groups[i]);
  return RunForOutput(args);
}

std::string RequestDirWithDialog(const std::string& title, const std::string& path) {
  if (!ProgramOnPath("zenity")) return {};
  FocusKeeper focus;
  std::vector<std::string> args = {"zenity", "--file-selection", "--directory", "--title=" + title};
  if (!path.empty()) args.push_back("--filename=" + (path.back() == '/' ? path : path + "/"));
  return RunForOutput(args);
}

bool OpenUrlWithDesktop(const std::string& url) {
  // xdg-open's exit status tells whether a handler took the URL; SDL_OpenURL
  // starts it in a detached grandchild and cannot tell, so it is run here.
  if (!ProgramOnPath("xdg-open")) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  // Some openers run the handler in the foreground (a browser's first
  // window) and end only with it. One that is still running after a few
  // seconds has found a handler: it counts as accepted, and a thread of its
  // own collects its exit later.
  struct Exit {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    int status = 0;
  };
  auto exit = std::make_shared<Exit>();
  std::thread([exit, pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> guard(exit->lock);
    exit->done = true;
    exit->status = status;
    exit->ended.notify_all();
  }).detach();
  std::unique_lock<std::mutex> guard(exit->lock);
  if (!exit->ended.wait_for(guard, std::chrono::seconds(5), [&] { return exit->done; })) return true;
  return WIFEXITED(exit->status) && WEXITSTATUS(exit->status) == 0;
}

}  // namespace vrl::platform
