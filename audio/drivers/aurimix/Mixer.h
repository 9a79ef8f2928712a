// The Aurimix software mixer: every sound kept as 8- or 16-bit PCM in
// memory, every playing voice mixed into one 44100 Hz 16-bit stereo stream
// with its own rate, volume, pan and depth, and that stream handed to an
// output device (audiodevice below).
//
// Fixed-point units: rate is 16.16 (65536 = the sound's own speed); volume,
// pan and depth are 4.12 (4096 = 1.0; pan -4096 full left to 4096 full
// right; depth -4096 to 4096, negative inverting the right channel's phase).
//
// Threads. The flat Mixer* functions run on the main thread; the device
// calls mixer::mix on its own thread (or timer, or on demand). There are no
// locks: a voice reaches the mixer only through the command ring and comes
// back only through the free ring, each a single-producer single-consumer
// ring of 4096 entries (the main thread writes commands and reads the free
// ring, the mixing thread the other way round). Settings are single atomic
// stores that the mixer reads at its next block; the mixer writes status,
// position and the played counter. The channel-handle tables are touched by
// the main thread only. Sound data is reference counted atomically, since
// the last reference may be dropped on either thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace vrl::aurimix {

class mixer;

inline constexpr int32_t kOutputRate = 44100;
inline constexpr int32_t kOutputChannels = 2;
inline constexpr int32_t kUnityRate = 65536;     // 16.16
inline constexpr int16_t kUnityVolume = 4096;    // 4.12
inline constexpr int32_t kStartDelayMs = 20;     // a new voice starts this long after it was queued
inline constexpr int32_t kRingSize = 4096;       // command and free rings
inline constexpr int32_t kHandleEntries = 4096;  // handle 1..4095; entry 0 heads the free list

/// Voice status values; kPausedBit is added while paused.
enum : int32_t {
  kStatusFree = 0,
  kStatusStopped = 1,
  kStatusPlaying = 2,
  kStatusLooping = 4,
  kPausedBit = 0x10,
};

/// What a program implements to give the mixer an output.
///
/// open() creates the device's mixer with startmixer (choosing the block
/// size: the accumulator's length in samples) and starts calling
/// mixer()->mix from wherever it services its output; it returns 0 on
/// success and anything else on failure (MixerInit then calls close() and
/// deletes the device). close() stops calling mix, waits until no call is
/// running, and then calls stopmixer; close() must also be safe on a device
/// whose open() failed half-way. milliseconds() is the clock of the start
/// delay: it is read on the main thread when a voice is queued and on the
/// mixing thread when the voice is drained, so it must be safe on both.
///
/// MixerInit takes ownership of the device; MixerClose closes and deletes it.
class audiodevice {
 public:
  audiodevice() = default;
  audiodevice(const audiodevice&) = delete;
  audiodevice& operator=(const audiodevice&) = delete;
  virtual ~audiodevice();

  virtual int32_t open() = 0;
  virtual void close() = 0;
  /// The default is the runtime's monotonic millisecond counter.
  virtual uint32_t milliseconds();

  /// The device's mixer; nullptr while not open.
  aurimix::mixer* getmixer() const { return _mixer; }

 protected:
  /// Makes the mixer with an accumulator of `samples` output samples (an
  /// even number, at least 2): the most one mix call may ask for.
  void startmixer(int32_t samples);
  /// Recycles every voice and deletes the mixer.
  void stopmixer();

 private:
  aurimix::mixer* _mixer = nullptr;
};

/// The settings of a voice. The base does nothing; sound (a voice)
/// overrides all nine, and the mixer inherits the no-ops.
class output {
 public:
  output() = default;
  output(const output&) = delete;
  output& operator=(const output&) = delete;
  virtual ~output() = default;

  virtual void setrate(int32_t) {}
  virtual void setvolume(int16_t) {}
  virtual void setpan(int16_t) {}
  virtual void setdepth(int16_t) {}
  /// `which` 1: the target value; 0: the current value.
  virtual int32_t getrate(int32_t) { return 0; }
  virtual int32_t getvolume(int32_t) { return 0; }
  virtual int32_t getpan(int32_t) { return 0; }
  virtual int32_t getdepth(int32_t) { return 0; }
  /// Frames played since the start, every loop counted.
  virtual int32_t getposition() { return 0; }
};

/// The frames of one loaded sound, with one guard frame after the last (a
/// copy of the first frame when looping, of the last otherwise), so
/// interpolation never reads past the end. 8-bit samples are unsigned
/// (silence 128), 16-bit ones signed little-endian, interleaved.
struct sounddata {
  int32_t hertz = 0;
  int32_t channels = 0;  // 1 or 2
  int32_t bits = 0;      // 8 or 16
  int32_t length = 0;    // frames
  int32_t written = 0;   // frames written after creation (none: the frames are copied whole)
  std::atomic<int32_t> refs{1};
  int32_t loop = 0;
  uint8_t* data = nullptr;
  uint8_t* write = nullptr;  // where frames written after creation would go
  int32_t owned = 0;         // bytes owned (data plus the guard frame), 0 for caller memory

  int32_t FrameBytes() const { return channels * (bits < 8 ? 8 : bits) / 8; }
  int64_t DataBytes() const { return int64_t(length) * FrameBytes(); }
};

/// Takes one reference; drops one, freeing the data and the object at the
/// last. Safe on either thread.
void RetainSound(sounddata* data);
void ReleaseSound(sounddata* data);

/// One voice.
class sound : public output {
 public:
  explicit sound(aurimix::mixer* owner) : _owner(owner) {}

  void setrate(int32_t rate) override;
  void setvolume(int16_t volume) override;
  void setpan(int16_t pan) override;
  void setdepth(int16_t depth) override;
  int32_t getrate(int32_t which) override;
  int32_t getvolume(int32_t which) override;
  int32_t getpan(int32_t which) override;
  int32_t getdepth(int32_t which) override;
  int32_t getposition() override;

  int32_t Status() const { return _status.load(std::memory_order_acquire); }
  aurimix::mixer* owner() const { return _owner; }

 private:
  friend class mixer;
  friend struct VoiceTables;

  /// Mixes this voice into `acc` over `frames` output frames: -1 free
  /// (status 0), -2 paused, 0 still playing, 1 ended or stopped.
  int32_t Mix(int64_t* acc, int32_t frames);
  template <int Bits, int Channels, bool Ramp>
  int32_t MixFrames(int64_t* acc, int32_t frames);
  void Reset();

  aurimix::mixer* _owner;
  std::atomic<int32_t> _status{kStatusStopped};
  int32_t _handle = 0;
  std::atomic<int32_t> _autofree{0};
  sound* _next = nullptr;
  sounddata* _data = nullptr;
  int32_t _channels = 0;   // the sound's channel count, for getposition
  uint64_t _position = 0;  // 32.32, interleaved samples
  std::atomic<uint64_t> _played{0};
  std::atomic<int32_t> _rate{kUnityRate}, _rateTarget{kUnityRate};
  std::atomic<int16_t> _volume{kUnityVolume}, _volumeTarget{kUnityVolume};
  std::atomic<int16_t> _pan{0}, _panTarget{0};
  std::atomic<int16_t> _depth{0}, _depthTarget{0};
  uint32_t _startTime = 0;
  int32_t _startDelay = 0;  // frames
  /// Main thread only: the voice went through the command ring, so the
  /// mixer's rings own it; a voice that never did belongs to its handle.
  bool _queued = false;
};

/// A single-producer single-consumer ring of voice pointers; holds up to
/// kRingSize - 1.
class voicering {
 public:
  bool Push(sound* voice);
  sound* Pop();  // nullptr when empty

 private:
  sound* _entries[kRingSize] = {};
  std::atomic<uint32_t> _read{0};
  std::atomic<uint32_t> _write{0};
};

/// One mixer per open device.
class mixer : public output {
 public:
  mixer(audiodevice* device, int32_t samples);
  ~mixer() override;

  /// Mixes one block of `count` output samples (even, at most Length()) into
  /// `out` as interleaved 16-bit stereo. Runs on the device's thread.
  void mix(int16_t* out, int32_t count);
  int32_t Length() const { return _length; }

  /// Main thread: a voice from the free ring (as the mixer left it, still
  /// naming the handle it played on), else a new one.
  sound* NewVoice();
  /// Main thread: queues a voice; false when the command ring is full.
  bool Queue(sound* voice);

 private:
  friend class audiodevice;

  void Recycle(sound* voice);  // mixing thread
  void FlushSpare();           // mixing thread

  audiodevice* _device;
  int64_t* _acc = nullptr;
  int32_t _length = 0;
  int32_t _rate = kOutputRate;
  int32_t _channels = kOutputChannels;
  sound* _active = nullptr;
  voicering _commands;
  voicering _free;
  sound* _spare = nullptr;  // recycled voices waiting for room in the free ring
};

}  // namespace vrl::aurimix

namespace vrl {

// The flat interface over the one global mixer. All run on the main thread
// and do nothing and return 0 while the mixer is not initialised (except
// MixerFreeSound, which always releases). Handles are 1..4095 in the low 12
// bits with a generation above; a stale or zero handle makes every
// operation a no-op returning 0.

/// Opens `device` (taking ownership); -1 when it fails (the device is closed
/// and deleted), else 0. A mixer already initialised is closed first.
int32_t MixerInit(aurimix::audiodevice* device);
/// Drops the handle tables, closes and deletes the device.
int32_t MixerClose();
/// New sound data holding a copy of `length` frames plus the guard frame;
/// nullptr for bits other than 8 or 16, channels other than 1 or 2, a length
/// below 1 or above what the mixer can address, a rate outside 1..1000000 or
/// no data.
aurimix::sounddata* MixerCreateSound(int32_t length, int32_t bits, int32_t channels, int32_t hertz,
                                     const void* data, int32_t loop);
int32_t MixerFreeSound(aurimix::sounddata* sound);
/// A new handle; 0 when all 4095 are taken.
int32_t MixerAllocChannel();
/// Unbinds the handle (a playing voice plays on, then is recycled) and makes
/// it stale at once.
int32_t MixerFreeChannel(int32_t handle);
/// Queues a new voice of `sound`, taking the settings of the voice bound to
/// `handle` (a handle of 0: a new handle and the defaults). The voice starts
/// kStartDelayMs after this call. Returns the handle, 0 on failure.
int32_t MixerPlaySound(aurimix::sounddata* sound, int32_t paused, int32_t handle);
int32_t MixerStopChannel(int32_t handle);
int32_t MixerSetPaused(int32_t handle, int32_t paused);
int32_t MixerSetVolume(int32_t handle, int16_t volume);
int32_t MixerSetPan(int32_t handle, int16_t pan);
int32_t MixerSetDepth(int32_t handle, int16_t depth);
int32_t MixerSetRate(int32_t handle, int32_t rate);
int32_t MixerChannelStatus(int32_t handle);
int32_t MixerChannelPosition(int32_t handle);

}  // namespace vrl
