// The OpenAL audio drivers: each sound is one OpenAL buffer holding the
// whole sample, each channel plays on one OpenAL source. The library is
// opened at run time (OpenALLibrary.h); without it no driver whose name
// starts with "OpenAL" is registered. OpenAL mixes on its own thread; every
// call here runs on the main thread and no framework object is touched
// elsewhere.
//
// Sources are reused. A channel records the source's reuse counter (_seq)
// when it takes the source; whenever the source is stopped through a
// channel or taken for another channel the counter moves on, and a channel
// whose number is out of date is detached and ignores every call. Sources of
// channels made on the fly (Play and Cue without a channel) wait in the
// recycling list and are taken again once they have stopped; a channel from
// AllocChannel (static) keeps its source out of the list until the channel
// is stopped or destroyed.
//
// Every Shutdown raises the driver generation. Sources and buffers record
// the generation they were made in; those of an earlier one belong to a
// closed device (whose names a new device hands out again), so they are
// never passed to OpenAL: their channels are detached, their sounds silent.
#pragma once

#include <cstdint>

#include "audio/AudioDriver.h"

namespace vrl {

class String;
class TOpenALSound;

/// One OpenAL source and its reuse state.
class TOpenALSource : public Object {
  VRL_CLASS(TOpenALSource, Object)
  ~TOpenALSource() override;

  /// 1 while the source is playing.
  virtual int32_t Playing();
  /// 1 while it is paused or not yet played (initial).
  virtual int32_t Paused();
  /// 1 unless it has stopped: initial, playing or paused.
  virtual int32_t Active();
  /// Writes the state's name ("AL_INITIAL", "AL_PLAYING", "AL_PAUSED",
  /// "AL_STOPPED") and a line end to the debug log.
  virtual int32_t LogState();

 private:
  friend class TOpenALChannel;
  friend class TOpenALAudioDriver;
  friend struct OpenALTestPeer;

  /// The OpenAL state; AL_STOPPED for a source that was never made or
  /// belongs to a closed device.
  int32_t SourceState();
  bool Live() const;

  Ref<TOpenALSource> _succ;  // next in the recycling list
  int32_t _id = 0;           // the OpenAL source name, 0 when generation failed
  int32_t _seq = 0;          // moves on whenever the source is stopped or taken
  Ref<TOpenALSound> _sound;  // the sound attached, kept alive while it plays
  int32_t _generation = 0;   // the driver generation the source was made in
};

class TOpenALSound : public TSound {
  VRL_CLASS(TOpenALSound, TSound)
  /// Deletes the buffer (when its device is still open).
  ~TOpenALSound() override;

  /// Use the channel given when it is an OpenAL channel, else a new one made
  /// on the fly.
  Ref<TChannel> Play(TChannel* channel) override;
  Ref<TChannel> Cue(TChannel* channel) override;

  /// One buffer filled with the whole sample at its rate (big-endian samples
  /// converted first), looping when `flags` has SOUNDFLAG_LOOP. Throws the
  /// text "<call> failed (<error name>)" when OpenAL refuses the buffer, for
  /// example "alGenBuffers failed (INVALID_OPERATION)" when no OpenAL driver
  /// is started.
  static Ref<TOpenALSound> Create(TAudioSample* sample, int32_t flags);

 private:
  friend class TOpenALChannel;
  friend struct OpenALTestPeer;

  int32_t _buffer = 0;  // the OpenAL buffer name
  int32_t _loop = 0;
  int32_t _generation = 0;
};

class TOpenALChannel : public TChannel {
  VRL_CLASS(TOpenALChannel, TChannel)
  /// A source that is not playing is stopped and emptied; a playing one
  /// plays on. A static channel's source then goes to the recycling list.
  ~TOpenALChannel() override;

  /// Detaches every channel on the source, stops and empties it; a static
  /// channel then puts its source in the recycling list.
  int32_t Stop() override;
  /// Non-zero pauses; 0 plays a paused or not yet played source.
  int32_t SetPaused(int32_t paused) override;
  int32_t SetVolume(float volume) override;  // the source's gain
  /// The source's position on the unit circle in front of the listener:
  /// (sin(pan * 90), 0, -cos(pan * 90)), -1 full left, 1 full right.
  int32_t SetPan(float pan) override;
  int32_t SetDepth(float depth) override;  // no effect
  int32_t SetRate(float rate) override;    // the source's pitch
  int32_t Playing() override;
  /// Puts the sound on the source, rewound, with its looping; 1 when done, 0
  /// on a detached channel.
  virtual int32_t Cue(TOpenALSound* sound);

  /// A channel on a free source of the recycling list, or on a new source
  /// (detached from the start when OpenAL could not make one).
  static Ref<TOpenALChannel> Create(int32_t isStatic);

  /// The channel's number still equals its source's.
  bool Attached() const;

 private:
  friend struct OpenALTestPeer;

  Ref<TOpenALSource> _source;
  int32_t _seq = 0;
  int32_t _static = 0;  // 1 for channels from AllocChannel
};

class TOpenALAudioDriver : public TAudioDriver {
  VRL_CLASS(TOpenALAudioDriver, TAudioDriver)
  ~TOpenALAudioDriver() override;

  Ref<String> Name() override;
  /// Opens the named device, or with no name the default one and, failing
  /// that, "Generic Hardware" and then "Generic Software"; makes a context
  /// current with the distance model none. 0, with nothing left open, when
  /// no device or no context could be had.
  int32_t Startup() override;
  /// Empties the recycling list, destroys the context, closes the device.
  int32_t Shutdown() override;
  Ref<TSound> CreateSound(TAudioSample* sample, int32_t flags) override;
  Ref<TChannel> AllocChannel() override;

  /// A driver named `name` on the device `devname` (empty: the default).
  static Ref<TOpenALAudioDriver> Create(String* name, String* devname);

  /// The driver whose Startup succeeded last and is not shut down, else
  /// nullptr; the generation, raised by every Shutdown.
  static TOpenALAudioDriver* Started();
  static int32_t Generation();

 private:
  friend struct OpenALTestPeer;

  Ref<String> _name;
  Ref<String> _devname;
  int64_t _device = 0;   // the ALCdevice, as an integer of pointer size
  int64_t _context = 0;  // the ALCcontext, likewise
};

/// Registers, once, one driver per device that OpenAL lists ("OpenAL "
/// followed by the device name, at most 100) and then "OpenAL Default" on
/// the default device it reports. 1 when the drivers are registered (also on
/// later calls), 0 when the library or its device query is missing.
int32_t EnableOpenALDevices();

/// The name of an OpenAL error code: "INVALID_NAME", "INVALID_ENUM",
/// "INVALID_VALUE", "INVALID_OPERATION", "OUT_OF_MEMORY", else "?????".
const char* OpenALErrorName(int32_t error);

namespace openal {
/// Registers the classes, opens the library and, when it opened, registers
/// the driver "OpenAL" on the default device. Needs no audio device.
void Init();
}  // namespace openal

}  // namespace vrl
