// The "DirectSound" audio driver, the default back-end: each sound is one
// static platform sound buffer holding the whole sample, and every
// simultaneous playing of a sound gets a duplicate of that buffer (sharing
// its memory). The platform mixes and loops the buffers on its own audio
// thread (platform/SoundBuffer.h); the driver has no thread and all its work
// happens in calls on the main thread.
//
// Buffers are reused: a channel that takes a buffer records the buffer's
// reuse counter; when the buffer is taken away (stopped, or given to another
// channel) the counter moves on and the old channel is detached, so its
// operations do nothing. Sounds record the driver generation, which every
// Shutdown raises; the buffers of a sound from an earlier generation belong
// to a released device and do nothing.
//
// The four classes share their state with each other as friends; the
// driver's tests read it through one named peer, DirectSoundTestPeer.
#pragma once

#include <cstdint>

#include "audio/AudioDriver.h"

namespace vrl {

namespace platform {
class SoundBuffer;
class SoundDevice;
}  // namespace platform

/// One platform buffer and its reuse state. Owns one reference to the
/// platform buffer, released when the TBuf is freed.
class TBuf : public Object {
  VRL_CLASS(TBuf, Object)
  explicit TBuf(platform::SoundBuffer* buffer = nullptr) : _buffer(buffer) {}
  ~TBuf() override;

  /// 0 while _paused, else the status's playing bit (a failing status query
  /// throws "DirectSound failed (<code>)").
  virtual int32_t Playing();
  /// 1 while _paused, else the playing bit. A buffer that is not active is
  /// free for reuse.
  virtual int32_t Active();

 private:
  friend class TDirectSoundSound;
  friend class TDirectSoundChannel;
  friend class TDirectSoundAudioDriver;
  friend struct DirectSoundTestPeer;

  /// Releases the platform buffer now (the TBuf stays, empty).
  void ReleaseBuffer();

  Ref<TBuf> _succ;
  platform::SoundBuffer* _buffer = nullptr;
  int32_t _seq = 0;     // incremented each time the buffer is taken from a channel
  int32_t _paused = 0;  // 1 while a channel holds the buffer cued or paused
};

class TDirectSoundSound : public TSound {
  VRL_CLASS(TDirectSoundSound, TSound)
  ~TDirectSoundSound() override;

  Ref<TChannel> Play(TChannel* channel) override;
  Ref<TChannel> Cue(TChannel* channel) override;

  /// A sound over a new static buffer on the started driver's device.
  /// Big-endian samples are converted first. Throws the text
  /// "CreateSoundBuffer failed (<code>)" (or the Lock/Unlock equivalents)
  /// when the platform refuses, and the first of these, with the platform's
  /// no-driver code, when no driver is started.
  static Ref<TDirectSoundSound> Create(TAudioSample* sample, int32_t flags);

 private:
  friend class TDirectSoundChannel;
  friend struct DirectSoundTestPeer;

  int32_t _seq = 0;                          // driver generation at creation
  platform::SoundBuffer* _buffer = nullptr;  // the sound's own buffer (one reference)
  int32_t _hertz = 0;
  int32_t _loop = 0;
  Ref<TBuf> _bufs;  // the sound's buffers, its own first; duplicates at the head
};

class TDirectSoundChannel : public TChannel {
  VRL_CLASS(TDirectSoundChannel, TChannel)
  ~TDirectSoundChannel() override;

  int32_t Stop() override;
  int32_t SetPaused(int32_t paused) override;
  int32_t SetVolume(float volume) override;
  int32_t SetPan(float pan) override;
  int32_t SetDepth(float depth) override;
  int32_t SetRate(float rate) override;
  int32_t Playing() override;
  /// Takes a free buffer of the sound (or a new duplicate) and prepares it,
  /// paused at the start, with this channel's volume, pan and rate. 0 when no
  /// buffer could be had; the channel then stays detached.
  virtual int32_t Cue(TDirectSoundSound* sound);

  static Ref<TDirectSoundChannel> Create(int32_t isStatic);

  /// Attached: _buf is a buffer whose reuse counter still equals _seq.
  bool Attached() const;

 private:
  friend struct DirectSoundTestPeer;

  void Detach();

  float _volume = 1;  // shaped: the caller's value to the power 0.1
  float _pan = 0;     // shaped
  float _rate = 1;
  int32_t _static = 0;
  Ref<TSound> _sound;
  Ref<TBuf> _buf;
  int32_t _seq = 0;
  int32_t _hertz = 0;
  int32_t _playFlags = 0;
};

class TDirectSoundAudioDriver : public TAudioDriver {
  VRL_CLASS(TDirectSoundAudioDriver, TAudioDriver)
  ~TDirectSoundAudioDriver() override;

  Ref<String> Name() override;
  /// Opens the platform sound device; 0 when there is none (no audio device).
  int32_t Startup() override;
  int32_t Shutdown() override;
  Ref<TSound> CreateSound(TAudioSample* sample, int32_t flags) override;
  Ref<TChannel> AllocChannel() override;

  /// `mode` 1 asks for software buffers always.
  static Ref<TDirectSoundAudioDriver> Create(String* name, int32_t mode);
  /// Links a deleted sound's buffers in front of _lonely.
  virtual int32_t AddLonely(TBuf* bufs);
  /// Releases and unlinks the lonely buffers that are no longer active.
  virtual int32_t FlushLonely();

  /// The driver whose Startup succeeded last (nullptr when none), and the
  /// generation, raised by every Shutdown.
  static TDirectSoundAudioDriver* Started();
  static int32_t Generation();

 private:
  friend class TDirectSoundSound;
  friend class TDirectSoundChannel;
  friend struct DirectSoundTestPeer;

  Ref<String> _name;
  int32_t _mode = 0;
  platform::SoundDevice* _dsound = nullptr;
  Ref<TBuf> _lonely;
};

namespace directsound {
/// Registers the classes and the driver "DirectSound" (mode 0). Needs no
/// audio device: the device is opened by Startup.
void Init();
}  // namespace directsound

}  // namespace vrl
