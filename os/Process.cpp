#include "os/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "os/FileSystem.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"

namespace vrl {

const ClassRecord& TPipeStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPipeStream>("TPipeStream", [](auto& d) {
    d.template Field<&TPipeStream::readbuffer>("readbuffer", "[]b");
    d.template Field<&TPipeStream::bufferpos>("bufferpos");
    d.template Field<&TPipeStream::readhandle>("readhandle");
    d.template Field<&TPipeStream::writehandle>("writehandle");
    d.template Method<&TPipeStream::Close>("Close");
    d.template Method<&TPipeStream::Flush>("Flush");
    d.template Method<&TPipeStream::ReadLine>("ReadLine");
    d.template Method<&TPipeStream::ReadAvail>("ReadAvail");
    d.template Method<&TPipeStream::ReadPipe>("ReadPipe", "()[]b");
    d.template Function<&TPipeStream::Create>("Create");
  });
  return record;
}

const ClassRecord& TProcess::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TProcess>("TProcess", [](auto& d) {
    d.template Field<&TProcess::name>("name");
    d.template Field<&TProcess::handle>("handle");
    d.template Field<&TProcess::pipe>("pipe");
    d.template Field<&TProcess::err>("err");
    d.template Method<&TProcess::Status>("Status");
    d.template Method<&TProcess::Close>("Close");
    d.template Method<&TProcess::Terminate>("Terminate");
    d.template Function<&TProcess::Create>("Create");
    d.template Function<&TProcess::FlushZombies>("FlushZombies");
    d.template Function<&TProcess::TerminateAll>("TerminateAll");
  });
  return record;
}

namespace {

// Never destroyed: TerminateAll runs from an end handler.
Ref<TList>& ProcessList() {
  static auto* list = new Ref<TList>;
  return *list;
}

void CloseHandle(int32_t& fd) {
  if (fd > 0) close(fd);
  fd = 0;
}

// 0 means "no handle" in a pipe stream, so no pipe end may be 0, 1 or 2 (a
// program started with its standard streams closed would get those numbers
// back from pipe()). Moves such an end above them, keeping close-on-exec.
bool AboveStandardStreams(int& fd) {
  if (fd > 2) return true;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  fd = moved;
  return moved > 2;
}

// Both ends close-on-exec: the child's ends reach it through the spawn's
// dup2 onto 0, 1 and 2 only.
bool MakePipe(int ends[2]) {
  ends[0] = ends[1] = -1;
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  if (AboveStandardStreams(ends[0]) && AboveStandardStreams(ends[1])) return true;
  for (int i = 0; i < 2; ++i)
    if (ends[i] >= 0) close(ends[i]);
  return false;
}

void ClosePipe(int ends[2]) {
  for (int i = 0; i < 2; ++i) {
    if (ends[i] >= 0) close(ends[i]);
    ends[i] = -1;
  }
}

// One write with SIGPIPE blocked on this thread. A write to a pipe nobody
// reads raises SIGPIPE for the writing thread; while it is blocked the
// signal stays pending and the write fails with EPIPE, and the pending
// signal is then consumed so it never arrives later. One that was pending
// already before the write belongs to someone else and is left alone.
ssize_t WriteWithoutSigpipe(int fd, const void* buf, std::size_t count) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  ssize_t written = 0;
  do {
    written = write(fd, buf, count);
  } while (written < 0 && errno == EINTR);
  if (written < 0 && errno == EPIPE && !pendingBefore) {
    const timespec noWait{};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> DirectChildren(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    std::string path = std::string("/proc/") + entry->d_name + "/stat";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) continue;
    buf[n] = '\0';
    // "pid (name) state ppid ...": the name may hold anything, ")" included.
    char* nameEnd = std::strrchr(buf, ')');
    if (!nameEnd) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(nameEnd + 1, " %c %ld", &state, &ppid) == 2 && ppid == parent)
      children.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return children;
}

void Reap(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

void process::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  containers::Init();
  filesystem::Init();
  vrRegisterClass(TPipeStream::StaticClass());
  vrRegisterClass(TProcess::StaticClass());
  RegisterEndHandler(&TProcess::TerminateAll);
}

TList* StartedProcesses() { return ProcessList().get(); }

// ---------------------------------------------------------------------------
// TPipeStream

Ref<TPipeStream> TPipeStream::Create(int32_t readhandle, int32_t writehandle) {
  Ref<TPipeStream> stream = New<TPipeStream>();
  stream->readbuffer = Array::New("b", kBufferSize);
  stream->readhandle = std::max(readhandle, 0);
  stream->writehandle = std::max(writehandle, 0);
  return stream;
}

TPipeStream::~TPipeStream() { TPipeStream::Close(); }

int32_t TPipeStream::Close() {
  CloseHandle(readhandle);
  CloseHandle(writehandle);
  return 0;
}

int32_t TPipeStream::Read(void* buf, int32_t count) {
  if (readhandle <= 0 || count <= 0) return 0;
  ssize_t n = 0;
  do {
    n = read(readhandle, buf, std::size_t(count));
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<int32_t>(n) : 0;
}

int32_t TPipeStream::Write(const void* buf, int32_t count) {
  if (writehandle <= 0 || count <= 0) return 0;
  ssize_t n = WriteWithoutSigpipe(writehandle, buf, std::size_t(count));
  return n > 0 ? static_cast<int32_t>(n) : 0;
}

int32_t TPipeStream::Flush() { return 0; }

int32_t TPipeStream::ReadAvail() {
  if (readhandle <= 0) return 0;
  int waiting = 0;
  if (ioctl(readhandle, FIONREAD, &waiting) != 0) return 0;
  return std::max(waiting, 0);
}

Ref<Array> TPipeStream::ReadPipe() {
  int32_t waiting = ReadAvail();
  if (waiting <= 0) return Ref<Array>(EmptyArray());
  Ref<Array> bytes = Array::New("b", waiting);
  int32_t got = Read(bytes->Data(), waiting);
  if (got == waiting) return bytes;
  return vrSliceArray("b", bytes, 0, got);
}

Ref<String> TPipeStream::ReadLine() {
  auto* held = readbuffer->DataAs<uint8_t>();
  int32_t waiting = ReadAvail();
  if (waiting > 0) {
    waiting = std::min(waiting, kBufferSize - bufferpos);
    if (waiting <= 0) vrRuntimeError("PipeStream ReadBuffer Overflow");
    bufferpos += Read(held + bufferpos, waiting);
  }
  const uint8_t* lineFeed = std::find(held, held + bufferpos, uint8_t(10));
  if (lineFeed == held + bufferpos) return Ref<String>(EmptyString());
  auto at = static_cast<int32_t>(lineFeed - held);
  int32_t end = at > 0 && held[at - 1] == 13 ? at - 1 : at;
  int32_t start = held[0] == 13 ? 1 : 0;
  Ref<String> line =
      end > start ? String::FromByteBuffer(held + start, end - start) : Ref<String>(EmptyString());
  std::memmove(held, held + at + 1, std::size_t(bufferpos - at - 1));
  bufferpos -= at + 1;
  return line;
}

// ---------------------------------------------------------------------------
// TProcess

Ref<TProcess> TProcess::Create(String* cmd, int32_t flags) {
  FlushZombies();
  std::string command = cmd ? cmd->ToUtf8String() : std::string();
  if (command.find('\0') != std::string::npos) return {};

  int output[2] = {-1, -1};  // child's standard output -> parent
  int input[2] = {-1, -1};   // parent -> child's standard input
  int errors[2] = {-1, -1};  // child's standard error -> parent
  if (!MakePipe(output) || !MakePipe(input) || !MakePipe(errors)) {
    ClosePipe(output);
    ClosePipe(input);
    ClosePipe(errors);
    return {};
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  // The child starts with no blocked signals and the default SIGPIPE,
  // whatever the calling thread has; every child leads its own process
  // group, and without flag bit 1 its own session.
  sigset_t none;
  sigset_t pipeSignal;
  sigemptyset(&none);
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (flags & 1) {
    spawnFlags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  } else {
    spawnFlags |= POSIX_SPAWN_SETSID;
  }
  posix_spawnattr_setflags(&attributes, spawnFlags);

  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {shell, dashC, command.data(), nullptr};
  pid_t pid = 0;
  int failed = posix_spawn(&pid, shell, &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);

  // The child's ends belong to the child now (or to nobody).
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  if (failed != 0) {
    close(input[1]);
    close(output[0]);
    close(errors[0]);
    return {};
  }

  Ref<TProcess> process = New<TProcess>();
  process->handle = pid;
  process->pipe = TPipeStream::Create(output[0], input[1]);
  process->err = TPipeStream::Create(errors[0], 0);
  process->name = cmd ? Ref<String>(cmd) : Ref<String>(EmptyString());
  if (!ProcessList()) ProcessList() = New<TList>();
  ProcessList()->AddLast(process);
  return process;
}

int32_t TProcess::Status() {
  if (handle == 0) return 0;
  int status = 0;
  pid_t result = 0;
  do {
    result = waitpid(handle, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return 1;
  // Ended and reaped now, or no longer ours to wait for (reaped elsewhere):
  // either way the id may be reused, so it is dropped.
  if (result == handle || (result < 0 && errno == ECHILD)) handle = 0;
  return 0;
}

int32_t TProcess::Close() {
  if (pipe) pipe->Close();
  if (err) err->Close();
  pipe = nullptr;
  err = nullptr;
  return 0;
}

int32_t TProcess::Terminate() {
  if (handle == 0) return 0;
  pid_t pid = handle;
  // The children first: once the child is gone they would belong to init
  // and could no longer be told apart.
  for (pid_t child : DirectChildren(pid)) kill(child, SIGKILL);
  // The child leads its group: this reaches what its children started in
  // the same group too.
  kill(-pid, SIGKILL);
  int32_t result = kill(pid, SIGKILL) == 0 ? 1 : 0;
  Reap(pid);
  handle = 0;
  return result;
}

void TProcess::FlushZombies() {
  TList* list = ProcessList().get();
  if (!list) return;
  Ref<TLink> link = list->FirstLink();
  while (link) {
    Ref<TLink> next = link->NextLink();
    auto* process = CastRaw<TProcess>(link->Value().object());
    if (!process || process->Status() == 0) link->Remove();
    link = next;
  }
}

void TProcess::TerminateAll() {
  TList* list = ProcessList().get();
  if (!list) return;
  for (TProcess* process : ListOf<TProcess>(list)) process->Terminate();
  list->Clear();
}

}  // namespace vrl
