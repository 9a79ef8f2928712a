// The audio interface that applications call (module vrl.audio): sounds,
// channels, the registry of audio drivers and the current driver.
//
// The base classes are complete and silent: the base TAudioDriver is the
// "Null" driver, every base operation does nothing and returns 0, so code
// never needs to know which driver is current. Back-ends subclass the three
// classes and register driver objects when their module initialises.
//
// Everything here runs on the main thread.
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
  // Starts the sound now; the base returns a new silent channel.
  virtual Ref<TChannel> Play(TChannel* channel);
  // Prepares the sound on a channel, paused; the base returns a new channel.
  virtual Ref<TChannel> Cue(TChannel* channel);

  // A sound from `url` (a TAudioSample is used as it is; anything else goes
  // through ReadAudioSample) made by the current driver; Null when no sample
  // could be read.
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
  // 1 while the channel is audibly playing.
  virtual int32_t Playing();
};

class TAudioDriver : public Object {
  VRL_CLASS(TAudioDriver, Object)
  // Links the new driver in at the head of the registry.
  TAudioDriver();

  virtual Ref<String> Name();
  // 1 on success.
  virtual int32_t Startup();
  virtual int32_t Shutdown();
  virtual Ref<TSound> CreateSound(TAudioSample* sample, int32_t flags);
  virtual Ref<TChannel> AllocChannel();
  virtual Ref<TSound> LoadSound(Object* url, int32_t flags);

  Ref<TAudioDriver> _succ;
};

// The current driver. On first use, when none was chosen, tries
// "DirectSound" and then "Null"; after any selection (even a failed one) it
// returns the driver then current without retrying.
TAudioDriver* ActiveAudioDriver();
// Shuts the current driver down, then starts the first registered driver
// whose name equals `name` ignoring case. 1 on success; on failure the Null
// driver is current.
int32_t UseAudioDriver(String* name);
// Registered driver names, most recently registered first, at most 100.
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
// Registers the classes, creates the Null driver (the first registered) and
// installs the exit handler that shuts the current driver down.
void Init();
// What the exit handler does: shuts the current driver down and clears the
// choice, so that the next ActiveAudioDriver makes its default choice again.
void ShutdownCurrentDriver();
}  // namespace audio

}  // namespace vrl
