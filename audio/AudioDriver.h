// The audio interface that applications call (module vrl.audio): sounds,
// channels, the registry of audio drivers and the current driver.
//
// What an audio back-end is
//
// A back-end subclasses TAudioDriver, TSound and TChannel. Its module's
// Init registers its classes and constructs its driver objects, which link
// themselves into the registry and live for the whole run; the back-ends
// are initialised from the one table in audio/drivers/AudioDrivers.cpp, in
// its order, after audio::Init has registered the Null driver.
// Registering needs no device: the device is opened by Startup.
//
// Threads: every call below, into the module or into a driver, sound or
// channel, runs on the main thread. A back-end may mix on a thread of its
// own (the "DirectSound" driver's platform buffers are mixed in SDL's audio
// callback), but no framework object is created, counted or touched there.
//
// A driver must:
// - answer Name() with the name it is selected by, the same on every call;
// - in Startup, open what it plays through and return 1, or return 0 with
//   nothing left open (no audio device: the Null driver then takes over);
//   Startup on a driver already started must not leak the first device;
// - in Shutdown, release its device and return 0; Shutdown on a driver that
//   is not started does nothing;
// - in CreateSound, make a sound from the sample as it is now (copy the
//   data, or hold the sample counted), honouring SOUNDFLAG_LOOP;
// - in Play and Cue, use the channel given when it is one of its own and
//   make a new one otherwise (a null channel among them), and return it.
// A driver may throw from CreateSound when the platform refuses it (the
// "DirectSound" driver throws a String such as "CreateSoundBuffer failed
// (120)"). It may not let a C++ exception cross a C library's frames
// (runtime/CallbackTrap.h). Shutdown should not throw; if it does, Null is
// already current and the exception reaches the caller.
//
// After its driver is shut down, a sound and its channels stay valid
// objects: every channel operation returns 0 and is not heard, Playing
// answers 0, Play and Cue still return a channel, and none of them throws
// or uses the released device. Starting the driver again does not revive
// them: sounds are made again from their samples.
//
// The base classes are complete and silent: the base TAudioDriver is the
// "Null" driver (Startup 1, Shutdown 0, sounds and channels of the base
// classes), every base channel operation does nothing and returns 0, and a
// base sound plays on a new silent channel, so code never needs to know
// which driver is current.
//
// Selection: UseAudioDriver(name) makes Null current, shuts the old current
// driver down, and starts the most recently registered driver whose name
// equals `name` ignoring case; when none matches or its Startup returns 0,
// Null stays current and the result is 0. Until a driver has been chosen,
// ActiveAudioDriver chooses "DirectSound", or "Null" when that fails, once;
// the exit handler (audio::ShutdownCurrentDriver) shuts the current driver
// down and forgets the choice.
#pragma once

#include <cstdint>

#include "audio/AudioSample.h"
#include "runtime/Object.h"

namespace vrl {

class Array;
class String;
class TChannel;

enum : int32_t {
  SOUNDFLAG_LOOP = 1,      // the sound loops when played
  SOUNDFLAG_HARDWARE = 2,  // DirectSound: a hardware buffer is allowed
};

class TSound : public Object {
  VRL_CLASS(TSound, Object)
  /// Starts the sound now; the base returns a new silent channel.
  virtual Ref<TChannel> Play(TChannel* channel);
  /// Prepares the sound on a channel, paused; the base returns a new channel.
  virtual Ref<TChannel> Cue(TChannel* channel);

  /// A sound from `url` (a TAudioSample is used as it is; anything else goes
  /// through ReadAudioSample) made by the current driver; Null when no sample
  /// could be read.
  static Ref<TSound> Load(Object* url, int32_t flags);
};

class TChannel : public Object {
  VRL_CLASS(TChannel, Object)
  virtual int32_t Stop();
  virtual int32_t SetPaused(int32_t paused);
  virtual int32_t SetVolume(float volume);  // 0 to 1
  virtual int32_t SetPan(float pan);        // -1 left to 1 right
  virtual int32_t SetDepth(float depth);    // -1 to 1
  virtual int32_t SetRate(float rate);      // multiplier of the sound's own rate
  /// 1 while the channel is audibly playing.
  virtual int32_t Playing();
};

class TAudioDriver : public Object {
  VRL_CLASS(TAudioDriver, Object)
  /// Links the new driver in at the head of the registry.
  TAudioDriver();

  virtual Ref<String> Name();
  /// 1 on success.
  virtual int32_t Startup();
  virtual int32_t Shutdown();
  virtual Ref<TSound> CreateSound(TAudioSample* sample, int32_t flags);
  virtual Ref<TChannel> AllocChannel();
  virtual Ref<TSound> LoadSound(Object* url, int32_t flags);

 private:
  /// The registry's walks.
  friend int32_t UseAudioDriver(String* name);
  friend Ref<Array> AudioDriverNames();
  friend int32_t HasAudioDriver(String* name);

  Ref<TAudioDriver> _succ;  // the driver registered before this one
};

/// The current driver. On first use, when none was chosen, tries
/// "DirectSound" and then "Null"; after any selection (even a failed one) it
/// returns the driver then current without retrying.
TAudioDriver* ActiveAudioDriver();
/// Shuts the current driver down, then starts the first registered driver
/// whose name equals `name` ignoring case. 1 on success; on failure the Null
/// driver is current.
int32_t UseAudioDriver(String* name);
/// Registered driver names, most recently registered first, at most 100.
Ref<Array> AudioDriverNames();
int32_t HasAudioDriver(String* name);

Ref<TSound> LoadSoundSource(Object* url, int32_t flags);
Ref<TChannel> StartSound(TSound* sound, TChannel* channel = nullptr);
Ref<TChannel> PrepareSound(TSound* sound, TChannel* channel = nullptr);
Ref<TChannel> NewChannel();
int32_t HaltChannel(TChannel* channel);
int32_t SuspendChannel(TChannel* channel);
int32_t ContinueChannel(TChannel* channel);
int32_t ChannelVolume(TChannel* channel, float volume);
int32_t ChannelPan(TChannel* channel, float pan);
int32_t ChannelDepth(TChannel* channel, float depth);
int32_t ChannelRate(TChannel* channel, float rate);
int32_t IsChannelPlaying(TChannel* channel);

namespace audio {
/// Registers the classes, creates the Null driver (the first registered) and
/// installs the exit handler that shuts the current driver down.
void Init();
/// What the exit handler does: shuts the current driver down and clears the
/// choice, so that the next ActiveAudioDriver makes its default choice again.
void ShutdownCurrentDriver();
}  // namespace audio

}  // namespace vrl
