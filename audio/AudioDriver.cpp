#include "audio/AudioDriver.h"

#include "runtime/Array.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "runtime/String.h"

namespace vrl {

const ClassRecord& TSound::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSound>("TSound", [](auto& d) {
    d.template Method<&TSound::Play>("Play");
    d.template Method<&TSound::Cue>("Cue");
    d.template Function<&TSound::Load>("Load");
  });
  return record;
}

const ClassRecord& TChannel::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TChannel>("TChannel", [](auto& d) {
    d.template Method<&TChannel::Stop>("Stop");
    d.template Method<&TChannel::SetPaused>("SetPaused");
    d.template Method<&TChannel::SetVolume>("SetVolume");
    d.template Method<&TChannel::SetPan>("SetPan");
    d.template Method<&TChannel::SetDepth>("SetDepth");
    d.template Method<&TChannel::SetRate>("SetRate");
    d.template Method<&TChannel::Playing>("Playing");
  });
  return record;
}

const ClassRecord& TAudioDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAudioDriver>("TAudioDriver", [](auto& d) {
    d.template Field<&TAudioDriver::_succ>("_succ");
    d.template Method<&TAudioDriver::Name>("Name");
    d.template Method<&TAudioDriver::Startup>("Startup");
    d.template Method<&TAudioDriver::Shutdown>("Shutdown");
    d.template Method<&TAudioDriver::CreateSound>("CreateSound");
    d.template Method<&TAudioDriver::AllocChannel>("AllocChannel");
    d.template Method<&TAudioDriver::LoadSound>("LoadSound");
  });
  return record;
}

namespace {

// Module state; it lives for the whole run.
struct AudioState {
  Ref<TAudioDriver> registry;  // head of the list through _succ
  Ref<TAudioDriver> nullDriver;
  Ref<TAudioDriver> current;  // Null until a driver has been chosen
};

AudioState& State() {
  static auto* state = new AudioState;
  return *state;
}

void ExitHandler() { audio::ShutdownCurrentDriver(); }

template <class T>
T* Checked(T* object) {
  if (!object) ThrowNullObjectException();
  return object;
}

}  // namespace

void audio::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  audiosample::Init();
  vrRegisterClass(TSound::StaticClass());
  vrRegisterClass(TChannel::StaticClass());
  vrRegisterClass(TAudioDriver::StaticClass());
  State().nullDriver = New<TAudioDriver>();
  RegisterEndHandler(&ExitHandler);
}

void audio::ShutdownCurrentDriver() {
  AudioState& state = State();
  if (!state.current.IsNull()) {
    Ref<TAudioDriver> driver = state.current;
    state.current = nullptr;
    driver->Shutdown();
  }
}

// ---------------------------------------------------------------------------

Ref<TChannel> TSound::Play(TChannel*) { return New<TChannel>(); }
Ref<TChannel> TSound::Cue(TChannel*) { return New<TChannel>(); }

Ref<TSound> TSound::Load(Object* url, int32_t flags) {
  Ref<TAudioSample> sample = Cast<TAudioSample>(url);
  if (sample.IsNull()) sample = ReadAudioSample(url);
  if (sample.IsNull()) return nullptr;
  return ActiveAudioDriver()->CreateSound(sample, flags);
}

int32_t TChannel::Stop() { return 0; }
int32_t TChannel::SetPaused(int32_t) { return 0; }
int32_t TChannel::SetVolume(float) { return 0; }
int32_t TChannel::SetPan(float) { return 0; }
int32_t TChannel::SetDepth(float) { return 0; }
int32_t TChannel::SetRate(float) { return 0; }
int32_t TChannel::Playing() { return 0; }

TAudioDriver::TAudioDriver() {
  _succ = State().registry;
  State().registry = this;
}

Ref<String> TAudioDriver::Name() { return u"Null"_vs; }
int32_t TAudioDriver::Startup() { return 1; }
int32_t TAudioDriver::Shutdown() { return 0; }
Ref<TSound> TAudioDriver::CreateSound(TAudioSample*, int32_t) { return New<TSound>(); }
Ref<TChannel> TAudioDriver::AllocChannel() { return New<TChannel>(); }
Ref<TSound> TAudioDriver::LoadSound(Object* url, int32_t flags) { return TSound::Load(url, flags); }

// ---------------------------------------------------------------------------

TAudioDriver* ActiveAudioDriver() {
  AudioState& state = State();
  if (state.current.IsNull()) {
    if (!UseAudioDriver(u"DirectSound"_vs)) UseAudioDriver(u"Null"_vs);
  }
  return state.current.get();
}

int32_t UseAudioDriver(String* name) {
  AudioState& state = State();
  Ref<String> wanted = (name ? name : EmptyString())->ToLower();
  if (!state.current.IsNull()) {
    // Null becomes current before the old driver's Shutdown runs, so a
    // throwing Shutdown still leaves the module in a defined state.
    Ref<TAudioDriver> old = state.current;
    state.current = state.nullDriver;
    old->Shutdown();
  }
  state.current = state.nullDriver;
  for (Ref<TAudioDriver> d = state.registry; !d.IsNull(); d = d->_succ) {
    if (d->Name()->ToLower()->Equals(wanted)) {
      if (!d->Startup()) return 0;
      state.current = d;
      return 1;
    }
  }
  return 0;
}

Ref<Array> AudioDriverNames() {
  constexpr int32_t kMax = 100;
  int32_t count = 0;
  for (TAudioDriver* d = State().registry.get(); d && count < kMax; d = d->_succ.get()) ++count;
  Ref<Array> names = Array::New("$", count);
  int32_t i = 0;
  for (TAudioDriver* d = State().registry.get(); d && i < count; d = d->_succ.get()) {
    names->SetObject(i++, d->Name());
  }
  return names;
}

int32_t HasAudioDriver(String* name) {
  Ref<String> wanted = (name ? name : EmptyString())->ToLower();
  for (TAudioDriver* d = State().registry.get(); d; d = d->_succ.get()) {
    if (d->Name()->ToLower()->Equals(wanted)) return 1;
  }
  return 0;
}

Ref<TSound> LoadSoundSource(Object* url, int32_t flags) { return ActiveAudioDriver()->LoadSound(url, flags); }
Ref<TChannel> StartSound(TSound* sound, TChannel* channel) { return Checked(sound)->Play(channel); }
Ref<TChannel> PrepareSound(TSound* sound, TChannel* channel) { return Checked(sound)->Cue(channel); }
Ref<TChannel> NewChannel() { return ActiveAudioDriver()->AllocChannel(); }
int32_t HaltChannel(TChannel* channel) { return Checked(channel)->Stop(); }
int32_t SuspendChannel(TChannel* channel) { return Checked(channel)->SetPaused(1); }
int32_t ContinueChannel(TChannel* channel) { return Checked(channel)->SetPaused(0); }
int32_t ChannelVolume(TChannel* channel, float volume) { return Checked(channel)->SetVolume(volume); }
int32_t ChannelPan(TChannel* channel, float pan) { return Checked(channel)->SetPan(pan); }
int32_t ChannelDepth(TChannel* channel, float depth) { return Checked(channel)->SetDepth(depth); }
int32_t ChannelRate(TChannel* channel, float rate) { return Checked(channel)->SetRate(rate); }
int32_t IsChannelPlaying(TChannel* channel) { return Checked(channel)->Playing(); }

}  // namespace vrl
