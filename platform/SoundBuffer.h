// Platform sound buffers: the operations the "DirectSound" driver needs of
// a sound device and its buffers, mixed in software into one SDL audio
// output (platform/AudioOutput.h).
//
// A SoundDevice plays the part of the DirectSound device object and a
// SoundBuffer that of a secondary buffer: created from a PCM format and a
// byte size, duplicated (the duplicate shares the sample memory and has its
// own position, volume, pan, frequency and status), locked and unlocked for
// writing, played once or looped, stopped (keeping the position), moved, and
// released. Results are DirectSound-style codes: 0 for success, negative for
// failure, whose low 16 bits are the error number.
//
// The mix follows DirectSound's published curves: gain = 10^(volume / 2000)
// with volume in hundredths of a decibel (0 full, -10000 silent); a pan
// attenuates only the opposite channel by |pan| hundredths of a decibel
// (-10000 silences the right channel, 10000 the left); the buffer is
// resampled (linear interpolation) from its frequency to the output rate. A
// looping buffer wraps from its last frame to its first with no gap:
// interpolation across the wrap reads the first frame.
//
// Threads and ownership: every operation is made on one thread (the main
// thread); the mix runs on the audio thread and takes the device's lock,
// which the operations that change what the mix reads take too. The mix
// never allocates or frees. Devices and buffers are counted (AddRef,
// Release); a buffer's memory is freed on the releasing thread after it has
// been taken out of the mix under the lock, so a released buffer is never
// read again. Releasing the device closes its output; its buffers stay
// valid objects but are lost: they stop, report the lost status bit, and
// their operations answer kSoundErrBufferLost.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

class AudioOutput;
class SoundBuffer;
struct SoundMixer;

/// Result codes (DirectSound's values).
inline constexpr int32_t kSoundOk = 0;
inline constexpr int32_t kSoundErrOutOfMemory = int32_t(0x8007000Eu);
inline constexpr int32_t kSoundErrInvalidParam = int32_t(0x80070057u);
inline constexpr int32_t kSoundErrInvalidCall = int32_t(0x88780032u);
inline constexpr int32_t kSoundErrNoDriver = int32_t(0x88780078u);
inline constexpr int32_t kSoundErrBufferLost = int32_t(0x88780096u);

/// Buffer description flags.
inline constexpr uint32_t kSoundCapsStatic = 0x2;
inline constexpr uint32_t kSoundCapsLocSoftware = 0x8;
inline constexpr uint32_t kSoundCapsCtrlFrequency = 0x20;
inline constexpr uint32_t kSoundCapsCtrlPan = 0x40;
inline constexpr uint32_t kSoundCapsCtrlVolume = 0x80;
inline constexpr uint32_t kSoundCapsGlobalFocus = 0x8000;

inline constexpr uint32_t kSoundPlayLooping = 0x1;    // Play flag
inline constexpr uint32_t kSoundStatusPlaying = 0x1;  // GetStatus bits
inline constexpr uint32_t kSoundStatusLost = 0x2;
inline constexpr uint32_t kSoundStatusLooping = 0x4;
inline constexpr uint32_t kSoundLockEntireBuffer = 0x2;  // Lock flag

inline constexpr int32_t kSoundVolumeMin = -10000;
inline constexpr int32_t kSoundPanLeft = -10000;
inline constexpr int32_t kSoundPanRight = 10000;
inline constexpr uint32_t kSoundFrequencyOriginal = 0;  // SetFrequency: the format's rate
inline constexpr uint32_t kSoundFrequencyMin = 100;
inline constexpr uint32_t kSoundFrequencyMax = 200000;

/// PCM only: format tag 1, one or two channels of 8 or 16 bits, block align
/// = channels * bits / 8.
struct SoundWaveFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
};

/// The description's size field, as DirectSound's description has it.
inline constexpr uint32_t kSoundBufferDescSize = 36;

struct SoundBufferDesc {
  uint32_t size = kSoundBufferDescSize;
  uint32_t flags = 0;
  uint32_t bufferBytes = 0;  // 4 to 0x0FFFFFFF, a whole number of blocks
  const SoundWaveFormat* format = nullptr;
};

class SoundDevice {
 public:
  /// Opens the default audio output (44100 Hz) and a device mixing into it.
  /// kSoundErrNoDriver when no output can be opened (`error` gets SDL's
  /// reason).
  static int32_t Create(SoundDevice** device, std::string* error = nullptr);
  /// A device without an output: the owner calls Mix itself (tests, benchmarks).
  static SoundDevice* CreateUnattached(int32_t rate);

  int32_t CreateSoundBuffer(const SoundBufferDesc& desc, SoundBuffer** buffer);
  /// kSoundErrInvalidCall for a buffer of another device; kSoundErrBufferLost
  /// once this device is released.
  int32_t DuplicateSoundBuffer(SoundBuffer* original, SoundBuffer** duplicate);

  /// Mixes the playing buffers into `frames` stereo frames at `out`. The
  /// output callback calls it on the audio thread; an unattached device's
  /// owner calls it on its own thread.
  void Mix(int16_t* out, int32_t frames);
  int32_t OutputRate() const;
  /// Buffers currently in the mix.
  int32_t PlayingBuffers() const;

  uint32_t AddRef();
  uint32_t Release();

 private:
  SoundDevice() = default;
  ~SoundDevice() = default;
  static void Fill(void* context, int16_t* out, int32_t frames);

  uint32_t _refs = 1;
  SoundMixer* _mixer = nullptr;
  AudioOutput* _output = nullptr;
};

class SoundBuffer {
 public:
  /// Maps `bytes` at `offset` for writing, in up to two regions (the second
  /// wraps to the start). kSoundLockEntireBuffer maps everything.
  int32_t Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
               uint32_t* bytes2, uint32_t flags);
  int32_t Unlock(void* region1, uint32_t bytes1, void* region2, uint32_t bytes2);
  /// Plays from the current position; kSoundPlayLooping loops.
  int32_t Play(uint32_t flags);
  /// Stops and keeps the position.
  int32_t Stop();
  /// In bytes; rounded down to a whole block.
  int32_t SetCurrentPosition(uint32_t bytes);
  int32_t GetCurrentPosition(uint32_t* bytes);
  int32_t SetVolume(int32_t volume);  // -10000 .. 0
  int32_t GetVolume(int32_t* volume);
  int32_t SetPan(int32_t pan);  // -10000 .. 10000
  int32_t GetPan(int32_t* pan);
  int32_t SetFrequency(uint32_t hertz);  // 100 .. 200000, or 0 for the format's rate
  int32_t GetFrequency(uint32_t* hertz);
  int32_t GetStatus(uint32_t* status);
  /// The creation flags of the description.
  uint32_t Flags() const { return _flags; }
  uint32_t Bytes() const;

  uint32_t AddRef();
  uint32_t Release();

 private:
  friend class SoundDevice;
  friend struct SoundMixer;
  struct Data;
  SoundBuffer() = default;
  ~SoundBuffer() = default;
  void UpdateGains();
  void UpdateStep();

  uint32_t _refs = 1;
  SoundMixer* _mixer = nullptr;
  Data* _data = nullptr;  // shared with duplicates
  uint32_t _flags = 0;
  int32_t _volume = 0;
  int32_t _pan = 0;
  uint32_t _frequency = 0;
  /// Read by the mix; changed under the mixer's lock.
  bool _playing = false;
  bool _looping = false;
  uint64_t _position = 0;  // frames, 32.32 fixed point
  uint64_t _step = 0;      // frames of the buffer per output frame, 32.32
  float _gainLeft = 1;
  float _gainRight = 1;
  SoundBuffer* _prev = nullptr;  // links in the mixer's playing list
  SoundBuffer* _next = nullptr;
};

}  // namespace vrl::platform
