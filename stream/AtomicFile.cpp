#include "stream/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "runtime/Exceptions.h"
#include "stream/CStream.h"
#include "stream/NativePath.h"

namespace vrl {

namespace {

constexpr char kMarker[] = ".vrl-save-";
constexpr std::size_t kSuffixDigits = 12;
// Room for the dot, the marker and the suffix within a file name's 255 bytes.
constexpr std::size_t kNameKept = 200;

// The file a save of `target` replaces: the target itself, or the file a
// symbolic link leads to. nullopt when the save cannot go through a
// temporary file (a link that leads nowhere, something that is not a
// regular file).
std::optional<std::string> Destination(const std::string& target) {
  struct stat st {};
  if (lstat(target.c_str(), &st) != 0) return target;  // a new file
  if (S_ISLNK(st.st_mode)) {
    char* resolved = realpath(target.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string real = resolved;
    std::free(resolved);
    if (stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return real;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return target;
}

std::string RandomSuffix() {
  unsigned char bytes[kSuffixDigits / 2] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
    // No entropy yet (very early boot): the process id and a counter still
    // keep names apart, and O_EXCL catches the rest.
    static unsigned counter = 0;
    unsigned mix = unsigned(getpid()) * 2654435761U + ++counter;
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(mix);
      mix = mix * 1103515245U + 12345U;
    }
  }
  static const char kHex[] = "0123456789abcdef";
  std::string suffix;
  for (unsigned char b : bytes) {
    suffix += kHex[b >> 4];
    suffix += kHex[b & 15];
  }
  return suffix;
}

// The process id a temporary file's name carries, or 0 when `name` is not
// one: ".<name>.vrl-save-<pid>-<12 hex digits>".
pid_t WriterOf(std::string_view name) {
  std::size_t at = name.rfind(kMarker);
  if (name.empty() || name[0] != '.' || at == std::string_view::npos || at < 2) return 0;
  std::string_view rest = name.substr(at + sizeof kMarker - 1);
  std::size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  if (rest.size() - dash - 1 != kSuffixDigits) return 0;
  pid_t pid = 0;
  for (char c : rest.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  for (char c : rest.substr(dash + 1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  }
  return pid;
}

// Removes what killed writers left of earlier saves of `name` in
// `directory`: the temporary files of this name whose process no longer
// exists. A live process's file may be a save in progress and is kept, as is
// every file of this process (another thread may be saving). Process ids
// only mean something on this machine; a directory shared with another
// machine may lose that machine's save in progress, which then fails and
// says so, never the target itself.
void RemoveLeftovers(const std::string& directory, const std::string& prefix) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return;
  const pid_t self = getpid();
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    pid_t writer = WriterOf(name);
    if (writer <= 0 || writer == self) continue;
    if (kill(writer, 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

// Forces the directory entry of a rename to the disk. Best effort: the new
// file is in place already, and some file systems cannot sync a directory.
void SyncDirectory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicFile::AtomicFile(Object* url) {
  String* text = CastRaw<String>(vrl::IsNull(url) ? nullptr : url);
  // A plain file path, as OpenStream tells it: a non-empty string without
  // "::". Anything else is written as it always was.
  if (!text || text->Length() == 0 || text->Find(u"::"_vs) >= 0) {
    _stream = WriteStream(url);
    return;
  }
  Ref<String> slashed = text->Replace(u"\\"_vs, u"/"_vs);
  auto native = NativePath(slashed);
  if (!native || native->empty()) return;  // no file can have this name
  OpenNative(*native);
}

AtomicFile::AtomicFile(const NativeName& target) {
  if (!target.path.empty()) OpenNative(target.path);
}

void AtomicFile::OpenNative(const std::string& target) {
  std::optional<std::string> destination = Destination(target);
  if (!destination) {
    _stream = TCStream::OpenNative(target.c_str(), 0, 1);
    return;
  }
  const std::string& path = *destination;
  std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return;  // a directory's name: nothing to open
  std::string prefix = path.substr(0, path.size() - name.size());
  struct stat old {};
  const bool exists = stat(path.c_str(), &old) == 0;
  // Replacing needs only the directory's permission; a file that could not
  // be opened for writing must not be saved over either.
  if (exists && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return;
  for (int attempt = 0; attempt < 100 && _fd < 0; ++attempt) {
    std::string temp =
        prefix + "." + name.substr(0, kNameKept) + kMarker + std::to_string(getpid()) + "-" + RandomSuffix();
    // 0666 less the umask, as a plain open of a new file gets.
    _fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (_fd >= 0) {
      _temp = temp;
    } else if (errno != EEXIST) {
      return;  // a read-only or full directory, or one that does not exist
    }
  }
  if (_fd < 0) return;
  _target = path;
  if (exists) {
    fchmod(_fd, old.st_mode & 07777);
    // Only a privileged process may give a file away; elsewhere the new
    // file is ours, as a rewritten one would not be, and that is all we can
    // do.
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      if (fchown(_fd, old.st_uid, old.st_gid) != 0) errno = 0;
    }
  }
  std::FILE* file = fdopen(_fd, "wb");
  if (!file) {
    close(_fd);
    _fd = -1;
    unlink(_temp.c_str());
    _temp.clear();
    return;
  }
  _stream = TCStream::CreateWithCStream(file, TCStream::MODE_WRITE);
}

AtomicFile::~AtomicFile() {
  if (!_finished) Abandon();
}

void AtomicFile::Abandon() {
  _finished = true;
  Ref<TStream> stream = std::move(_stream);
  if (!stream.IsNull()) {
    try {
      stream->Close();
    } catch (...) {
      // Whatever made us abandon the save came first.
    }
  }
  if (!_temp.empty()) unlink(_temp.c_str());
  _temp.clear();
}

bool AtomicFile::Commit() {
  if (_finished || _stream.IsNull()) {
    _finished = true;
    return false;
  }
  if (_temp.empty()) {
    _finished = true;
    Ref<TStream> stream = std::move(_stream);
    return stream->Close() == 0;
  }
  bool delivered = _stream->Flush() == 0 && fsync(_fd) == 0;
  if (_stream->Close() != 0) delivered = false;
  _stream = nullptr;
  _fd = -1;
  if (!delivered || std::rename(_temp.c_str(), _target.c_str()) != 0) {
    Abandon();
    return false;
  }
  _finished = true;
  std::string temp = std::move(_temp);
  _temp.clear();
  std::string directory = DirectoryOf(_target);
  SyncDirectory(directory);
  std::size_t slash = temp.rfind('/');
  std::string own = slash == std::string::npos ? temp : temp.substr(slash + 1);
  RemoveLeftovers(directory, own.substr(0, own.rfind(kMarker) + sizeof kMarker - 1));
  return true;
}

void AtomicFile::CommitOrThrow() {
  if (!Commit()) ThrowStreamWriteException();
}

bool AtomicFile::IsTemporaryName(const std::string& name) { return WriterOf(name) > 0; }

}  // namespace vrl
