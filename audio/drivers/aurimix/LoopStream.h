// A looping output buffer over the platform's audio output
// (platform/AudioOutput.h): 44100 Hz, 16-bit signed stereo, a fixed number
// of bytes that the output plays over and over while it is playing, and a
// play position. It is what both Aurimix devices write into: the one
// serviced from a timer reads the position as a count of bytes played, the
// one with its own thread as a cursor inside the buffer, and waits for
// notifications, which the output raises whenever it plays past one of a
// set of offsets.
//
// Threads: Open and Close on the main thread; every other call on any one
// thread (the device's servicing thread). The output's callback copies from
// the buffer under the stream's lock, which Write and Zero take too, so the
// callback never reads a half-written block.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vrl::platform {
class AudioOutput;
}

namespace vrl::aurimix {

class loopstream {
 public:
  static constexpr int32_t kRate = 44100;
  static constexpr int32_t kFrameBytes = 4;  // 16-bit stereo

  /// Opens the default output with a zeroed, stopped buffer of `bytes` (a
  /// positive multiple of 4). nullptr when no output can be opened (`error`
  /// gets the reason).
  static loopstream* Open(int32_t bytes, std::string* error = nullptr);
  /// Closes the output (no callback runs afterwards) and deletes the stream.
  void Close();

  int32_t Bytes() const { return int32_t(_buffer.size()); }

  /// Copies `bytes` into the buffer at `offset`, wrapping to the start;
  /// false when the range is larger than the buffer or not whole frames.
  bool Write(uint32_t offset, const void* data, uint32_t bytes);
  void Zero();

  /// Starts looping playback at the current position.
  void Play();
  /// Stops, keeping the position.
  void Stop();
  /// Stops and moves the position to the start of the buffer.
  void Reset();
  bool Playing() const { return _playing.load(std::memory_order_acquire); }

  /// Bytes played since the last Reset (or Open).
  uint64_t Position() const { return _position.load(std::memory_order_acquire); }
  /// Where in the buffer the output reads next.
  uint32_t Cursor() const { return uint32_t(Position() % uint64_t(_buffer.size())); }

  /// The offsets (inside the buffer) whose passing raises the notification.
  void SetNotifications(std::vector<uint32_t> offsets);
  /// Waits up to `ms` milliseconds for the notification, which resets when a
  /// wait takes it; true when it came. Wake() raises it from anywhere.
  bool Wait(int32_t ms);
  void Wake();

  /// Frames the output has taken so far, playing or not.
  uint64_t FramesOut() const { return _framesOut.load(std::memory_order_acquire); }

 private:
  loopstream() = default;
  ~loopstream() = default;
  static void Fill(void* context, int16_t* out, int32_t frames);
  void Raise();

  platform::AudioOutput* _output = nullptr;
  std::mutex _lock;  // the buffer, the notification offsets
  std::vector<uint8_t> _buffer;
  std::vector<uint32_t> _notify;
  std::atomic<bool> _playing{false};
  std::atomic<uint64_t> _position{0};
  std::atomic<uint64_t> _framesOut{0};
  std::mutex _eventLock;
  std::condition_variable _event;
  bool _signalled = false;
};

}  // namespace vrl::aurimix
