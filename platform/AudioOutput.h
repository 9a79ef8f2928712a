// One SDL audio output: 16-bit signed stereo at a fixed rate, filled by a
// callback on SDL's audio thread.
//
// Opening acquires SDL's audio subsystem through the lifetime owner
// (platform/Sdl.h) and closing releases it. Opening fails (nullptr, with
// SDL's reason) on a machine without an audio device; SDL's "disk" and
// "dummy" drivers are used only when SDL_AUDIODRIVER names them.
//
// Threads: Open and Close on the main thread. The fill callback runs on the
// audio thread; it must not allocate or free, and must not touch framework
// objects. Close waits for a running callback to return; no callback runs
// after it.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

class AudioOutput {
 public:
  /// Writes `frames` stereo frames (left, right) at `out`.
  using FillFunction = void (*)(void* context, int16_t* out, int32_t frames);

  /// Opens the default output at `rate` Hz and starts the callback at once.
  /// nullptr on failure; `error` (if given) receives the reason.
  static AudioOutput* Open(int32_t rate, FillFunction fill, void* context, std::string* error = nullptr);
  /// Stops the callback, closes the device and releases SDL's audio
  /// subsystem; deletes the object.
  void Close();

  int32_t Rate() const { return _rate; }
  /// Frames per callback.
  int32_t BlockFrames() const { return _blockFrames; }

 private:
  AudioOutput() = default;
  ~AudioOutput() = default;
  static void Callback(void* self, uint8_t* stream, int len);

  uint32_t _device = 0;
  int32_t _rate = 0;
  int32_t _blockFrames = 0;
  FillFunction _fill = nullptr;
  void* _context = nullptr;
};

}  // namespace vrl::platform
