// Child processes with piped standard streams, and the pipe streams that
// read and write them.
//
// A child runs `/bin/sh -c cmd` (started with posix_spawn, so nothing runs in
// the child between the fork and the exec but the spawn's own file and
// process-group set-up). Its standard input, output and error are three
// pipes; the parent keeps one end of each, close-on-exec, so no other child
// inherits them and a child sees the end of its input as soon as the parent
// closes it. Every child leads a process group of its own, so Terminate
// reaches what it started; without flag bit 1 it also leads a new session,
// detached from the controlling terminal.
//
// Writing to a child that has exited (or closed its input) is a failed write
// (0), never a SIGPIPE: the write blocks SIGPIPE on the calling thread for
// its duration and consumes the one it raised, so no signal disposition of
// the program changes.
//
// Children that are still running when the program ends are killed
// (TerminateAll is an end handler). Main thread only, as all streams.
#pragma once

#include <cstdint>

#include "containers/List.h"
#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"
#include "stream/Stream.h"

namespace vrl {

/// A stream over two pipe ends: the one the parent reads from and the one it
/// writes to. Either may be 0 (none). Reads never wait for more than what is
/// already waiting when asked through ReadAvail, ReadPipe and ReadLine; a raw
/// Read on an empty pipe waits for data like any read of a pipe.
class TPipeStream : public TStream {
  VRL_CLASS(TPipeStream, TStream)
  /// A dropped pipe stream closes its ends.
  ~TPipeStream() override;

  /// Closes each end that is open and sets it to 0. Returns 0.
  int32_t Close() override;
  /// One read or write of the pipe; the bytes moved, 0 on failure.
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  /// Pipes hold no data of ours: nothing to deliver. Returns 0.
  int32_t Flush() override;
  /// The next complete line that is already waiting (a line feed ends it, a
  /// carriage return before the line feed and one at the line's start are
  /// dropped), or the empty string; the rest stays buffered for the next
  /// call. The buffer holds 4096 bytes: when it is full without a line feed
  /// and more data waits, the runtime error "PipeStream ReadBuffer Overflow".
  Ref<String> ReadLine() override;

  /// Bytes waiting in the read pipe (0 on failure or with no read end).
  virtual int32_t ReadAvail();
  /// Every waiting byte as a new byte array; the empty array when none.
  virtual Ref<Array> ReadPipe();

  static Ref<TPipeStream> Create(int32_t readhandle, int32_t writehandle);

  static constexpr int32_t kBufferSize = 4096;

 private:
  Ref<Array> readbuffer;  // kBufferSize bytes, the line being gathered
  int32_t bufferpos = 0;  // bytes held in readbuffer
  int32_t readhandle = 0;
  int32_t writehandle = 0;
};

class TProcess : public Object {
  VRL_CLASS(TProcess, Object)
 public:
  /// The process's published fields.
  Ref<String> name;       // the command line it was started with
  int32_t handle = 0;     // the process id; 0 once it has ended or been killed
  Ref<TPipeStream> pipe;  // reads its standard output, writes its standard input
  Ref<TPipeStream> err;   // reads its standard error

  /// 1 while the child runs, else 0. Seeing it end reaps it and clears
  /// `handle`.
  virtual int32_t Status();
  /// Closes and drops both pipe streams; the child keeps running. Returns 0.
  virtual int32_t Close();
  /// Kills (SIGKILL) the processes the child started directly, its process
  /// group, then the child itself, and reaps it. 1 when that last kill was
  /// delivered, 0 when it failed or when there was no handle.
  virtual int32_t Terminate();

  /// Starts `cmd` through /bin/sh -c after FlushZombies. Flag bit 1 keeps the
  /// child on the parent's session and controlling terminal (in a process
  /// group of its own); without it the child leads a new session. Null when
  /// the pipes or the process could not be made (a command holding a 0 unit
  /// cannot be started).
  static Ref<TProcess> Create(String* cmd, int32_t flags);
  /// Drops every listed process whose Status is 0.
  static void FlushZombies();
  /// Terminates every listed process and empties the list; runs at program
  /// end.
  static void TerminateAll();
};

/// The processes started and not yet dropped, oldest first (Null before the
/// first start).
TList* StartedProcesses();

namespace process {
/// Starts the stream, list and file-system modules, registers the classes
/// and registers TerminateAll to run at program end.
void Init();
}  // namespace process

}  // namespace vrl
