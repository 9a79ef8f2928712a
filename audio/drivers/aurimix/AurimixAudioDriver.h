// The Aurimix drivers: sounds, channels and drivers of the audio interface
// (audio/AudioDriver.h) over the flat mixer functions (Mixer.h). A sound
// holds one reference to its mixer sound data; a channel holds one channel
// handle, freed when the channel object goes. All calls run on the main
// thread; only the mixer's device mixes elsewhere, without framework
// objects.
//
// The drivers find their output through a device opener: kind 0 is a
// device serviced from a periodic timer ("Aurimix Multimedia"), kind 1 one
// serviced from its own thread ("Aurimix DirectSound"); mode -1 ("Aurimix")
// tries kind 0, then kind 1. The default opener makes the platform's two
// stream devices (StreamDevices.h: MixerOpenWaveOut, MixerOpenDirectSound);
// a program (or a test) may install its own. Without an output, or with no
// opener, Startup fails and the Null driver takes over.
#pragma once

#include <cstdint>

#include "audio/AudioDriver.h"
#include "audio/drivers/aurimix/Mixer.h"

namespace vrl {

class TAurimixSound : public TSound {
  VRL_CLASS(TAurimixSound, TSound)
  ~TAurimixSound() override;

  /// A channel that is not an Aurimix channel counts as none; the result is
  /// the channel passed when the voice went onto its handle, else a new one.
  Ref<TChannel> Play(TChannel* channel) override;
  Ref<TChannel> Cue(TChannel* channel) override;

  /// Wraps mixer sound data, taking over its reference (nullptr makes a
  /// silent sound). `sample` is what it was made from; the data is a copy.
  static Ref<TAurimixSound> CreateWithSound(aurimix::sounddata* sound, TAudioSample* sample);

  aurimix::sounddata* Data() const;

  /// The mixer's sound data, as an integer of pointer size.
  int64_t am_sound = 0;

 private:
  Ref<TChannel> Start(TChannel* channel, int32_t paused);
};

class TAurimixChannel : public TChannel {
  VRL_CLASS(TAurimixChannel, TChannel)
  ~TAurimixChannel() override;

  int32_t Stop() override;
  int32_t SetPaused(int32_t paused) override;
  /// Volume, pan and depth times 4096, rate times 65536, truncated toward
  /// zero and held to the range of the mixer's integers.
  int32_t SetVolume(float volume) override;
  int32_t SetPan(float pan) override;
  int32_t SetDepth(float depth) override;
  int32_t SetRate(float rate) override;
  int32_t Playing() override;
  /// Frames played since the start, every loop counted.
  virtual int32_t Position();

  static Ref<TAurimixChannel> CreateWithChannel(int32_t handle);

  int32_t am_channel = 0;  // the channel handle, 0 when none
};

class TAurimixAudioDriver : public TAudioDriver {
  VRL_CLASS(TAurimixAudioDriver, TAudioDriver)

  Ref<String> Name() override;
  int32_t Startup() override;
  int32_t Shutdown() override;
  Ref<TSound> CreateSound(TAudioSample* sample, int32_t flags) override;
  Ref<TChannel> AllocChannel() override;

  static Ref<TAurimixAudioDriver> Create(String* name, int32_t mode);

 private:
  Ref<String> _name;
  int32_t _mode = -1;  // -1 either device, 0 the timer one, 1 the thread one
};

namespace aurimix {

/// Makes an unopened device of `kind` (0 timer-serviced, 1 thread-serviced),
/// or nullptr when there is none.
using DeviceOpener = audiodevice* (*)(int32_t kind);
/// Installs the opener (nullptr: no devices). Returns the previous one.
DeviceOpener SetDeviceOpener(DeviceOpener opener);

/// Registers the classes and the drivers "Aurimix DirectSound" (mode 1),
/// "Aurimix Multimedia" (mode 0) and "Aurimix" (mode -1). Needs no device.
void Init();

}  // namespace aurimix

}  // namespace vrl
