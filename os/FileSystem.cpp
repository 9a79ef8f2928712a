#include "os/FileSystem.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/NativePath.h"

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

Text Root(const Text& p) {
  if (StartsWith(p, u"//")) {
    auto slash = p.find(u'/', 2);
    return slash == npos ? Text() : p.substr(0, slash + 1);
  }
  auto colon = p.find(u':');
  auto slash = p.find(u'/');
  if (colon != npos && slash == colon + 1) return p.substr(0, slash + 1);
  return StartsWith(p, u"/") ? Text(u"/") : Text();
}

bool IsRoot(const Text& p) { return !p.empty() && Root(p) == p; }

Text Normalise(Text p, bool dirForm) {
  for (char16_t& c : p)
    if (c == u'\\') c = u'/';
  if (!StartsWith(p, u"//")) {
    auto colon = p.find(u':');
    if (colon != npos && (colon + 1 == p.size() || p[colon + 1] != u':')) {
      auto slash = p.find(u'/');
      // Rebuilt rather than inserted in place: GCC 12 misreads the in-place
      // insert as an overlapping copy (-Wrestrict).
      if (slash == npos || slash > colon + 1) p = p.substr(0, colon + 1) + u'/' + p.substr(colon + 1);
    }
  } else if (p.find(u'/', 2) == npos) {
    p += u'/';
  }
  if (dirForm && p.size() > 1 && p.back() == u'/' && !IsRoot(p)) p.pop_back();
  return p;
}

Text N(String* path) { return Normalise(T(path), false); }

// The system's name for a path; nullopt for names no file can have (a 0
// unit, or "<" and ">", which the attribute functions treat as absent).
std::optional<std::string> Native(const Text& p) {
  if (p.find_first_of(u"<>") != npos) return std::nullopt;
  return NativePath(S(p));
}

bool Stat(const Text& p, struct stat& st) {
  auto native = Native(p);
  return native && !native->empty() && stat(native->c_str(), &st) == 0;
}

bool LStat(const Text& p, struct stat& st) {
  auto native = Native(p);
  return native && !native->empty() && lstat(native->c_str(), &st) == 0;
}

int32_t TypeOf(const Text& p) {
  struct stat st;
  if (!Stat(p, st)) return 0;
  return S_ISREG(st.st_mode) ? 1 : S_ISDIR(st.st_mode) ? 2 : 0;
}

bool Exists(const Text& p) {
  struct stat st;
  return LStat(p, st);
}

Text Join(const Text& directory, const Text& name) {
  if (directory.empty()) return name;
  return directory.back() == u'/' ? directory + name : directory + u'/' + name;
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
  if (StartsWith(p, u"/") && !StartsWith(p, u"//")) {
    auto colon = cwd.find(u':');
    if (colon != npos && colon < cwd.find(u'/')) p = cwd.substr(0, colon + 1) + p;
  }
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

int32_t PathType(String* path) { return TypeOf(N(path)); }

int64_t PathTime(String* path) {
  struct stat st;
  return Stat(N(path), st) ? int64_t(st.st_mtime) : 0;
}

int64_t PathSize(String* path) {
  struct stat st;
  return Stat(N(path), st) ? int64_t(st.st_size) : -1;
}

int32_t PathMode(String* path) {
  struct stat st;
  return Stat(N(path), st) ? int32_t(st.st_mode & 511) : -1;
}

int32_t SetPathMode(String* path, int32_t mode) {
  auto native = Native(N(path));
  return native && chmod(native->c_str(), mode_t(mode & 511)) == 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Files

// Removing needs no write permission on the file itself on this platform, so
// RemoveFile and MakeFile do not make the file writable first: a chmod would
// follow a symbolic link, and a failed removal would leave the file open to
// everyone.
int32_t MakeFile(String* path) {
  Text p = N(path);
  auto native = Native(p);
  if (!native || native->empty()) return 0;
  if (TypeOf(p) == 1) unlink(native->c_str());
  if (std::FILE* file = std::fopen(native->c_str(), "wb")) std::fclose(file);
  return TypeOf(p) == 1 ? 1 : 0;
}

int32_t RemoveFile(String* path) {
  Text p = N(path);
  auto native = Native(p);
  if (!native || native->empty()) return 0;
  unlink(native->c_str());
  return Exists(p) ? 0 : 1;
}

int32_t MoveFile(String* from, String* to) {
  auto a = Native(N(from)), b = Native(N(to));
  return a && b && std::rename(a->c_str(), b->c_str()) == 0 ? 1 : 0;
}

int32_t DuplicateFile(String* from, String* to) {
  Text source = N(from), target = N(to);
  // Opening the target for writing would empty a file copied onto itself.
  struct stat a, b;
  if (Stat(source, a) && Stat(target, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return 0;
  // The target is opened (and so created or emptied) only once the source
  // has opened.
  Ref<TStream> in = ReadStream(S(source));
  if (in.IsNull()) return 0;
  Ref<TStream> out = WriteStream(S(target));
  if (out.IsNull()) {
    in->Close();
    return 0;
  }
  bool copied = true;
  try {
    CopyStream(in, out, 4096);
  } catch (const ThrownObject& e) {
    if (!e.As<TStreamWriteException>()) {
      in->Close();
      out->Close();
      throw;
    }
    copied = false;
  }
  in->Close();
  if (out->Close() != 0) copied = false;
  return copied ? 1 : 0;
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

bool IsRealDirectory(const Text& p) {
  struct stat st;
  return LStat(p, st) && S_ISDIR(st.st_mode);
}

void RemoveTree(const Text& p) {
  for (const Text& name : Entries(p, true)) {
    if (name.empty()) continue;
    Text entry = Join(p, name);
    if (IsRealDirectory(entry)) {
      RemoveTree(entry);
      if (auto native = Native(entry)) rmdir(native->c_str());
    } else {
      RemoveFile(S(entry));
    }
  }
}

}  // namespace

int32_t RemoveDirectory(String* path, int32_t recurse) {
  Text p = Normalise(T(path), true);
  auto native = Native(p);
  if (!native || native->empty()) return 0;
  // Only a real directory is emptied: a link to one is not followed.
  if (recurse && IsRealDirectory(p)) RemoveTree(p);
  rmdir(native->c_str());
  return Exists(p) ? 0 : 1;
}

namespace {

bool CopyTree(const Text& from, const Text& to) {
  if (TypeOf(from) != 2) return false;
  // Listed before `to` is made, so copying a directory into itself ends.
  std::vector<Text> names = Entries(from, true);
  if (!Exists(to)) {
    if (auto native = Native(to)) mkdir(native->c_str(), 0777);
  }
  if (TypeOf(to) != 2) return false;
  for (const Text& name : names) {
    Text source = Join(from, name), target = Join(to, name);
    int32_t type = TypeOf(source);
    if (type == 2 && !IsRealDirectory(source)) {
      auto link = Native(source), copy = Native(target);
      if (!link || !copy) return false;
      std::vector<char> buffer(4096);
      ssize_t n = readlink(link->c_str(), buffer.data(), buffer.size());
      if (n < 0 || std::size_t(n) >= buffer.size()) return false;
      if (symlink(std::string(buffer.data(), std::size_t(n)).c_str(), copy->c_str()) != 0) return false;
    } else if (type == 2) {
      if (!CopyTree(source, target)) return false;
    } else if (type == 1) {
      if (!DuplicateFile(S(source), S(target))) return false;
    }
    // Anything else (a device, a pipe, a dangling link) holds no file data.
  }
  return true;
}

}  // namespace

int32_t DuplicateDirectory(String* from, String* to) {
  return CopyTree(Normalise(T(from), true), Normalise(T(to), true)) ? 1 : 0;
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

// ---------------------------------------------------------------------------
// File streams

Ref<TStream> OpenFileStream(Object* url, int32_t readable, int32_t writeable) {
  Ref<Object> target(url);
  if (auto* text = url ? CastRaw<String>(url) : nullptr) target = S(Normalise(T(text), false));
  Ref<TStream> stream = OpenStream(target, readable, writeable);
  // Only a stream opened for reading becomes a bank: what is written to a
  // stream that cannot seek (a pipe) must still reach it.
  if (stream.IsNull() || writeable || stream->Pos() != -1) return stream;
  Ref<Array> bytes = ReadAllBytes(stream);
  stream->Close();
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
