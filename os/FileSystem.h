// Paths, file attributes, files and directories.
//
// Paths are framework strings in the framework's form: "/" separators, a
// drive written as letter, colon, slash ("C:/"), network roots as "//server/".
// These are text rules and apply on every platform: on Linux "C:/x" is a
// relative name to the system, but the path functions still see its root
// "C:/". A drive is one ASCII letter and a colon at the start of the path;
// any other colon is part of a name, so "12:30.log" and "a:b" stay relative
// names as they are (the rule that inserts a "/" after the first colon would
// make "12:30.log" the root "12:/"). Every function normalises its path first
// (NormalisePath).
//
// Names reach the system as UTF-8 (stream/NativePath.h: characters outside
// the 16-bit range and names that are not valid UTF-8 round-trip).
//
// Failures are results (0, -1, the empty string, an empty array); nothing is
// thrown except the exceptions other than stream exceptions that
// DuplicateFile lets through.
// The functions use the process's working directory, which all threads
// share.
#pragma once

#include <cstdint>

#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"
#include "stream/Stream.h"

namespace vrl {

// ---------------------------------------------------------------------------
// Path text

/// "/", "C:/" or "//server/" for an absolute path; "" for a relative one.
Ref<String> PathRoot(String* path);
int32_t IsRootPath(String* path);
int32_t IsAbsolutePath(String* path);
/// Backslashes become "/", "C:name" gains the slash after the drive's colon
/// (URLs such as "incbin::x" and names such as "12:30.log" stay as they are),
/// "//server" gains a final "/"; with
/// dirForm 1 a trailing "/" is removed unless the path is a root.
Ref<String> NormalisePath(String* path, int32_t dirForm = 0);
Ref<String> PathFileName(String* path);
Ref<String> PathWithoutExtension(String* path);
Ref<String> PathBaseName(String* path);
Ref<String> PathWithoutSlash(String* path);
/// ".", ".." and roots unchanged; the text before the last "/" (a root keeps
/// its "/"); "" when there is no "/".
Ref<String> PathDirectory(String* path);
/// The text after the last "." of the last component; "" when there is none.
Ref<String> PathExtension(String* path);
Ref<String> CurrentDirectory();
/// The path made absolute against the working directory, with "." and ".."
/// resolved as text ("..": nothing above a root).
Ref<String> AbsolutePath(String* path);
/// The same against a given working directory.
Ref<String> AbsolutePathFrom(String* path, String* workingDirectory);

// ---------------------------------------------------------------------------
// Attributes. A path holding "<" or ">" counts as absent here; the file and
// directory functions below handle every name the system allows.

/// 1 regular file, 2 directory, 0 absent or something else.
int32_t PathType(String* path);
/// Modification time in seconds since 1970; 0 when absent.
int64_t PathTime(String* path);
/// Bytes; -1 when absent.
int64_t PathSize(String* path);
/// Permission bits (mode & 511); -1 when absent.
int32_t PathMode(String* path);
int32_t SetPathMode(String* path, int32_t mode);

// ---------------------------------------------------------------------------
// Files and directories

/// Replaces whatever file is at the path by an empty one; 1 when a regular
/// file exists afterwards. A symbolic link is replaced, never followed (a
/// dangling one would otherwise create its target elsewhere); a link to a
/// directory is left alone, as a directory is.
int32_t MakeFile(String* path);
/// 1 when nothing is left at the path (a directory is not removed).
int32_t RemoveFile(String* path);
int32_t MoveFile(String* from, String* to);
/// Copies the bytes; 1 only when the copy completed and reached the disk: a
/// source that cannot be read to its end (stream/Stream.h, ReadPiece) gives 0
/// like a write that fails. A file is never copied onto itself (0). The
/// target is replaced only by a complete copy (stream/AtomicFile.h): a failed
/// copy leaves it as it was; DuplicateDirectory copies its files the same way.
int32_t DuplicateFile(String* from, String* to);
/// 1 when the directory exists afterwards; with recurse every missing parent
/// is made too.
int32_t MakeDirectory(String* path, int32_t recurse = 0);
/// 1 when nothing is left. With recurse the contents go first; symbolic links
/// inside are removed as links, never followed. The walk holds each directory
/// open and works relative to it (openat with O_NOFOLLOW, unlinkat), so a
/// directory swapped for a link during the walk is not followed either; it
/// keeps one descriptor open for each level of depth.
int32_t RemoveDirectory(String* path, int32_t recurse = 0);
/// Copies a tree; 1 on success. Names inside the tree are copied byte for
/// byte, whatever they hold. Symbolic links to files are copied as the files'
/// bytes, other links (to directories, which following could loop, or
/// dangling) as links. Anything that cannot be copied (a device, a FIFO, a
/// socket, an unreadable directory) fails the copy: 0, never a partial copy
/// reported as success (what was copied before stays).
int32_t DuplicateDirectory(String* from, String* to);
int32_t EnterDirectory(String* path);

/// A raw listing in the system's order, "." and ".." included. The handle
/// closes when CloseDirectory is called or when it is freed.
class TDirectoryHandle : public Object {
  VRL_CLASS(TDirectoryHandle, Object)
  ~TDirectoryHandle() override;

 private:
  /// The directory functions below open, read and close the stream.
  friend Ref<TDirectoryHandle> OpenDirectory(String* path);
  friend Ref<String> NextDirectoryEntry(TDirectoryHandle* handle);
  friend void CloseDirectory(TDirectoryHandle* handle);

  void* _dir = nullptr;  // the system's directory stream
};
/// Null when the directory cannot be opened.
Ref<TDirectoryHandle> OpenDirectory(String* path);
/// The next name; "" after the last (and for a Null or closed handle).
Ref<String> NextDirectoryEntry(TDirectoryHandle* handle);
void CloseDirectory(TDirectoryHandle* handle);
/// The names of type "$" (empty when the directory cannot be opened); without
/// "." and ".." when skipDots is 1.
Ref<Array> ListDirectory(String* path, int32_t skipDots = 1);
/// The path as spelled on disk: components that do not exist as given are
/// matched against their directory's entries ignoring case. The empty string
/// when nothing matches. Unlike the functions above it takes the path as it
/// is, without normalising it.
Ref<String> CasedPath(String* path);

/// ---------------------------------------------------------------------------
/// File streams: OpenStream, except that a stream that cannot seek (Pos -1) is
/// read completely into a bank and a bank stream over it is returned, so the
/// caller always gets a seekable stream.
Ref<TStream> OpenFileStream(Object* url, int32_t readable, int32_t writeable);
Ref<TStream> ReadFileStream(Object* url);
Ref<TStream> WriteFileStream(Object* url);
int32_t CloseFileStream(TStream* stream);

namespace filesystem {
void Init();
}  // namespace filesystem

}  // namespace vrl
