#include "audio/drivers/DirectSoundAudioDriver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/SoundBuffer.h"
#include "runtime/ClassRecord.h"
#include "runtime/Debug.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"

namespace vrl {

const ClassRecord& TBuf::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TBuf>("TBuf", [](auto& d) {
    d.template Field<&TBuf::_succ>("_succ");
    d.template Field<&TBuf::_buffer>("_buffer");
    d.template Field<&TBuf::_seq>("_seq");
    d.template Field<&TBuf::_paused>("_paused");
    d.template Method<&TBuf::Playing>("Playing");
    d.template Method<&TBuf::Active>("Active");
  });
  return record;
}

const ClassRecord& TDirectSoundSound::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TDirectSoundSound>("TDirectSoundSound", [](auto& d) {
    d.template Field<&TDirectSoundSound::_seq>("_seq");
    d.template Field<&TDirectSoundSound::_buffer>("_buffer");
    d.template Field<&TDirectSoundSound::_hertz>("_hertz");
    d.template Field<&TDirectSoundSound::_loop>("_loop");
    d.template Field<&TDirectSoundSound::_bufs>("_bufs");
    d.template Function<&TDirectSoundSound::Create>("Create");
  });
  return record;
}

const ClassRecord& TDirectSoundChannel::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TDirectSoundChannel>("TDirectSoundChannel", [](auto& d) {
    d.template Field<&TDirectSoundChannel::_volume>("_volume");
    d.template Field<&TDirectSoundChannel::_pan>("_pan");
    d.template Field<&TDirectSoundChannel::_rate>("_rate");
    d.template Field<&TDirectSoundChannel::_static>("_static");
    d.template Field<&TDirectSoundChannel::_sound>("_sound");
    d.template Field<&TDirectSoundChannel::_buf>("_buf");
    d.template Field<&TDirectSoundChannel::_seq>("_seq");
    d.template Field<&TDirectSoundChannel::_hertz>("_hertz");
    d.template Field<&TDirectSoundChannel::_playFlags>("_playFlags");
    d.template Method<&TDirectSoundChannel::Cue>("Cue");
    d.template Function<&TDirectSoundChannel::Create>("Create");
  });
  return record;
}

const ClassRecord& TDirectSoundAudioDriver::StaticClass() {
  static const ClassRecord record =
      ClassRecord::Of<TDirectSoundAudioDriver>("TDirectSoundAudioDriver", [](auto& d) {
        d.template Field<&TDirectSoundAudioDriver::_name>("_name");
        d.template Field<&TDirectSoundAudioDriver::_mode>("_mode");
        d.template Field<&TDirectSoundAudioDriver::_dsound>("_dsound");
        d.template Field<&TDirectSoundAudioDriver::_lonely>("_lonely");
        d.template Function<&TDirectSoundAudioDriver::Create>("Create");
        d.template Method<&TDirectSoundAudioDriver::AddLonely>("AddLonely");
        d.template Method<&TDirectSoundAudioDriver::FlushLonely>("FlushLonely");
      });
  return record;
}

namespace {

struct DriverState {
  Ref<TDirectSoundAudioDriver> started;
  int32_t generation = 0;
};

DriverState& State() {
  static auto* state = new DriverState;
  return *state;
}

// Throws "<label> failed (<low 16 bits of the result>)" for a negative result.
void Check(int32_t result, const char* label) {
  if (result >= 0) return;
  std::string text = std::string(label) + " failed (" + std::to_string(uint32_t(result) & 0xFFFF) + ")";
  vrThrow(String::FromNarrow(text));
}

// Truncation toward zero, saturating where the float does not fit.
int32_t Trunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return int32_t(-2147483647 - 1);
  return int32_t(v);
}

// The DirectSound volume of a shaped volume, and so on.
int32_t BufferVolume(float shaped) { return Trunc((1.0f - shaped) * -10000.0f); }
int32_t BufferPan(float shaped) { return Trunc(shaped * 10000.0f); }
uint32_t BufferFrequency(int32_t hertz, float rate) { return uint32_t(Trunc(float(hertz) * rate)); }

}  // namespace

void directsound::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  audio::Init();
  vrRegisterClass(TBuf::StaticClass());
  vrRegisterClass(TDirectSoundSound::StaticClass());
  vrRegisterClass(TDirectSoundChannel::StaticClass());
  vrRegisterClass(TDirectSoundAudioDriver::StaticClass());
  // The platform buffers always exist here, so the driver is always
  // registered; without an audio device its Startup fails instead.
  TDirectSoundAudioDriver::Create(u"DirectSound"_vs, 0);
}

// ---------------------------------------------------------------------------

TBuf::~TBuf() { ReleaseBuffer(); }

void TBuf::ReleaseBuffer() {
  if (!_buffer) return;
  _buffer->Release();
  _buffer = nullptr;
  vrDebugLog(u"Released DirectSound buffer\n"_vs);
}

int32_t TBuf::Playing() {
  if (_paused) return 0;
  if (!_buffer) return 0;
  uint32_t status = 0;
  Check(_buffer->GetStatus(&status), "DirectSound");
  return (status & platform::kSoundStatusPlaying) ? 1 : 0;
}

int32_t TBuf::Active() {
  if (_paused) return 1;
  return Playing();
}

// ---------------------------------------------------------------------------

TDirectSoundSound::~TDirectSoundSound() {
  DriverState& state = State();
  // Buffers of the current generation may still be playing: the started
  // driver keeps them until they end. Older ones belong to a released
  // device; dropping them releases them.
  if (_seq == state.generation && !state.started.IsNull() && !_bufs.IsNull()) {
    state.started->AddLonely(_bufs);
  }
  if (_buffer) _buffer->Release();
}

Ref<TDirectSoundSound> TDirectSoundSound::Create(TAudioSample* sampleIn, int32_t flags) {
  if (!sampleIn) ThrowNullObjectException();
  DriverState& state = State();
  Ref<TDirectSoundAudioDriver> driver = state.started;
  if (!driver.IsNull()) driver->FlushLonely();

  Ref<TAudioSample> sample = sampleIn;
  if (sample->format == SAMPLE_MONO16BE)
    sample = sample->Convert(SAMPLE_MONO16LE);
  else if (sample->format == SAMPLE_STEREO16BE)
    sample = sample->Convert(SAMPLE_STEREO16LE);
  if (!IsSampleFormat(sample->format)) vrRuntimeError("Unimplemented sample format conversion");

  const int32_t channels = SampleChannels[sample->format];
  const int32_t bytesPerChannel = SampleBytes[sample->format] / channels;
  const int64_t size = int64_t(sample->length) * channels * bytesPerChannel;

  platform::SoundWaveFormat format;
  format.formatTag = 1;
  format.channels = uint16_t(channels);
  format.samplesPerSec = uint32_t(sample->hertz);
  format.bitsPerSample = uint16_t(bytesPerChannel * 8);
  format.blockAlign = uint16_t(format.bitsPerSample / 8 * channels);
  format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;

  platform::SoundBufferDesc desc;
  desc.size = platform::kSoundBufferDescSize;
  desc.flags = platform::kSoundCapsStatic | platform::kSoundCapsCtrlVolume | platform::kSoundCapsCtrlPan |
               platform::kSoundCapsCtrlFrequency | platform::kSoundCapsGlobalFocus;
  // Without a started driver there is no mode to consult (and no device:
  // the creation below fails as the platform reports it).
  const bool softwareMode = !driver.IsNull() && driver->_mode == 1;
  if (softwareMode || !(flags & SOUNDFLAG_HARDWARE)) desc.flags |= platform::kSoundCapsLocSoftware;
  desc.bufferBytes = uint32_t(std::min<int64_t>(size, 0xFFFFFFFF));
  desc.format = &format;

  platform::SoundBuffer* buffer = nullptr;
  platform::SoundDevice* device = driver.IsNull() ? nullptr : driver->_dsound;
  Check(device ? device->CreateSoundBuffer(desc, &buffer) : platform::kSoundErrNoDriver, "CreateSoundBuffer");
  // The TBuf owns the buffer from here, so a failed lock does not leak it.
  Ref<TBuf> own = New<TBuf>(buffer);
  vrDebugLog(u"Created DirectSound buffer\n"_vs);
  void* region1 = nullptr;
  void* region2 = nullptr;
  uint32_t bytes1 = 0, bytes2 = 0;
  Check(buffer->Lock(0, desc.bufferBytes, &region1, &bytes1, &region2, &bytes2, 0), "Lock SoundBuffer");
  std::memcpy(region1, sample->samples, std::min<std::size_t>(bytes1, std::size_t(size)));
  Check(buffer->Unlock(region1, bytes1, region2, bytes2), "Unlock SoundBuffer");

  Ref<TDirectSoundSound> sound = New<TDirectSoundSound>();
  sound->_seq = state.generation;
  buffer->AddRef();
  sound->_buffer = buffer;
  sound->_hertz = sample->hertz;
  sound->_loop = (flags & SOUNDFLAG_LOOP) ? 1 : 0;
  sound->_bufs = own;
  return sound;
}

Ref<TChannel> TDirectSoundSound::Cue(TChannel* channel) {
  Ref<TDirectSoundChannel> ds = Cast<TDirectSoundChannel>(channel);
  if (ds.IsNull()) ds = TDirectSoundChannel::Create(0);
  ds->Cue(this);
  return ds;
}

Ref<TChannel> TDirectSoundSound::Play(TChannel* channel) {
  Ref<TChannel> cued = Cue(channel);
  cued->SetPaused(0);
  return cued;
}

// ---------------------------------------------------------------------------

Ref<TDirectSoundChannel> TDirectSoundChannel::Create(int32_t isStatic) {
  Ref<TDirectSoundChannel> channel = New<TDirectSoundChannel>();
  channel->_static = isStatic;
  return channel;
}

TDirectSoundChannel::~TDirectSoundChannel() {
  // A buffer left cued or paused would count as active for ever and never
  // be reused or released: give it back. A playing buffer plays on.
  if (Attached() && _buf->_paused) {
    if (_buf->_buffer) _buf->_buffer->Stop();
    Detach();
  }
}

bool TDirectSoundChannel::Attached() const { return !_buf.IsNull() && _seq == _buf->_seq; }

void TDirectSoundChannel::Detach() {
  _buf->_paused = 0;
  ++_buf->_seq;
  _buf = nullptr;
}

int32_t TDirectSoundChannel::Stop() {
  if (!Attached()) return 0;
  if (_buf->_buffer) _buf->_buffer->Stop();
  Detach();
  return 0;
}

int32_t TDirectSoundChannel::SetPaused(int32_t paused) {
  if (!Attached()) return 0;
  if (!_buf->Active()) {
    // A one-shot sound has ended.
    Detach();
    return 0;
  }
  if (_buf->_buffer) {
    if (paused == 0)
      _buf->_buffer->Play(uint32_t(_playFlags));
    else
      _buf->_buffer->Stop();
  }
  _buf->_paused = paused ? 1 : 0;
  return 0;
}

int32_t TDirectSoundChannel::SetVolume(float volume) {
  _volume = std::pow(std::min(std::max(volume, 0.0f), 1.0f), 0.1f);
  if (Attached() && _buf->_buffer) _buf->_buffer->SetVolume(BufferVolume(_volume));
  return 0;
}

int32_t TDirectSoundChannel::SetPan(float pan) {
  float q = std::min(std::max(pan, -1.0f), 1.0f);
  float sign = q < 0 ? -1.0f : (q > 0 ? 1.0f : 0.0f);
  _pan = sign * (1.0f - std::pow(1.0f - std::fabs(q), 0.1f));
  if (Attached() && _buf->_buffer) _buf->_buffer->SetPan(BufferPan(_pan));
  return 0;
}

int32_t TDirectSoundChannel::SetDepth(float) { return 0; }

int32_t TDirectSoundChannel::SetRate(float rate) {
  _rate = rate;
  if (Attached() && _buf->_buffer) _buf->_buffer->SetFrequency(BufferFrequency(_hertz, _rate));
  return 0;
}

int32_t TDirectSoundChannel::Playing() { return Attached() ? _buf->Playing() : 0; }

int32_t TDirectSoundChannel::Cue(TDirectSoundSound* sound) {
  if (!sound) ThrowNullObjectException();
  Stop();
  Ref<TBuf> buf;
  for (TBuf* b = sound->_bufs.get(); b; b = b->_succ.get()) {
    if (!b->Active()) {
      ++b->_seq;
      buf = b;
      break;
    }
  }
  if (buf.IsNull()) {
    TDirectSoundAudioDriver* driver = TDirectSoundAudioDriver::Started();
    if (!driver || !driver->_dsound) return 0;
    driver->FlushLonely();
    platform::SoundBuffer* duplicate = nullptr;
    if (driver->_dsound->DuplicateSoundBuffer(sound->_buffer, &duplicate) < 0) return 0;
    buf = New<TBuf>(duplicate);
    vrDebugLog(u"Duplicated DirectSound buffer\n"_vs);
    buf->_succ = sound->_bufs;
    sound->_bufs = buf;
  }
  _sound = sound;
  _buf = buf;
  _seq = buf->_seq;
  _hertz = sound->_hertz;
  _playFlags = sound->_loop ? platform::kSoundPlayLooping : 0;

  buf->_paused = 1;
  if (platform::SoundBuffer* b = buf->_buffer) {
    b->SetCurrentPosition(0);
    b->SetVolume(BufferVolume(_volume));
    b->SetPan(BufferPan(_pan));
    b->SetFrequency(BufferFrequency(_hertz, _rate));
  }
  return 1;
}

// ---------------------------------------------------------------------------

Ref<TDirectSoundAudioDriver> TDirectSoundAudioDriver::Create(String* name, int32_t mode) {
  Ref<TDirectSoundAudioDriver> driver = New<TDirectSoundAudioDriver>();
  driver->_name = name;
  driver->_mode = mode;
  return driver;
}

TDirectSoundAudioDriver::~TDirectSoundAudioDriver() {
  _lonely = nullptr;
  if (_dsound) _dsound->Release();
}

TDirectSoundAudioDriver* TDirectSoundAudioDriver::Started() { return State().started.get(); }
int32_t TDirectSoundAudioDriver::Generation() { return State().generation; }

Ref<String> TDirectSoundAudioDriver::Name() { return _name; }

int32_t TDirectSoundAudioDriver::Startup() {
  if (_dsound) Shutdown();  // started twice: let the first device go
  platform::SoundDevice* device = nullptr;
  if (platform::SoundDevice::Create(&device) < 0) return 0;
  _dsound = device;
  State().started = this;
  return 1;
}

int32_t TDirectSoundAudioDriver::Shutdown() {
  DriverState& state = State();
  ++state.generation;
  state.started = nullptr;
  _lonely = nullptr;  // the lonely buffers go before their device
  if (_dsound) {
    _dsound->Release();
    _dsound = nullptr;
  }
  return 0;
}

Ref<TSound> TDirectSoundAudioDriver::CreateSound(TAudioSample* sample, int32_t flags) {
  return TDirectSoundSound::Create(sample, flags);
}

Ref<TChannel> TDirectSoundAudioDriver::AllocChannel() { return TDirectSoundChannel::Create(1); }

int32_t TDirectSoundAudioDriver::AddLonely(TBuf* bufs) {
  if (!bufs) return 0;
  TBuf* last = bufs;
  while (!last->_succ.IsNull()) last = last->_succ.get();
  last->_succ = _lonely;
  _lonely = bufs;
  return 0;
}

int32_t TDirectSoundAudioDriver::FlushLonely() {
  Ref<TBuf> kept;  // the still-active ones, rebuilt in their order
  TBuf* tail = nullptr;
  Ref<TBuf> b = _lonely;
  _lonely = nullptr;
  while (!b.IsNull()) {
    Ref<TBuf> next = b->_succ;
    b->_succ = nullptr;
    if (b->Active()) {
      if (tail)
        tail->_succ = b;
      else
        kept = b;
      tail = b.get();
    } else {
      b->ReleaseBuffer();
    }
    b = next;
  }
  _lonely = kept;
  return 0;
}

}  // namespace vrl
