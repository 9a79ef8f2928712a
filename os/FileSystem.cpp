#include "os/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "stream/AtomicFile.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/CStream.h"
#include "stream/NativePath.h"
#include "stream/StreamCloser.h"

namespace vrl {

VRL_CLASS_RECORD(TDirectoryHandle, "TDirectoryHandle")

void filesystem::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  bankstream::Init();
  vrRegisterClass(TDirectoryHandle::StaticClass());
}

namespace {

using Text = std::u16string;
constexpr auto npos = Text::npos;

Text T(String* s) { return s ? Text(s->View()) : Text(); }
Ref<String> S(const Text& t) { return String::FromUnits(t); }

bool StartsWith(const Text& t, const char16_t* prefix) { return t.rfind(prefix, 0) == 0; }

Text Normalise(Text p, bool dirForm);

// A drive is one ASCII letter and a colon at the start of the path. Other
// colons are part of a name ("12:30.log", "a:b") or of a URL ("incbin::x").
bool StartsWithDrive(const Text& p) {
  return p.size() >= 2 && p[1] == u':' && ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z'));
}

Text Root(const Text& p) {
  if (StartsWith(p, u"//")) {
    auto slash = p.find(u'/', 2);
    return slash == npos ? Text() : p.substr(0, slash + 1);
  }
  if (StartsWithDrive(p) && p.size() > 2 && p[2] == u'/') return p.substr(0, 3);
  return StartsWith(p, u"/") ? Text(u"/") : Text();
}

bool IsRoot(const Text& p) { return !p.empty() && Root(p) == p; }

Text Normalise(Text p, bool dirForm) {
  for (char16_t& c : p)
    if (c == u'\\') c = u'/';
  if (!StartsWith(p, u"//")) {
    // "C:name" and "C:" gain the slash; "C::x" is a URL.
    if (StartsWithDrive(p) && (p.size() == 2 || (p[2] != u':' && p[2] != u'/'))) {
      // Rebuilt rather than inserted in place: GCC 12 misreads the in-place
      // insert as an overlapping copy (-Wrestrict).
      p = p.substr(0, 2) + u'/' + p.substr(2);
    }
  } else if (p.find(u'/', 2) == npos) {
    p += u'/';
  }
  if (dirForm && p.size() > 1 && p.back() == u'/' && !IsRoot(p)) p.pop_back();
  return p;
}

Text N(String* path) { return Normalise(T(path), false); }

// The system's name for a path; nullopt for a name no file can have (one
// holding a 0 unit). Every other name the system allows is handed over as it
// is: copying and removing must reach every file.
std::optional<std::string> Native(const Text& p) { return NativePath(S(p)); }

bool Stat(const Text& p, struct stat& st) {
  auto native = Native(p);
  return native && !native->empty() && stat(native->c_str(), &st) == 0;
}

// The attribute functions alone treat a path holding "<" or ">" as absent.
bool HasAngleBrackets(const Text& p) { return p.find_first_of(u"<>") != npos; }

bool AttributeStat(const Text& p, struct stat& st) { return !HasAngleBrackets(p) && Stat(p, st); }

bool LStat(const Text& p, struct stat& st) {
  auto native = Native(p);
  return native && !native->empty() && lstat(native->c_str(), &st) == 0;
}

int32_t TypeOf(const Text& p) {
  struct stat st {};
  if (!Stat(p, st)) return 0;
  return S_ISREG(st.st_mode) ? 1 : S_ISDIR(st.st_mode) ? 2 : 0;
}

bool Exists(const Text& p) {
  struct stat st {};
  return LStat(p, st);
}

std::vector<Text> Entries(const Text& p, bool skipDots) {
  std::vector<Text> names;
  auto native = NativePath(S(p));
  if (!native) return names;
  DIR* dir = opendir(native->empty() ? "." : native->c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    Text name = T(PathFromNative(entry->d_name));
    if (skipDots && (name == u"." || name == u"..")) continue;
    names.push_back(std::move(name));
  }
  closedir(dir);
  return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// Path text

Ref<String> PathRoot(String* path) { return S(Root(N(path))); }
int32_t IsRootPath(String* path) { return IsRoot(N(path)) ? 1 : 0; }
int32_t IsAbsolutePath(String* path) { return Root(N(path)).empty() ? 0 : 1; }
Ref<String> NormalisePath(String* path, int32_t dirForm) { return S(Normalise(T(path), dirForm != 0)); }

Ref<String> PathFileName(String* path) {
  Text p = N(path);
  auto slash = p.rfind(u'/');
  return S(slash == npos ? p : p.substr(slash + 1));
}

namespace {
Text WithoutExtension(const Text& p) {
  auto dot = p.rfind(u'.');
  auto slash = p.rfind(u'/');
  if (dot != npos && (slash == npos || dot > slash)) return p.substr(0, dot);
  return p;
}
}  // namespace

Ref<String> PathWithoutExtension(String* path) { return S(WithoutExtension(N(path))); }

Ref<String> PathBaseName(String* path) {
  Text p = WithoutExtension(N(path));
  auto slash = p.rfind(u'/');
  return S(slash == npos ? p : p.substr(slash + 1));
}

Ref<String> PathWithoutSlash(String* path) {
  Text p = N(path);
  if (!p.empty() && p.back() == u'/' && !IsRoot(p)) p.pop_back();
  return S(p);
}

Ref<String> PathDirectory(String* path) {
  Text p = N(path);
  if (p == u"." || p == u".." || IsRoot(p)) return S(p);
  auto slash = p.rfind(u'/');
  if (slash == npos) return Ref<String>(EmptyString());
  Text directory = p.substr(0, slash);
  if (IsRoot(directory + u'/')) directory += u'/';
  return S(directory);
}

Ref<String> PathExtension(String* path) {
  Text p = N(path);
  auto dot = p.rfind(u'.');
  auto slash = p.rfind(u'/');
  if (dot != npos && (slash == npos || dot > slash)) return S(p.substr(dot + 1));
  return Ref<String>(EmptyString());
}

Ref<String> CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return Ref<String>(EmptyString());
    buffer.resize(buffer.size() * 2);
  }
  return S(Normalise(T(PathFromNative(buffer.data())), false));
}

Ref<String> AbsolutePathFrom(String* path, String* workingDirectory) {
  Text p = T(path);
  Text cwd = Normalise(T(workingDirectory), false);
  // "/x" on a drive: the working directory's drive. A working directory
  // without one (every Linux one) adds nothing.
  if (StartsWith(p, u"/") && !StartsWith(p, u"//") && StartsWithDrive(cwd)) p = cwd.substr(0, 2) + p;
  p = Normalise(p, false);
  Text result = Root(p);
  Text rest;
  if (!result.empty()) {
    rest = p.substr(result.size());
  } else {
    result = cwd;
    rest = p;
  }
  std::size_t start = 0;
  while (start <= rest.size()) {
    auto end = rest.find(u'/', start);
    if (end == npos) end = rest.size();
    Text segment = rest.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == u".") continue;
    if (segment == u"..") {
      if (IsRoot(result)) continue;
      Text root = Root(result);
      auto slash = result.rfind(u'/');
      result = slash == npos ? Text() : result.substr(0, slash);
      // Never climb into the root's own text ("C:/w/.." is "C:/", not "C:").
      if (result.size() < root.size()) result = root;
      continue;
    }
    if (!result.empty() && result.back() != u'/') result += u'/';
    result += segment;
  }
  return S(result);
}

Ref<String> AbsolutePath(String* path) { return AbsolutePathFrom(path, CurrentDirectory()); }

// ---------------------------------------------------------------------------
// Attributes

int32_t PathType(String* path) {
  Text p = N(path);
  return HasAngleBrackets(p) ? 0 : TypeOf(p);
}

int64_t PathTime(String* path) {
  struct stat st {};
  return AttributeStat(N(path), st) ? int64_t(st.st_mtime) : 0;
}

int64_t PathSize(String* path) {
  struct stat st {};
  return AttributeStat(N(path), st) ? int64_t(st.st_size) : -1;
}

int32_t PathMode(String* path) {
  struct stat st {};
  return AttributeStat(N(path), st) ? int32_t(st.st_mode & 511) : -1;
}

int32_t SetPathMode(String* path, int32_t mode) {
  Text p = N(path);
  auto native = Native(p);
  return !HasAngleBrackets(p) && native && chmod(native->c_str(), mode_t(mode & 511)) == 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Files

// Removing needs no write permission on the file itself on this platform, so
// RemoveFile and MakeFile do not make the file writable first: a chmod would
// follow a symbolic link, and a failed removal would leave the file open to
// everyone.
//
// MakeFile never follows a symbolic link: a link to a file (or a dangling
// one) is replaced by the new file, and the file is created with O_EXCL, so
// it cannot appear at a link's target elsewhere. A link to a directory is
// left alone (0), as a directory is.
int32_t MakeFile(String* path) {
  auto native = Native(N(path));
  if (!native || native->empty()) return 0;
  const char* name = native->c_str();
  struct stat st {
  }, target{};
  if (lstat(name, &st) == 0 && (S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && !(stat(name, &target) == 0 &&
                                                                                 S_ISDIR(target.st_mode)))))
    unlink(name);
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  // A file that could not be removed (its directory is read-only) is
  // emptied in place.
  if (fd < 0 && errno == EEXIST && lstat(name, &st) == 0 && S_ISREG(st.st_mode))
    fd = open(name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return lstat(name, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

int32_t RemoveFile(String* path) {
  Text p = N(path);
  auto native = Native(p);
  if (!native || native->empty()) return 0;
  unlink(native->c_str());
  return Exists(p) ? 0 : 1;
}

namespace {

// Copies `in` to `out` and closes both. A stream exception (a read that
// stopped before the end, a write that could not be delivered) is a failed
// copy; any other exception propagates. True only when every byte arrived
// and the target closed cleanly.
// Copies into a save (stream/AtomicFile.h), so that the target is replaced
// only by a complete copy. The source is closed first on every way out (the
// caller's save outlives this function); a copy that failed leaves the save
// to be abandoned by its owner.
bool CopyAndCommit(TStream* in, AtomicFile& out) {
  StreamCloser reader(in);
  bool copied = true;
  try {
    CopyStream(in, out.Stream(), 4096);
  } catch (const ThrownObject& e) {
    if (!e.As<TStreamException>()) throw;
    copied = false;
  }
  reader.Close();
  return copied && out.Commit();
}

bool SameFile(const char* a, const char* b) {
  struct stat sa {
  }, sb{};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

int32_t MoveFile(String* from, String* to) {
  auto a = Native(N(from)), b = Native(N(to));
  return a && b && std::rename(a->c_str(), b->c_str()) == 0 ? 1 : 0;
}

int32_t DuplicateFile(String* from, String* to) {
  Text source = N(from), target = N(to);
  // Opening the target for writing would empty a file copied onto itself.
  auto a = Native(source), b = Native(target);
  if (a && b && SameFile(a->c_str(), b->c_str())) return 0;
  // The target is opened (and so created or emptied) only once the source
  // has opened.
  Ref<TStream> in = ReadStream(S(source));
  if (in.IsNull()) return 0;
  AtomicFile out(S(target));
  if (out.IsNull()) {
    in->Close();
    return 0;
  }
  return CopyAndCommit(in, out) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Directories

int32_t MakeDirectory(String* path, int32_t recurse) {
  Text p = Normalise(T(path), true);
  if (!recurse) {
    auto native = Native(p);
    if (native && !native->empty()) mkdir(native->c_str(), 0777);
    return TypeOf(p) == 2 ? 1 : 0;
  }
  p = T(AbsolutePath(S(p)));
  if (p.empty()) return 0;
  if (p.back() != u'/') p += u'/';
  std::size_t start = Root(p).size();
  for (auto slash = p.find(u'/', start); slash != npos; slash = p.find(u'/', slash + 1)) {
    Text prefix = p.substr(0, slash);
    if (prefix.empty() || IsRoot(prefix + u'/')) continue;
    if (TypeOf(prefix) == 2) continue;
    if (Exists(prefix)) return 0;
    auto native = Native(prefix);
    if (!native) return 0;
    mkdir(native->c_str(), 0777);
    if (TypeOf(prefix) != 2) return 0;
  }
  return 1;
}

namespace {

// Empties the directory open at `fd`, which it takes over. The walk goes by
// file descriptors (fstatat, openat, unlinkat) so that no name is looked up
// twice: a directory swapped for a symbolic link between the check and the
// descent is not followed (O_NOFOLLOW), and every entry is removed by the
// name the directory itself gave.
void RemoveContents(int fd) {
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  int at = dirfd(dir);
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone already
    if (S_ISDIR(st.st_mode)) {
      int sub = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) RemoveContents(sub);
      unlinkat(at, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(at, name.c_str(), 0);
    }
  }
  closedir(dir);
}

}  // namespace

int32_t RemoveDirectory(String* path, int32_t recurse) {
  Text p = Normalise(T(path), true);
  auto native = Native(p);
  if (!native || native->empty()) return 0;
  // Only a real directory is emptied: a link to one is not followed.
  if (recurse) {
    int fd = open(native->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) RemoveContents(fd);
  }
  rmdir(native->c_str());
  return Exists(p) ? 0 : 1;
}

namespace {

std::string JoinNative(const std::string& directory, const std::string& name) {
  return !directory.empty() && directory.back() == '/' ? directory + name : directory + '/' + name;
}

// The entries of a directory as the system's bytes, without "." and "..";
// nullopt when it cannot be listed.
std::optional<std::vector<std::string>> NativeEntries(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

bool CopyFileNative(const std::string& source, const std::string& target) {
  if (SameFile(source.c_str(), target.c_str())) return false;
  Ref<TCStream> in = TCStream::OpenNative(source.c_str(), 1, 0);
  if (in.IsNull()) return false;
  AtomicFile out(AtomicFile::NativeName{target});
  if (out.IsNull()) {
    in->Close();
    return false;
  }
  return CopyAndCommit(in, out);
}

bool CopyLink(const std::string& source, const std::string& target) {
  std::vector<char> buffer(4096);
  ssize_t n = readlink(source.c_str(), buffer.data(), buffer.size());
  if (n < 0 || std::size_t(n) >= buffer.size()) return false;
  return symlink(std::string(buffer.data(), std::size_t(n)).c_str(), target.c_str()) == 0;
}

// Below the top, names are the system's bytes as the directories give them,
// never turned back into path text: a name holding "\", ":" or "::" stays
// the name it is. Whatever cannot be copied fails the copy.
bool CopyTree(const std::string& from, const std::string& to) {
  struct stat st {};
  if (stat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Listed before `to` is made, so copying a directory into itself ends.
  auto names = NativeEntries(from);
  if (!names) return false;
  if (lstat(to.c_str(), &st) != 0) mkdir(to.c_str(), 0777);
  if (stat(to.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  for (const std::string& name : *names) {
    std::string source = JoinNative(from, name), target = JoinNative(to, name);
    if (lstat(source.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) {
      // A link to a file is copied as the file's bytes; any other link (to
      // a directory, which following could loop, or dangling) as a link.
      struct stat resolved {};
      bool toFile = stat(source.c_str(), &resolved) == 0 && S_ISREG(resolved.st_mode);
      if (!(toFile ? CopyFileNative(source, target) : CopyLink(source, target))) return false;
    } else if (S_ISDIR(st.st_mode)) {
      if (!CopyTree(source, target)) return false;
    } else if (S_ISREG(st.st_mode)) {
      if (!CopyFileNative(source, target)) return false;
    } else {
      return false;  // a device, a pipe or a socket: no bytes to copy
    }
  }
  return true;
}

}  // namespace

int32_t DuplicateDirectory(String* from, String* to) {
  auto source = Native(Normalise(T(from), true)), target = Native(Normalise(T(to), true));
  if (!source || !target || source->empty() || target->empty()) return 0;
  return CopyTree(*source, *target) ? 1 : 0;
}

int32_t EnterDirectory(String* path) {
  auto native = Native(N(path));
  return native && !native->empty() && chdir(native->c_str()) == 0 ? 1 : 0;
}

TDirectoryHandle::~TDirectoryHandle() { CloseDirectory(this); }

Ref<TDirectoryHandle> OpenDirectory(String* path) {
  auto native = NativePath(S(Normalise(T(path), true)));
  if (!native) return {};
  DIR* dir = opendir(native->empty() ? "." : native->c_str());
  if (!dir) return {};
  Ref<TDirectoryHandle> handle = New<TDirectoryHandle>();
  handle->_dir = dir;
  return handle;
}

Ref<String> NextDirectoryEntry(TDirectoryHandle* handle) {
  if (!handle || !handle->_dir) return Ref<String>(EmptyString());
  dirent* entry = readdir(static_cast<DIR*>(handle->_dir));
  return entry ? PathFromNative(entry->d_name) : Ref<String>(EmptyString());
}

void CloseDirectory(TDirectoryHandle* handle) {
  if (!handle || !handle->_dir) return;
  closedir(static_cast<DIR*>(handle->_dir));
  handle->_dir = nullptr;
}

Ref<Array> ListDirectory(String* path, int32_t skipDots) {
  std::vector<Text> names = Entries(Normalise(T(path), true), skipDots == 1);
  Ref<Array> out = Array::New("$", static_cast<int32_t>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) out->SetObject(static_cast<int32_t>(i), S(names[i]));
  return out;
}

namespace {

bool ExistsAsFileOrDirectory(const std::string& native) {
  struct stat st {};
  return stat(native.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
}

}  // namespace

Ref<String> CasedPath(String* path) {
  Ref<String> whole(path ? path : EmptyString());
  auto native = NativePath(whole);
  if (!native) return Ref<String>(EmptyString());
  if (!native->empty() && ExistsAsFileOrDirectory(*native)) return whole;
  // The last "/" that is not the last character.
  int32_t length = whole->Length();
  int32_t slash = -1;
  for (int32_t i = length - 2; i >= 0; --i)
    if ((*whole)[i] == u'/') {
      slash = i;
      break;
    }
  Ref<String> directory(EmptyString());
  Ref<String> name = whole;
  if (slash >= 0) {
    Ref<String> part = vrSliceString(whole, 0, slash);
    name = vrSliceString(whole, slash + 1, length);
    // "/x": the directory part is the root itself.
    directory = part->Length() == 0 ? Ref<String>(u"/"_vs) : CasedPath(part);
    if (directory->Length() == 0) return Ref<String>(EmptyString());
  }
  if (name->Length() == 0) return Ref<String>(EmptyString());
  auto listed = NativePath(directory->Length() ? directory.get() : u"."_vs);
  if (!listed) return Ref<String>(EmptyString());
  DIR* dir = opendir(listed->c_str());
  if (!dir) return Ref<String>(EmptyString());
  Ref<String> wanted = name->ToLower();
  Ref<String> found;
  bool matched = false;
  while (dirent* entry = readdir(dir)) {
    Ref<String> candidate = PathFromNative(entry->d_name);
    if (candidate->ToLower()->Equals(wanted)) {
      found = candidate;
      matched = true;
      break;
    }
  }
  closedir(dir);
  if (!matched) return Ref<String>(EmptyString());
  if (directory->Length() == 0) return found;
  if ((*directory)[directory->Length() - 1] == u'/') return vrConcatStrings(directory, found);
  return vrConcatStrings(vrConcatStrings(directory, u"/"_vs), found);
}

// ---------------------------------------------------------------------------
// File streams

Ref<TStream> OpenFileStream(Object* url, int32_t readable, int32_t writeable) {
  Ref<Object> target(url);
  if (auto* text = CastRaw<String>(url)) target = S(Normalise(T(text), false));
  Ref<TStream> stream = OpenStream(target, readable, writeable);
  // Only a stream opened for reading becomes a bank: what is written to a
  // stream that cannot seek (a pipe) must still reach it.
  if (stream.IsNull() || writeable || stream->Pos() != -1) return stream;
  StreamCloser closer(stream);
  Ref<Array> bytes = ReadAllBytes(stream);
  closer.Close();
  Ref<TBank> bank = TBank::Create(bytes->Length());
  if (bytes->Length()) std::memcpy(bank->Buf(), bytes->Data(), std::size_t(bytes->Length()));
  return CreateBankStream(bank);
}

Ref<TStream> ReadFileStream(Object* url) { return OpenFileStream(url, 1, 0); }
Ref<TStream> WriteFileStream(Object* url) { return OpenFileStream(url, 0, 1); }

int32_t CloseFileStream(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  return stream->Close();
}

}  // namespace vrl
