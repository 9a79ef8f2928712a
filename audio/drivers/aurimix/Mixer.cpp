#include "audio/drivers/aurimix/Mixer.h"

#include <cstdlib>
#include <cstring>

#include "runtime/Console.h"

namespace vrl::aurimix {

// ---------------------------------------------------------------------------
// Sound data

void RetainSound(sounddata* data) {
  if (data) data->refs.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseSound(sounddata* data) {
  if (!data) return;
  if (data->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (data->owned > 0) std::free(data->data);
  delete data;
}

// ---------------------------------------------------------------------------
// Devices

audiodevice::~audiodevice() { delete _mixer; }

uint32_t audiodevice::milliseconds() { return vrMilliseconds(); }

void audiodevice::startmixer(int32_t samples) {
  delete _mixer;
  if (samples < 2) samples = 2;
  _mixer = new mixer(this, samples & ~1);
}

void audiodevice::stopmixer() {
  delete _mixer;
  _mixer = nullptr;
}

// ---------------------------------------------------------------------------
// Voice settings. Setters store the target; while paused they also set the
// current value, so resuming does not ramp. Depth has no current value of
// its own in mixing: the target is always used.

namespace {
bool Paused(const std::atomic<int32_t>& status) {
  return (status.load(std::memory_order_relaxed) & kPausedBit) != 0;
}
}  // namespace

void sound::setrate(int32_t rate) {
  _rateTarget.store(rate, std::memory_order_relaxed);
  if (Paused(_status)) _rate.store(rate, std::memory_order_relaxed);
}

void sound::setvolume(int16_t volume) {
  _volumeTarget.store(volume, std::memory_order_relaxed);
  if (Paused(_status)) _volume.store(volume, std::memory_order_relaxed);
}

void sound::setpan(int16_t pan) {
  _panTarget.store(pan, std::memory_order_relaxed);
  if (Paused(_status)) _pan.store(pan, std::memory_order_relaxed);
}

void sound::setdepth(int16_t depth) { _depthTarget.store(depth, std::memory_order_relaxed); }

int32_t sound::getrate(int32_t which) {
  return (which == 1 ? _rateTarget : _rate).load(std::memory_order_relaxed);
}
int32_t sound::getvolume(int32_t which) {
  return (which == 1 ? _volumeTarget : _volume).load(std::memory_order_relaxed);
}
int32_t sound::getpan(int32_t which) {
  return (which == 1 ? _panTarget : _pan).load(std::memory_order_relaxed);
}
int32_t sound::getdepth(int32_t which) {
  return (which == 1 ? _depthTarget : _depth).load(std::memory_order_relaxed);
}

int32_t sound::getposition() {
  const uint64_t samples = _played.load(std::memory_order_relaxed) >> 32;
  return _channels > 0 ? int32_t(samples / uint64_t(_channels)) : 0;
}

void sound::Reset() {
  _status.store(kStatusStopped, std::memory_order_relaxed);
  _handle = 0;
  _autofree.store(0, std::memory_order_relaxed);
  _next = nullptr;
  _data = nullptr;
  _channels = 0;
  _position = 0;
  _played.store(0, std::memory_order_relaxed);
  _rate.store(kUnityRate, std::memory_order_relaxed);
  _rateTarget.store(kUnityRate, std::memory_order_relaxed);
  _volume.store(kUnityVolume, std::memory_order_relaxed);
  _volumeTarget.store(kUnityVolume, std::memory_order_relaxed);
  _pan.store(0, std::memory_order_relaxed);
  _panTarget.store(0, std::memory_order_relaxed);
  _depth.store(0, std::memory_order_relaxed);
  _depthTarget.store(0, std::memory_order_relaxed);
  _startTime = 0;
  _startDelay = 0;
  _queued = false;
}

// ---------------------------------------------------------------------------
// Mixing one voice

namespace {

// The step of one output frame in interleaved samples, 32.32: the sound's
// rate times the voice's 16.16 rate over the output rate, times the channel
// count. A negative rate does not play backwards: it holds the voice still.
int64_t Step(int32_t hertz, int32_t rate, int32_t channels) {
  if (rate < 0) rate = 0;
  const int64_t step1616 = int64_t(hertz) * rate / kOutputRate;
  return step1616 * channels * 65536;
}

// The left and right pan factors (4.12): the side the voice pans away from
// is attenuated. A negative depth inverts the right channel's phase.
// A pan beyond full left or right is full left or right, which keeps the
// gains within 16 bits (and the products of the inner loops within 32).
void PanFactors(int32_t pan, int32_t depth, int32_t& left, int32_t& right) {
  if (pan > 4096) pan = 4096;
  if (pan < -4096) pan = -4096;
  left = pan > 0 ? 4096 - pan : 4096;
  right = pan < 0 ? 4096 + pan : 4096;
  if (depth < 0) right = -right;
}

// The interpolated sample at frame `s` with the 16-bit fraction `f`, in the
// 16-bit range. `next` is the distance to the same channel one frame later.
// The 16-bit difference times the fraction needs 33 bits, hence 64-bit.
template <int Bits>
int32_t Interpolate(const uint8_t* data, uint32_t s, int32_t next, int32_t f) {
  if constexpr (Bits == 16) {
    const auto* p = reinterpret_cast<const int16_t*>(data) + s;
    const int32_t s0 = p[0];
    const int32_t s1 = p[next];
    return s0 + int32_t((int64_t(s1 - s0) * f) >> 16);
  } else {
    const uint8_t* p = data + s;
    const int32_t s0 = p[0];
    const int32_t s1 = p[next];
    return s0 * 256 + (((s1 - s0) * f) >> 8) - 32768;
  }
}

}  // namespace

// One inner loop for each width, channel count and case (ramping or
// constant). Returns 1 when the voice ended inside the block, else 0.
template <int Bits, int Channels, bool Ramp>
int32_t sound::MixFrames(int64_t* acc, int32_t frames) {
  const sounddata& d = *_data;
  const uint8_t* data = d.data;
  const uint64_t end = uint64_t(uint32_t(Channels * d.length)) << 32;
  const uint32_t wrap = uint32_t(Channels * d.length);
  const bool loop = d.loop != 0;

  const int32_t rateTarget = _rateTarget.load(std::memory_order_relaxed);
  const int32_t volumeTarget = _volumeTarget.load(std::memory_order_relaxed);
  int32_t leftPan = 0, rightPan = 0;
  PanFactors(_panTarget.load(std::memory_order_relaxed), _depthTarget.load(std::memory_order_relaxed),
             leftPan, rightPan);

  int64_t step = Step(d.hertz, Ramp ? _rate.load(std::memory_order_relaxed) : rateTarget, Channels);
  int64_t stepInc = 0;
  int32_t volume = Ramp ? _volume.load(std::memory_order_relaxed) : volumeTarget;
  int32_t volume256 = volume * 256;
  int32_t volumeInc = 0;
  if constexpr (Ramp) {
    stepInc = (Step(d.hertz, rateTarget, Channels) - step) / frames;
    volumeInc = (volumeTarget - volume) * 256 / frames;
  }
  int32_t left = volume * leftPan >> 12;
  int32_t right = volume * rightPan >> 12;

  uint64_t pos = _position;
  uint64_t played = _played.load(std::memory_order_relaxed);
  int32_t ended = 0;
  for (int32_t i = 0; i < frames; ++i) {
    uint32_t s = uint32_t(pos >> 32);
    int32_t f = int32_t(uint32_t(pos >> 16) & 0xFFFF);
    if constexpr (Ramp) {
      const int32_t g = volume256 >> 8;
      left = g * leftPan >> 12;
      right = g * rightPan >> 12;
    }
    if constexpr (Channels == 1) {
      const int32_t v = Interpolate<Bits>(data, s, 1, f);
      acc[0] += v * left >> 8;
      acc[1] += v * right >> 8;
    } else {
      // The position counts interleaved samples: an odd integer part is
      // half a frame, which belongs to the fraction of the frame.
      f = int32_t(((s & 1u) << 15) | (uint32_t(f) >> 1));
      s &= ~1u;
      acc[0] += Interpolate<Bits>(data, s, 2, f) * left >> 8;
      acc[1] += Interpolate<Bits>(data, s + 1, 2, f) * right >> 8;
    }
    acc += 2;
    pos += uint64_t(step);
    played += uint64_t(step);
    if constexpr (Ramp) {
      step += stepInc;
      volume256 += volumeInc;
    }
    if (pos >= end) {
      if (!loop) {
        ended = 1;
        break;
      }
      pos = (uint64_t(uint32_t(pos >> 32) % wrap) << 32) | (pos & 0xFFFFFFFFu);
    }
  }
  _position = pos;
  _played.store(played, std::memory_order_relaxed);
  if constexpr (Ramp) {
    _volume.store(int16_t(volumeTarget), std::memory_order_relaxed);
    _rate.store(rateTarget, std::memory_order_relaxed);
  }
  return ended;
}

int32_t sound::Mix(int64_t* acc, int32_t frames) {
  int32_t status = _status.load(std::memory_order_acquire);
  if (status == kStatusStopped) return 1;
  if (status & kPausedBit) return -2;
  if (status == kStatusFree || !_data) return -1;

  if (_startDelay >= frames) {
    _startDelay -= frames;
    return 0;
  }
  acc += int64_t(_startDelay) * 2;
  frames -= _startDelay;
  _startDelay = 0;
  if (frames <= 0) return 0;

  const sounddata& d = *_data;
  const int32_t rate = _rate.load(std::memory_order_relaxed);
  const int32_t rateTarget = _rateTarget.load(std::memory_order_relaxed);
  const int32_t volume = _volume.load(std::memory_order_relaxed);
  const int32_t volumeTarget = _volumeTarget.load(std::memory_order_relaxed);
  const bool ramp =
      volume != volumeTarget || Step(d.hertz, rate, d.channels) != Step(d.hertz, rateTarget, d.channels);

  int32_t ended = 0;
  if (!ramp && volume == 0) {
    // Silent: nothing to hear, but the voice moves on and ends on time.
    const uint64_t advance = uint64_t(Step(d.hertz, rate, d.channels)) * uint64_t(frames);
    const uint32_t wrap = uint32_t(d.channels * d.length);
    uint64_t pos = _position + advance;
    _played.store(_played.load(std::memory_order_relaxed) + advance, std::memory_order_relaxed);
    if ((pos >> 32) >= wrap) {
      if (d.loop)
        pos = (((pos >> 32) % wrap) << 32) | (pos & 0xFFFFFFFFu);
      else
        ended = 1;
    }
    _position = pos;
  } else {
    const int32_t kind = (d.bits == 16 ? 4 : 0) | (d.channels == 2 ? 2 : 0) | (ramp ? 1 : 0);
    switch (kind) {
      case 0:
        ended = MixFrames<8, 1, false>(acc, frames);
        break;
      case 1:
        ended = MixFrames<8, 1, true>(acc, frames);
        break;
      case 2:
        ended = MixFrames<8, 2, false>(acc, frames);
        break;
      case 3:
        ended = MixFrames<8, 2, true>(acc, frames);
        break;
      case 4:
        ended = MixFrames<16, 1, false>(acc, frames);
        break;
      case 5:
        ended = MixFrames<16, 1, true>(acc, frames);
        break;
      case 6:
        ended = MixFrames<16, 2, false>(acc, frames);
        break;
      default:
        ended = MixFrames<16, 2, true>(acc, frames);
        break;
    }
  }
  if (!ended) return 0;
  // Ended: stopped, unless the main thread changed the status meanwhile
  // (it stopped or paused the voice; its store wins).
  _status.compare_exchange_strong(status, kStatusStopped, std::memory_order_acq_rel);
  return 1;
}

// ---------------------------------------------------------------------------
// Rings

bool voicering::Push(sound* voice) {
  const uint32_t write = _write.load(std::memory_order_relaxed);
  const uint32_t next = (write + 1) % kRingSize;
  if (next == _read.load(std::memory_order_acquire)) return false;
  _entries[write] = voice;
  _write.store(next, std::memory_order_release);
  return true;
}

sound* voicering::Pop() {
  const uint32_t read = _read.load(std::memory_order_relaxed);
  if (read == _write.load(std::memory_order_acquire)) return nullptr;
  sound* voice = _entries[read];
  _read.store((read + 1) % kRingSize, std::memory_order_release);
  return voice;
}

// ---------------------------------------------------------------------------
// The mixer

mixer::mixer(audiodevice* device, int32_t samples)
    : _device(device), _acc(new int64_t[size_t(samples)]()), _length(samples) {}

mixer::~mixer() {
  // The device has stopped mixing: every voice is ours to free, wherever
  // it is.
  auto drop = [](sound* voice) {
    ReleaseSound(voice->_data);
    delete voice;
  };
  while (sound* v = _active) {
    _active = v->_next;
    drop(v);
  }
  while (sound* v = _commands.Pop()) drop(v);
  while (sound* v = _free.Pop()) drop(v);
  while (sound* v = _spare) {
    _spare = v->_next;
    drop(v);
  }
  delete[] _acc;
}

sound* mixer::NewVoice() {
  sound* voice = _free.Pop();
  return voice ? voice : new sound(this);
}

bool mixer::Queue(sound* voice) { return _commands.Push(voice); }

void mixer::Recycle(sound* voice) {
  ReleaseSound(voice->_data);
  voice->_data = nullptr;
  voice->_next = nullptr;
  voice->_status.store(kStatusFree, std::memory_order_release);
  if (_free.Push(voice)) return;
  // The free ring is full: keep the voice until the main thread has
  // taken some (never freed here, since the main thread may still know it).
  voice->_next = _spare;
  _spare = voice;
}

void mixer::FlushSpare() {
  while (_spare) {
    sound* next = _spare->_next;
    _spare->_next = nullptr;
    if (!_free.Push(_spare)) {
      _spare->_next = next;
      return;
    }
    _spare = next;
  }
}

void mixer::mix(int16_t* out, int32_t count) {
  if (count > _length) count = _length;
  count &= ~1;
  if (count <= 0) return;

  const uint32_t now = _device->milliseconds();
  while (sound* voice = _commands.Pop()) {
    voice->_next = _active;
    _active = voice;
    int32_t ms = int32_t(voice->_startTime + uint32_t(kStartDelayMs) - now);
    if (ms < 0) ms = 0;
    voice->_startDelay = int32_t(int64_t(ms) * _rate / 1000);
  }
  FlushSpare();

  const int32_t frames = count / _channels;
  sound** link = &_active;
  while (sound* voice = *link) {
    const int32_t result = voice->Mix(_acc, frames);
    if (result == -1 || (result == 1 && voice->_autofree.load(std::memory_order_acquire))) {
      *link = voice->_next;
      Recycle(voice);
      continue;
    }
    link = &voice->_next;
  }

  for (int32_t i = 0; i < count; ++i) {
    int64_t v = _acc[i] >> 4;
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    out[i] = int16_t(v);
    _acc[i] = 0;
  }
}

// ---------------------------------------------------------------------------
// The channel-handle tables and the global mixer

namespace {
// The generations outlive the tables: a handle kept from an earlier mixer
// must not match an entry of the next one.
uint32_t* Generations() {
  static uint32_t* generations = [] {
    auto* g = new uint32_t[kHandleEntries];
    for (int32_t i = 0; i < kHandleEntries; ++i) g[i] = uint32_t(kHandleEntries);
    return g;
  }();
  return generations;
}
}  // namespace

struct VoiceTables {
  static constexpr uint32_t kIndexMask = uint32_t(kHandleEntries - 1);

  sound* voices[kHandleEntries] = {};
  int32_t freeList[kHandleEntries] = {};
  uint32_t* generation = Generations();
  bool allocated[kHandleEntries] = {};

  VoiceTables() {
    for (int32_t i = 0; i < kHandleEntries; ++i) freeList[i] = i + 1 < kHandleEntries ? i + 1 : 0;
  }

  ~VoiceTables() {
    for (int32_t i = 0; i < kHandleEntries; ++i) {
      Unbind(voices[i]);
      if (allocated[i]) generation[i] += uint32_t(kHandleEntries);
    }
  }

  VoiceTables(const VoiceTables&) = delete;
  VoiceTables& operator=(const VoiceTables&) = delete;

  int32_t Alloc() {
    const int32_t i = freeList[0];
    if (i == 0) return 0;
    freeList[0] = freeList[i];
    freeList[i] = 0;
    allocated[i] = true;
    generation[i] += uint32_t(kHandleEntries);
    return int32_t(uint32_t(i) | generation[i]);
  }

  // The entry of a live handle, 0 for a zero or stale one.
  uint32_t Index(int32_t handle) const {
    const uint32_t i = uint32_t(handle) & kIndexMask;
    if (i == 0 || !allocated[i]) return 0;
    return (uint32_t(handle) & ~kIndexMask) == generation[i] ? i : 0;
  }

  // Frees the entry and moves its generation on, so the freed handle is
  // stale at once, not only after the entry is handed out again.
  void Free(uint32_t i) {
    Unbind(voices[i]);
    generation[i] += uint32_t(kHandleEntries);
    allocated[i] = false;
    freeList[i] = freeList[0];
    freeList[0] = int32_t(i);
  }

  // A voice that never reached the mixer belongs to its handle and goes
  // with it; one that did plays on and is recycled when it ends.
  static void Unbind(sound*& voice) {
    sound* v = voice;
    voice = nullptr;
    if (!v) return;
    if (v->_queued)
      v->_autofree.store(1, std::memory_order_release);
    else
      delete v;
  }

  // A voice taken back from the free ring may still be bound to the handle
  // it played on; that handle must not reach the voice's next life.
  void Forget(sound* voice) {
    const uint32_t i = uint32_t(voice->_handle) & kIndexMask;
    if (voices[i] == voice) voices[i] = nullptr;
  }

  // The flat functions that reach into voices.
  static sound* Voice(int32_t handle);
  static int32_t Play(sounddata* data, int32_t paused, int32_t handle);
  static int32_t Stop(int32_t handle);
  static int32_t SetPaused(int32_t handle, int32_t paused);
};

struct GlobalMixer {
  audiodevice* device = nullptr;
  VoiceTables tables;
};

namespace {
GlobalMixer* gMixer = nullptr;
}  // namespace

// The voice bound to a live handle, a default one made on first access;
// nullptr for a stale or zero handle.
sound* VoiceTables::Voice(int32_t handle) {
  const uint32_t i = gMixer->tables.Index(handle);
  if (i == 0) return nullptr;
  sound*& v = gMixer->tables.voices[i];
  if (!v) v = new sound(gMixer->device->getmixer());
  return v;
}

int32_t VoiceTables::Play(sounddata* data, int32_t paused, int32_t handle) {
  if (!gMixer || !data) return 0;
  VoiceTables& tables = gMixer->tables;
  mixer* m = gMixer->device->getmixer();

  int32_t rate = aurimix::kUnityRate;
  int16_t volume = aurimix::kUnityVolume, pan = 0, depth = 0;
  bool ownHandle = false;
  if (handle != 0) {
    sound* templ = Voice(handle);
    if (!templ) return 0;  // stale
    rate = templ->getrate(1);
    volume = int16_t(templ->getvolume(1));
    pan = int16_t(templ->getpan(1));
    depth = int16_t(templ->getdepth(1));
  } else {
    handle = tables.Alloc();
    ownHandle = handle != 0;
  }

  sound* voice = m->NewVoice();
  if (voice->_handle != 0) tables.Forget(voice);
  voice->Reset();
  voice->_rate.store(rate, std::memory_order_relaxed);
  voice->_rateTarget.store(rate, std::memory_order_relaxed);
  voice->_volume.store(volume, std::memory_order_relaxed);
  voice->_volumeTarget.store(volume, std::memory_order_relaxed);
  voice->_pan.store(pan, std::memory_order_relaxed);
  voice->_panTarget.store(pan, std::memory_order_relaxed);
  voice->_depth.store(depth, std::memory_order_relaxed);
  voice->_depthTarget.store(depth, std::memory_order_relaxed);
  voice->_status.store(
      (data->loop ? aurimix::kStatusLooping : aurimix::kStatusPlaying) | (paused ? kPausedBit : 0),
      std::memory_order_relaxed);
  aurimix::RetainSound(data);
  voice->_data = data;
  voice->_channels = data->channels;
  voice->_startTime = gMixer->device->milliseconds();
  voice->_handle = handle;
  voice->_autofree.store(ownHandle || handle == 0 ? 1 : 0, std::memory_order_relaxed);
  voice->_queued = true;
  if (!m->Queue(voice)) {
    aurimix::ReleaseSound(data);
    delete voice;
    if (ownHandle) tables.Free(tables.Index(handle));
    return 0;
  }

  if (handle != 0) {
    sound*& bound = tables.voices[tables.Index(handle)];
    if (bound && bound != voice) {
      if (!bound->_queued) {
        delete bound;
      } else {
        // Replaced: nothing can reach it any more, so the mixer recycles it.
        bound->_autofree.store(1, std::memory_order_release);
        int32_t status = bound->Status();
        if (status != kStatusFree)
          bound->_status.compare_exchange_strong(status, kStatusStopped, std::memory_order_acq_rel);
      }
    }
    bound = voice;
  }
  return handle;
}

int32_t VoiceTables::Stop(int32_t handle) {
  if (!gMixer) return 0;
  const uint32_t i = gMixer->tables.Index(handle);
  if (i == 0) return 0;
  if (sound* v = gMixer->tables.voices[i]) {
    v->_autofree.store(1, std::memory_order_release);
    int32_t status = v->Status();
    if (status != kStatusFree)
      v->_status.compare_exchange_strong(status, kStatusStopped, std::memory_order_acq_rel);
  }
  gMixer->tables.Free(i);
  return 0;
}

int32_t VoiceTables::SetPaused(int32_t handle, int32_t paused) {
  if (!gMixer) return 0;
  sound* v = Voice(handle);
  if (!v) return 0;
  int32_t status = v->_status.load(std::memory_order_relaxed);
  while (status != kStatusFree) {
    const int32_t next = paused ? (status | kPausedBit) : (status & ~kPausedBit);
    if (v->_status.compare_exchange_weak(status, next, std::memory_order_acq_rel)) break;
  }
  return 0;
}

}  // namespace vrl::aurimix

namespace vrl {

using aurimix::GlobalMixer;
using aurimix::gMixer;
using aurimix::sound;
using aurimix::sounddata;
using aurimix::VoiceTables;

int32_t MixerInit(aurimix::audiodevice* device) {
  if (!device) return -1;
  if (gMixer) MixerClose();
  if (device->open() != 0 || !device->getmixer()) {
    device->close();
    delete device;
    return -1;
  }
  gMixer = new GlobalMixer;
  gMixer->device = device;
  return 0;
}

int32_t MixerClose() {
  if (!gMixer) return 0;
  GlobalMixer* g = gMixer;
  gMixer = nullptr;
  aurimix::audiodevice* device = g->device;
  delete g;  // the handle tables first: they free the voices only they know
  device->close();
  delete device;
  return 0;
}

sounddata* MixerCreateSound(int32_t length, int32_t bits, int32_t channels, int32_t hertz, const void* data,
                            int32_t loop) {
  if (!gMixer || !data) return nullptr;
  if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
  if (hertz < 1 || hertz > 1000000) return nullptr;
  // The position's integer part counts interleaved samples in 32 bits.
  if (length < 1 || int64_t(length) * channels >= (int64_t(1) << 30)) return nullptr;

  auto* s = new sounddata;
  s->hertz = hertz;
  s->channels = channels;
  s->bits = bits;
  s->length = length;
  s->loop = loop;
  const auto frame = size_t(s->FrameBytes());
  const auto bytes = size_t(s->DataBytes());
  s->data = static_cast<uint8_t*>(std::malloc(bytes + frame));
  if (!s->data) {
    delete s;
    return nullptr;
  }
  std::memcpy(s->data, data, bytes);
  // The guard frame.
  std::memcpy(s->data + bytes, loop ? s->data : s->data + bytes - frame, frame);
  s->write = s->data;
  s->owned = int32_t(bytes + frame);
  return s;
}

int32_t MixerFreeSound(sounddata* sound) {
  aurimix::ReleaseSound(sound);
  return 0;
}

int32_t MixerAllocChannel() { return gMixer ? gMixer->tables.Alloc() : 0; }

int32_t MixerFreeChannel(int32_t handle) {
  if (!gMixer) return 0;
  const uint32_t i = gMixer->tables.Index(handle);
  if (i != 0) gMixer->tables.Free(i);
  return 0;
}

int32_t MixerPlaySound(sounddata* data, int32_t paused, int32_t handle) {
  return VoiceTables::Play(data, paused, handle);
}

int32_t MixerStopChannel(int32_t handle) { return VoiceTables::Stop(handle); }

int32_t MixerSetPaused(int32_t handle, int32_t paused) { return VoiceTables::SetPaused(handle, paused); }

int32_t MixerSetVolume(int32_t handle, int16_t volume) {
  if (sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr) v->setvolume(volume);
  return 0;
}

int32_t MixerSetPan(int32_t handle, int16_t pan) {
  if (sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr) v->setpan(pan);
  return 0;
}

int32_t MixerSetDepth(int32_t handle, int16_t depth) {
  if (sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr) v->setdepth(depth);
  return 0;
}

int32_t MixerSetRate(int32_t handle, int32_t rate) {
  if (sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr) v->setrate(rate);
  return 0;
}

int32_t MixerChannelStatus(int32_t handle) {
  sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr;
  return v ? v->Status() : 0;
}

int32_t MixerChannelPosition(int32_t handle) {
  sound* v = gMixer ? VoiceTables::Voice(handle) : nullptr;
  return v ? v->getposition() : 0;
}

}  // namespace vrl
