// Carrying a C++ exception across a C library that calls back into us.
//
// No C++ exception may unwind through a C library's frames. A callback runs
// its work under Run, which catches whatever the work throws and keeps it;
// the callback then reports failure to the library through the library's own
// error path (png_error, libjpeg's error exit, a read error for vorbisfile).
// Once the library has returned and its structures are destroyed, the owner
// calls Rethrow, which throws the kept exception.
//
//   void OnRead(lib_t* lib, void* data, size_t length) {
//     auto* job = JobOf(lib);
//     if (!job->trap.Run([&] { job->stream->ReadBytes(data, int32_t(length)); })) {
//       lib_error(lib);  // outside any catch handler: lib_error may long-jump
//     }
//   }
//   ...
//   lib_destroy(lib);
//   job.trap.Rethrow();
//
// Run returns only after its handler has finished, so a callback may
// long-jump out of the library right after it without leaving a caught
// exception behind.
#pragma once

#include <exception>
#include <utility>

namespace vrl {

class CallbackTrap {
 public:
  /// A kept exception has one owner: a trap moves (the source is left with
  /// nothing to rethrow) but does not copy.
  CallbackTrap() = default;
  CallbackTrap(const CallbackTrap&) = delete;
  CallbackTrap& operator=(const CallbackTrap&) = delete;
  CallbackTrap(CallbackTrap&&) noexcept = default;
  CallbackTrap& operator=(CallbackTrap&&) noexcept = default;
  ~CallbackTrap() = default;

  /// Runs `work()`; false when it threw. The first exception caught is the one
  /// kept: once the library has been told of a failure, a later one is its
  /// consequence, not its cause.
  template <class Work>
  bool Run(Work&& work) noexcept {
    try {
      std::forward<Work>(work)();
      return true;
    } catch (...) {
      if (!_pending) _pending = std::current_exception();
      return false;
    }
  }

  /// True once a callback's work has thrown: a callback that the library calls
  /// again after it was told of the failure can refuse at once.
  bool Caught() const noexcept { return bool(_pending); }

  /// Throws the kept exception, if any, and forgets it; does nothing when no
  /// work threw. Called once the library has returned.
  void Rethrow() {
    if (std::exception_ptr pending = std::exchange(_pending, nullptr)) {
      std::rethrow_exception(pending);
    }
  }

 private:
  std::exception_ptr _pending;
};

}  // namespace vrl
