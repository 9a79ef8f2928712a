// Saving a file so that it is never lost: every writer that replaces a
// file's content (the whole-stream saves, SaveText, TBank.Save, the picture
// savers, the file system's copies) writes through an AtomicFile.
//
// For a URL that names a plain file (a string without "::"), the data goes
// to a new temporary file in the target's directory, named
// ".<name>.vrl-save-<pid>-<random>" so that it is recognisable and never
// clashes with another save. Commit flushes it, forces it to the disk (fsync),
// closes it and only then renames it over the target (and forces the
// directory entry to the disk as well). Until that rename the old file is
// whole; a failure on the way (a full device, a read-only directory, a
// failed write, an exception, a killed process) leaves it untouched. Every
// failure but a killed process also removes the temporary file; one left by
// a killed writer is not read by anything, and the next save of the same
// file that succeeds removes it (a temporary file whose process is gone; the
// process id in the name is this machine's).
//
// The new file keeps the old one's permission bits (and, where we may, its
// owner and group); a new target gets the permissions a plain open would
// give it (0666 less the umask). A file that may not be written (a
// read-only one) is not replaced either: the save fails as opening it would.
// A target that is a symbolic link is replaced at the file it points to. A target that exists but is not a
// regular file (a device, a pipe), a link that leads nowhere, and every URL
// that is not a plain file ("incbin::", protocols, open streams, banks) are
// written as WriteStream opens them, in place.
//
// Note that replacing a file by rename gives it a new identity: other hard
// links to the old file keep the old content.
#pragma once

#include <string>

#include "runtime/Object.h"
#include "stream/Stream.h"

namespace vrl {

class AtomicFile {
 public:
  /// A target given as the system's bytes (no "\" conversion).
  struct NativeName {
    const std::string& path;
  };

  /// Opens the stream a save of `url` writes to (see above).
  explicit AtomicFile(Object* url);
  explicit AtomicFile(const NativeName& target);
  /// Abandons the save unless it was committed: closes the stream and removes
  /// the temporary file; exceptions from the stream's Close are dropped (the
  /// way out already carries the first failure).
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  AtomicFile(AtomicFile&&) = delete;
  AtomicFile& operator=(AtomicFile&&) = delete;

  /// True when nothing could be opened for writing (the stream is Null).
  bool IsNull() const { return _stream.IsNull(); }
  /// The stream to write to; Null when IsNull. The save owns it: writers do
  /// not close it themselves.
  TStream* Stream() const { return _stream; }

  /// Completes the save: true when everything written reached the target.
  /// For a temporary file: Flush, fsync, Close, rename over the target,
  /// fsync of the directory, then removing what killed writers left of
  /// earlier saves of the target; any failure but the last two abandons the
  /// save.
  /// For other URLs: the stream's Close returning 0. A second call returns
  /// false.
  bool Commit();
  /// Commit, throwing TStreamWriteException when it fails.
  void CommitOrThrow();

  /// Whether `name` (a file name without directory) is the temporary file of
  /// a save, as a killed writer may leave one.
  static bool IsTemporaryName(const std::string& name);

 private:
  void OpenNative(const std::string& target);
  void Abandon();

  Ref<TStream> _stream;
  std::string _temp;    // the temporary file; empty when writing in place
  std::string _target;  // what the temporary file replaces
  int _fd = -1;         // the temporary file's descriptor, owned by _stream
  bool _finished = false;
};

}  // namespace vrl
