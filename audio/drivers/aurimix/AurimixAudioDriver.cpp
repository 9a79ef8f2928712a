#include "audio/drivers/aurimix/AurimixAudioDriver.h"

#include <bit>

#include "audio/drivers/aurimix/StreamDevices.h"
#include "runtime/ClassRecord.h"
#include "runtime/Debug.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"

namespace vrl {

const ClassRecord& TAurimixSound::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAurimixSound>("TAurimixSound", [](auto& d) {
    d.template Field<&TAurimixSound::am_sound>("am_sound");
    d.template Function<&TAurimixSound::CreateWithSound>("CreateWithSound");
  });
  return record;
}

const ClassRecord& TAurimixChannel::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAurimixChannel>("TAurimixChannel", [](auto& d) {
    d.template Field<&TAurimixChannel::am_channel>("am_channel");
    d.template Method<&TAurimixChannel::Position>("Position");
    d.template Function<&TAurimixChannel::CreateWithChannel>("CreateWithChannel");
  });
  return record;
}

const ClassRecord& TAurimixAudioDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAurimixAudioDriver>("TAurimixAudioDriver", [](auto& d) {
    d.template Field<&TAurimixAudioDriver::_name>("_name");
    d.template Field<&TAurimixAudioDriver::_mode>("_mode");
    d.template Function<&TAurimixAudioDriver::Create>("Create");
  });
  return record;
}

namespace {

struct DriverState {
  aurimix::DeviceOpener opener = &aurimix::OpenStreamDevice;
  TAurimixAudioDriver* started = nullptr;  // the driver whose Startup opened the mixer
};

DriverState& State() {
  static auto* state = new DriverState;
  return *state;
}

// Truncation toward zero, held to [lo, hi]; not-a-number gives 0.
int32_t Fixed(double v, double lo, double hi) {
  if (!(v == v)) return 0;
  if (v <= lo) return int32_t(lo);
  if (v >= hi) return int32_t(hi);
  return int32_t(v);
}

int16_t Fixed16(float v) { return int16_t(Fixed(double(v) * 4096.0, -32768.0, 32767.0)); }

bool OpenKind(int32_t kind) {
  aurimix::DeviceOpener opener = State().opener;
  aurimix::audiodevice* device = opener ? opener(kind) : nullptr;
  return device && MixerInit(device) == 0;
}

}  // namespace

aurimix::DeviceOpener aurimix::SetDeviceOpener(DeviceOpener opener) {
  DeviceOpener previous = State().opener;
  State().opener = opener;
  return previous;
}

void aurimix::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  audio::Init();
  vrRegisterClass(TAurimixSound::StaticClass());
  vrRegisterClass(TAurimixChannel::StaticClass());
  vrRegisterClass(TAurimixAudioDriver::StaticClass());
  TAurimixAudioDriver::Create(u"Aurimix DirectSound"_vs, 1);
  TAurimixAudioDriver::Create(u"Aurimix Multimedia"_vs, 0);
  TAurimixAudioDriver::Create(u"Aurimix"_vs, -1);
}

// ---------------------------------------------------------------------------

Ref<TAurimixSound> TAurimixSound::CreateWithSound(aurimix::sounddata* sound, TAudioSample* /*sample*/) {
  Ref<TAurimixSound> s = New<TAurimixSound>();
  s->am_sound = std::bit_cast<int64_t>(sound);
  vrDebugLog(vrConcatStrings(vrConcatStrings(u"Generated Aurimix sound "_vs, s->ToString()), u"\n"_vs));
  return s;
}

TAurimixSound::~TAurimixSound() {
  if (!am_sound) return;
  MixerFreeSound(Data());
  am_sound = 0;
  vrDebugLog(vrConcatStrings(vrConcatStrings(u"Deleted Aurimix sound "_vs, ToString()), u"\n"_vs));
}

aurimix::sounddata* TAurimixSound::Data() const { return std::bit_cast<aurimix::sounddata*>(am_sound); }

Ref<TChannel> TAurimixSound::Start(TChannel* channel, int32_t paused) {
  Ref<TAurimixChannel> own = Cast<TAurimixChannel>(channel);
  const int32_t handle = own.IsNull() ? 0 : own->am_channel;
  const int32_t result = MixerPlaySound(Data(), paused, handle);
  if (!own.IsNull() && result != 0 && result == handle) return own;
  // A new channel on the voice's handle; one of 0 (no mixer, no free
  // handle) is silent but still a channel, as every driver answers.
  return TAurimixChannel::CreateWithChannel(result);
}

Ref<TChannel> TAurimixSound::Play(TChannel* channel) { return Start(channel, 0); }
Ref<TChannel> TAurimixSound::Cue(TChannel* channel) { return Start(channel, 1); }

// ---------------------------------------------------------------------------

Ref<TAurimixChannel> TAurimixChannel::CreateWithChannel(int32_t handle) {
  Ref<TAurimixChannel> c = New<TAurimixChannel>();
  c->am_channel = handle;
  return c;
}

TAurimixChannel::~TAurimixChannel() { MixerFreeChannel(am_channel); }

int32_t TAurimixChannel::Stop() {
  MixerStopChannel(am_channel);
  am_channel = 0;
  return 0;
}

int32_t TAurimixChannel::SetPaused(int32_t paused) { return MixerSetPaused(am_channel, paused); }
int32_t TAurimixChannel::SetVolume(float volume) { return MixerSetVolume(am_channel, Fixed16(volume)); }
int32_t TAurimixChannel::SetPan(float pan) { return MixerSetPan(am_channel, Fixed16(pan)); }
int32_t TAurimixChannel::SetDepth(float depth) { return MixerSetDepth(am_channel, Fixed16(depth)); }
int32_t TAurimixChannel::SetRate(float rate) {
  return MixerSetRate(am_channel, Fixed(double(rate) * 65536.0, -2147483648.0, 2147483647.0));
}

int32_t TAurimixChannel::Playing() {
  const int32_t status = MixerChannelStatus(am_channel);
  return status != 0 && !(status & aurimix::kStatusStopped) && !(status & aurimix::kPausedBit) ? 1 : 0;
}

int32_t TAurimixChannel::Position() { return MixerChannelPosition(am_channel); }

// ---------------------------------------------------------------------------

Ref<TAurimixAudioDriver> TAurimixAudioDriver::Create(String* name, int32_t mode) {
  Ref<TAurimixAudioDriver> driver = New<TAurimixAudioDriver>();
  driver->_name = name;
  driver->_mode = mode;
  return driver;
}

Ref<String> TAurimixAudioDriver::Name() { return _name; }

int32_t TAurimixAudioDriver::Startup() {
  // One mixer for all three drivers: whichever was started lets it go.
  if (State().started) State().started->Shutdown();
  bool opened = false;
  if (_mode == -1)
    opened = OpenKind(0) || OpenKind(1);
  else
    opened = OpenKind(_mode == 1 ? 1 : 0);
  if (!opened) return 0;
  State().started = this;
  return 1;
}

int32_t TAurimixAudioDriver::Shutdown() {
  if (State().started != this) return 0;
  State().started = nullptr;
  MixerClose();
  return 0;
}

Ref<TSound> TAurimixAudioDriver::CreateSound(TAudioSample* sampleIn, int32_t flags) {
  if (!sampleIn) ThrowNullObjectException();
  Ref<TAudioSample> sample = sampleIn;
  if (sample->format == SAMPLE_MONO16BE)
    sample = sample->Convert(SAMPLE_MONO16LE);
  else if (sample->format == SAMPLE_STEREO16BE)
    sample = sample->Convert(SAMPLE_STEREO16LE);
  const int32_t channels = IsSampleFormat(sample->format) ? SampleChannels[sample->format] : 0;
  if (channels == 0) return nullptr;
  const int32_t bits = SampleBytes[sample->format] * 8 / channels;
  aurimix::sounddata* data = MixerCreateSound(sample->length, bits, channels, sample->hertz, sample->samples,
                                              (flags & SOUNDFLAG_LOOP) ? -1 : 0);
  return TAurimixSound::CreateWithSound(data, sample);
}

Ref<TChannel> TAurimixAudioDriver::AllocChannel() {
  const int32_t handle = MixerAllocChannel();
  if (handle == 0) return nullptr;
  return TAurimixChannel::CreateWithChannel(handle);
}

}  // namespace vrl
