#include "audio/drivers/openal/OpenALAudioDriver.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "audio/drivers/openal/OpenALLibrary.h"
#include "runtime/ClassRecord.h"
#include "runtime/Debug.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"

namespace vrl {

const ClassRecord& TOpenALSource::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TOpenALSource>("TOpenALSource", [](auto& d) {
    d.template Field<&TOpenALSource::_succ>("_succ");
    d.template Field<&TOpenALSource::_id>("_id");
    d.template Field<&TOpenALSource::_seq>("_seq");
    d.template Field<&TOpenALSource::_sound>("_sound");
    d.template Method<&TOpenALSource::Playing>("Playing");
    d.template Method<&TOpenALSource::Paused>("Paused");
    d.template Method<&TOpenALSource::Active>("Active");
    d.template Method<&TOpenALSource::LogState>("LogState");
  });
  return record;
}

const ClassRecord& TOpenALSound::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TOpenALSound>("TOpenALSound", [](auto& d) {
    d.template Field<&TOpenALSound::_buffer>("_buffer");
    d.template Field<&TOpenALSound::_loop>("_loop");
    d.template Function<&TOpenALSound::Create>("Create");
  });
  return record;
}

const ClassRecord& TOpenALChannel::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TOpenALChannel>("TOpenALChannel", [](auto& d) {
    d.template Field<&TOpenALChannel::_source>("_source");
    d.template Field<&TOpenALChannel::_seq>("_seq");
    d.template Field<&TOpenALChannel::_static>("_static");
    d.template Method<&TOpenALChannel::Cue>("Cue");
    d.template Function<&TOpenALChannel::Create>("Create");
  });
  return record;
}

const ClassRecord& TOpenALAudioDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TOpenALAudioDriver>("TOpenALAudioDriver", [](auto& d) {
    d.template Field<&TOpenALAudioDriver::_name>("_name");
    d.template Field<&TOpenALAudioDriver::_devname>("_devname");
    d.template Field<&TOpenALAudioDriver::_device>("_device");
    d.template Field<&TOpenALAudioDriver::_context>("_context");
    d.template Function<&TOpenALAudioDriver::Create>("Create");
  });
  return record;
}

namespace {

using openal::AL;

struct DriverState {
  Ref<TOpenALSource> sources;  // the recycling list
  TOpenALAudioDriver* started = nullptr;
  int32_t generation = 1;
  bool devicesEnabled = false;
};

DriverState& State() {
  static auto* state = new DriverState;
  return *state;
}

// The handles are kept as integers of pointer size.
ALCdevice* Device(int64_t handle) { return std::bit_cast<ALCdevice*>(handle); }
ALCcontext* Context(int64_t handle) { return std::bit_cast<ALCcontext*>(handle); }
template <class T>
int64_t Handle(T* p) {
  return std::bit_cast<int64_t>(p);
}
ALuint Name(int32_t id) { return ALuint(id); }

// Reads (and so clears) the OpenAL error state; a set error is logged and
// returned, 0 otherwise.
ALenum TakeError() {
  ALenum error = AL().alGetError();
  if (error != AL_NO_ERROR) {
    vrDebugLog(String::FromNarrow(std::string("OpenAL Error: ") + OpenALErrorName(error) + "\n"));
  }
  return error;
}

[[noreturn]] void ThrowFailed(const char* call, ALenum error) {
  vrThrow(String::FromNarrow(std::string(call) + " failed (" + OpenALErrorName(error) + ")"));
}

// OpenAL's format for a sample format code, 0 for none.
ALenum BufferFormat(int32_t format) {
  switch (format) {
    case SAMPLE_MONO8:
      return AL_FORMAT_MONO8;
    case SAMPLE_MONO16LE:
      return AL_FORMAT_MONO16;
    case SAMPLE_STEREO8:
      return AL_FORMAT_STEREO8;
    case SAMPLE_STEREO16LE:
      return AL_FORMAT_STEREO16;
    default:
      return 0;
  }
}

ALCdevice* OpenDevice(const std::string& name) { return AL().alcOpenDevice(name.c_str()); }

}  // namespace

const char* OpenALErrorName(int32_t error) {
  switch (error) {
    case AL_INVALID_NAME:
      return "INVALID_NAME";
    case AL_INVALID_ENUM:
      return "INVALID_ENUM";
    case AL_INVALID_VALUE:
      return "INVALID_VALUE";
    case AL_INVALID_OPERATION:
      return "INVALID_OPERATION";
    case AL_OUT_OF_MEMORY:
      return "OUT_OF_MEMORY";
    default:
      return "?????";
  }
}

void openal::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  audio::Init();
  vrRegisterClass(TOpenALSource::StaticClass());
  vrRegisterClass(TOpenALSound::StaticClass());
  vrRegisterClass(TOpenALChannel::StaticClass());
  vrRegisterClass(TOpenALAudioDriver::StaticClass());
  if (openal::Load()) TOpenALAudioDriver::Create(u"OpenAL"_vs, u""_vs);
}

int32_t EnableOpenALDevices() {
  if (!openal::Loaded() || !AL().alcGetString) return 0;
  DriverState& state = State();
  if (state.devicesEnabled) return 1;
  state.devicesEnabled = true;
  // A list of NUL-terminated names ended by an empty one.
  const char* name = AL().alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
  for (int count = 0; name && *name && count < 100; ++count) {
    Ref<String> devname = String::FromUtf8(name);
    TOpenALAudioDriver::Create(vrConcatStrings(u"OpenAL "_vs, devname), devname);
    name += std::strlen(name) + 1;
  }
  const char* defaultName = AL().alcGetString(nullptr, ALC_DEFAULT_DEVICE_SPECIFIER);
  TOpenALAudioDriver::Create(u"OpenAL Default"_vs, String::FromUtf8(defaultName ? defaultName : ""));
  return 1;
}

// ---------------------------------------------------------------------------

// The OpenAL source itself goes with its context; emptied here, it no longer
// holds the buffer of the sound that this object releases.
TOpenALSource::~TOpenALSource() {
  if (!Live()) return;
  AL().alSourceStop(Name(_id));
  AL().alSourcei(Name(_id), AL_BUFFER, 0);
}

bool TOpenALSource::Live() const { return _id != 0 && _generation == State().generation; }

int32_t TOpenALSource::SourceState() {
  ALint state = AL_STOPPED;
  if (Live()) AL().alGetSourcei(Name(_id), AL_SOURCE_STATE, &state);
  return state;
}

int32_t TOpenALSource::Playing() { return SourceState() == AL_PLAYING ? 1 : 0; }

int32_t TOpenALSource::Paused() {
  int32_t state = SourceState();
  return (state == AL_PAUSED || state == AL_INITIAL) ? 1 : 0;
}

int32_t TOpenALSource::Active() { return SourceState() != AL_STOPPED ? 1 : 0; }

int32_t TOpenALSource::LogState() {
  switch (SourceState()) {
    case AL_INITIAL:
      vrDebugLog(u"AL_INITIAL\n"_vs);
      break;
    case AL_PLAYING:
      vrDebugLog(u"AL_PLAYING\n"_vs);
      break;
    case AL_PAUSED:
      vrDebugLog(u"AL_PAUSED\n"_vs);
      break;
    default:
      vrDebugLog(u"AL_STOPPED\n"_vs);
      break;
  }
  return 0;
}

// ---------------------------------------------------------------------------

TOpenALSound::~TOpenALSound() {
  if (_buffer != 0 && _generation == State().generation) {
    ALuint buffer = Name(_buffer);
    AL().alDeleteBuffers(1, &buffer);
  }
}

Ref<TOpenALSound> TOpenALSound::Create(TAudioSample* sampleIn, int32_t flags) {
  if (!sampleIn) ThrowNullObjectException();
  Ref<TAudioSample> sample = sampleIn;
  if (sample->format == SAMPLE_MONO16BE)
    sample = sample->Convert(SAMPLE_MONO16LE);
  else if (sample->format == SAMPLE_STEREO16BE)
    sample = sample->Convert(SAMPLE_STEREO16LE);
  const ALenum format = BufferFormat(sample->format);
  if (format == 0) vrRuntimeError("Unimplemented sample format conversion");
  if (!openal::Loaded() || !TOpenALAudioDriver::Started()) ThrowFailed("alGenBuffers", AL_INVALID_OPERATION);

  AL().alGetError();  // an error left by an earlier call is not this one's
  ALuint buffer = 0;
  AL().alGenBuffers(1, &buffer);
  if (ALenum error = TakeError()) ThrowFailed("alGenBuffers", error);
  // The sound owns the buffer from here, so a failed fill deletes it.
  Ref<TOpenALSound> sound = New<TOpenALSound>();
  sound->_buffer = int32_t(buffer);
  sound->_generation = State().generation;
  sound->_loop = (flags & SOUNDFLAG_LOOP) ? 1 : 0;

  const int64_t bytes = sample->DataBytes();
  if (bytes > 0x7FFFFFFF) ThrowFailed("alBufferData", AL_INVALID_VALUE);
  AL().alBufferData(buffer, format, sample->samples, ALsizei(bytes), ALsizei(sample->hertz));
  if (ALenum error = TakeError()) ThrowFailed("alBufferData", error);
  return sound;
}

Ref<TChannel> TOpenALSound::Cue(TChannel* channel) {
  Ref<TOpenALChannel> al = Cast<TOpenALChannel>(channel);
  if (al.IsNull()) al = TOpenALChannel::Create(0);
  al->Cue(this);
  return al;
}

Ref<TChannel> TOpenALSound::Play(TChannel* channel) {
  Ref<TChannel> cued = Cue(channel);
  cued->SetPaused(0);
  return cued;
}

// ---------------------------------------------------------------------------

Ref<TOpenALChannel> TOpenALChannel::Create(int32_t isStatic) {
  DriverState& state = State();
  Ref<TOpenALSource> source;
  // The first free source of the list is taken out of it: one that has
  // stopped, or one left without a sound (stopped or given back before it
  // ever played, which OpenAL leaves in its initial state).
  TOpenALSource* before = nullptr;
  for (TOpenALSource* s = state.sources.get(); s; before = s, s = s->_succ.get()) {
    if (s->Active() && !s->_sound.IsNull()) continue;
    source = s;
    ++source->_seq;
    if (before)
      before->_succ = source->_succ;
    else
      state.sources = source->_succ;
    source->_succ = nullptr;
    AL().alSourceStop(Name(source->_id));
    AL().alSourcei(Name(source->_id), AL_BUFFER, 0);
    source->_sound = nullptr;
    vrDebugLog(vrConcatStrings(vrConcatStrings(u"Recycling OpenAL source "_vs, String::FromInt(source->_id)),
                               u"\n"_vs));
    break;
  }
  if (source.IsNull()) {
    source = New<TOpenALSource>();
    if (openal::Loaded()) {
      ALuint id = 0;
      AL().alGetError();
      AL().alGenSources(1, &id);
      if (TakeError() == AL_NO_ERROR) source->_id = int32_t(id);
    }
    source->_generation = state.generation;
    if (source->_id != 0) {
      vrDebugLog(vrConcatStrings(
          vrConcatStrings(u"Generated OpenAL source "_vs, String::FromInt(source->_id)), u"\n"_vs));
    } else {
      vrDebugLog(u"Failed to generate OpenAL source\n"_vs);
    }
  }

  Ref<TOpenALChannel> channel = New<TOpenALChannel>();
  channel->_source = source;
  channel->_seq = source->_seq;
  channel->_static = isStatic;
  if (source->_id == 0) {
    channel->_seq = source->_seq + 1;  // detached from the start
    return channel;
  }
  const ALuint id = Name(source->_id);
  AL().alSourcei(id, AL_SOURCE_RELATIVE, AL_TRUE);
  AL().alSourcef(id, AL_GAIN, 1.0f);
  AL().alSourcef(id, AL_PITCH, 1.0f);
  AL().alSource3f(id, AL_POSITION, 0.0f, 0.0f, 1.0f);
  if (!isStatic) {
    source->_succ = state.sources;
    state.sources = source;
  }
  return channel;
}

TOpenALChannel::~TOpenALChannel() {
  if (!Attached()) return;
  if (!_source->Playing()) {
    AL().alSourceStop(Name(_source->_id));
    AL().alSourcei(Name(_source->_id), AL_BUFFER, 0);
    _source->_sound = nullptr;
  }
  if (_static) {
    DriverState& state = State();
    _source->_succ = state.sources;
    state.sources = _source;
  }
}

bool TOpenALChannel::Attached() const {
  return !_source.IsNull() && _seq == _source->_seq && _source->Live();
}

int32_t TOpenALChannel::Stop() {
  if (!Attached()) return 0;
  ++_source->_seq;
  AL().alSourceStop(Name(_source->_id));
  AL().alSourcei(Name(_source->_id), AL_BUFFER, 0);
  _source->_sound = nullptr;
  if (_static) {
    DriverState& state = State();
    _source->_succ = state.sources;
    state.sources = _source;
  }
  return 0;
}

int32_t TOpenALChannel::SetPaused(int32_t paused) {
  if (!Attached()) return 0;
  if (paused != 0)
    AL().alSourcePause(Name(_source->_id));
  else if (_source->Paused())
    AL().alSourcePlay(Name(_source->_id));
  return 0;
}

int32_t TOpenALChannel::SetVolume(float volume) {
  if (Attached()) AL().alSourcef(Name(_source->_id), AL_GAIN, volume);
  return 0;
}

int32_t TOpenALChannel::SetPan(float pan) {
  if (!Attached()) return 0;
  const double angle = double(pan) * M_PI / 2;
  AL().alSource3f(Name(_source->_id), AL_POSITION, float(std::sin(angle)), 0.0f, float(-std::cos(angle)));
  return 0;
}

int32_t TOpenALChannel::SetDepth(float) { return 0; }

int32_t TOpenALChannel::SetRate(float rate) {
  if (Attached()) AL().alSourcef(Name(_source->_id), AL_PITCH, rate);
  return 0;
}

int32_t TOpenALChannel::Playing() { return Attached() ? _source->Playing() : 0; }

int32_t TOpenALChannel::Cue(TOpenALSound* sound) {
  if (!sound) ThrowNullObjectException();
  if (!Attached()) return 0;
  _source->_sound = sound;
  const ALuint id = Name(_source->_id);
  AL().alSourceRewind(id);
  AL().alSourcei(id, AL_LOOPING, sound->_loop ? AL_TRUE : AL_FALSE);
  // A sound from an earlier device has no buffer on this one.
  const bool current = sound->_generation == State().generation;
  AL().alSourcei(id, AL_BUFFER, current ? ALint(sound->_buffer) : 0);
  return 1;
}

// ---------------------------------------------------------------------------

Ref<TOpenALAudioDriver> TOpenALAudioDriver::Create(String* name, String* devname) {
  Ref<TOpenALAudioDriver> driver = New<TOpenALAudioDriver>();
  driver->_name = name;
  driver->_devname = devname;
  return driver;
}

TOpenALAudioDriver::~TOpenALAudioDriver() { Shutdown(); }

TOpenALAudioDriver* TOpenALAudioDriver::Started() { return State().started; }
int32_t TOpenALAudioDriver::Generation() { return State().generation; }

Ref<String> TOpenALAudioDriver::Name() { return _name; }

int32_t TOpenALAudioDriver::Startup() {
  if (!openal::Loaded()) return 0;
  DriverState& state = State();
  // One context is current at a time: a driver started before (this one
  // or another) lets its device go first.
  if (state.started) state.started->Shutdown();
  ALCdevice* device = nullptr;
  const std::string devname = _devname->ToUtf8String();
  if (!devname.empty()) {
    device = OpenDevice(devname);
  } else {
    device = AL().alcOpenDevice(nullptr);
    if (!device) device = OpenDevice("Generic Hardware");
    if (!device) device = OpenDevice("Generic Software");
  }
  if (!device) return 0;
  ALCcontext* context = AL().alcCreateContext(device, nullptr);
  if (!context) {
    AL().alcCloseDevice(device);
    return 0;
  }
  AL().alcMakeContextCurrent(context);
  AL().alDistanceModel(AL_NONE);
  _device = Handle(device);
  _context = Handle(context);
  state.started = this;
  return 1;
}

int32_t TOpenALAudioDriver::Shutdown() {
  if (_context == 0 && _device == 0) return 0;
  DriverState& state = State();
  // Everything made on this device is out of date from here.
  ++state.generation;
  state.sources = nullptr;
  if (state.started == this) state.started = nullptr;
  AL().alcMakeContextCurrent(nullptr);
  AL().alcDestroyContext(Context(_context));
  AL().alcCloseDevice(Device(_device));
  _context = 0;
  _device = 0;
  return 0;
}

Ref<TSound> TOpenALAudioDriver::CreateSound(TAudioSample* sample, int32_t flags) {
  return TOpenALSound::Create(sample, flags);
}

Ref<TChannel> TOpenALAudioDriver::AllocChannel() { return TOpenALChannel::Create(1); }

}  // namespace vrl
