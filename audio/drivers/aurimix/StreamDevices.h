// The two output devices of the Aurimix mixer on this platform, both over a
// looping 44100 Hz 16-bit stereo buffer that the platform's audio output
// plays over and over (LoopStream.h).
//
// winmmdevice ("Multimedia") is serviced from a 5 ms periodic timer on a
// thread of its own: each service reads how many bytes have been played and
// mixes whole fragments into the buffer until it is `lead` fragments ahead
// of the play position. When the writer fell behind (the play position came
// within two fragments of it) the device is reset and silent for 250
// services, the lead is raised by two fragments (6, 8, 10), and playback
// restarts with that much silence before the first new fragment.
//
// dsounddevice ("DirectSound") has a thread that mixes at most two 8192-byte
// fragments of a 32768-byte buffer per wake-up and then waits for the
// output to pass one of the four fragment starts, at most 1000 ms: a wait
// that times out ends playback.
//
// Threads: open() and close() on the main thread; mixing on the device's
// thread. close() stops and joins that thread before it frees anything.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/drivers/aurimix/Mixer.h"

namespace vrl::aurimix {

class loopstream;

/// The fragment length in 16-bit samples for an operating-system version:
/// 1024 for platform id 2 (the NT family); for platform id 1, 2048 below
/// major version 5 and 1024 from 5 on; 2048 for anything else. This
/// platform answers the query as the NT family does.
int32_t WaveOutFragment(int32_t platformId, int32_t majorVersion);

class winmmdevice : public audiodevice {
 public:
  static constexpr int32_t kFragments = 32;
  static constexpr int32_t kFirstLead = 6;      // fragments
  static constexpr int32_t kRestartWait = 250;  // services
  static constexpr int32_t kPeriodMs = 5;
  static constexpr uint64_t kMaxPosition = 0x10000000;  // bytes; more means the query went wrong

  /// With `timer` false nothing services the device but calls of service()
  /// (tests drive it that way, one service at a time).
  explicit winmmdevice(bool timer = true);
  ~winmmdevice() override;

  int32_t open() override;
  void close() override;

  /// One service (the timer's routine). Call it from one thread at a time.
  void service();

  int32_t fragment() const { return _fragment; }
  int32_t lead() const { return _lead.load(std::memory_order_acquire); }
  int32_t restartwait() const { return _restartWait.load(std::memory_order_acquire); }
  int64_t writeposition() const { return _writePosition.load(std::memory_order_acquire); }  // samples
  int32_t underruns() const { return _underruns.load(std::memory_order_acquire); }
  int32_t services() const { return _services.load(std::memory_order_acquire); }
  loopstream* stream() const { return _stream; }

 protected:
  /// The play position in bytes since the last restart; false when the
  /// query fails.
  virtual bool queryposition(uint64_t& bytes);

 private:
  void restart();
  void timerloop();

  const bool _timer;
  int32_t _fragment = 2048;
  loopstream* _stream = nullptr;
  std::vector<int16_t> _block;  // one fragment, mixed before it is copied in
  std::atomic<bool> _running{false};
  std::atomic<int32_t> _lead{kFirstLead};
  std::atomic<int32_t> _restartWait{0};
  std::atomic<int64_t> _writePosition{0};
  std::atomic<int32_t> _underruns{0};
  std::atomic<int32_t> _services{0};
  std::thread _thread;
  std::mutex _stopLock;
  std::condition_variable _stop;
};

class dsounddevice : public audiodevice {
 public:
  static constexpr int32_t kBufferBytes = 32768;
  static constexpr int32_t kFragmentBytes = 8192;
  static constexpr int32_t kMaxFragmentsPerWake = 2;
  static constexpr int32_t kAccumulator = 12288;  // samples
  static constexpr int32_t kWaitMs = 1000;

  dsounddevice() = default;
  ~dsounddevice() override;

  int32_t open() override;
  void close() override;

  /// While the thread plays (from its start until its loop ends).
  bool playing() const { return _playing.load(std::memory_order_acquire); }
  int64_t written() const { return _written.load(std::memory_order_acquire); }  // bytes
  int32_t wakeups() const { return _wakeups.load(std::memory_order_acquire); }
  loopstream* stream() const { return _stream; }

 private:
  void run();
  bool mixinto(uint32_t offset, uint32_t bytes);

  loopstream* _stream = nullptr;
  std::vector<int16_t> _block;
  std::atomic<bool> _running{false};
  std::atomic<bool> _playing{false};
  std::atomic<int64_t> _written{0};
  std::atomic<int32_t> _wakeups{0};
  std::thread _thread;
};

/// The default device opener: kind 0 the timer-serviced device, kind 1 the
/// thread-serviced one (AurimixAudioDriver.h).
audiodevice* OpenStreamDevice(int32_t kind);

}  // namespace vrl::aurimix

namespace vrl {

/// Unopened devices for MixerInit.
aurimix::audiodevice* MixerOpenWaveOut();
aurimix::audiodevice* MixerOpenDirectSound();

}  // namespace vrl
