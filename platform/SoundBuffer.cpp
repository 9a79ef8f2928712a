#include "platform/SoundBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/AudioOutput.h"

namespace vrl::platform {

namespace {

constexpr int32_t kOutputRate = 44100;
constexpr int32_t kMixBlock = 1024;  // frames mixed per pass through the accumulator
constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;
constexpr uint32_t kMinBufferBytes = 4;
constexpr float kFraction = 1.0f / 4294967296.0f;

float Attenuation(int32_t hundredthsOfDb) {
  if (hundredthsOfDb <= kSoundVolumeMin) return 0.0f;
  return float(std::pow(10.0, hundredthsOfDb / 2000.0));
}

}  // namespace

// The state shared by a device and its buffers. It outlives the device while
// buffers hold it, so that buffers of a released device stay safe to call.
struct SoundMixer {
  std::mutex lock;
  uint32_t refs = 1;  // the device and every buffer; changed on the owning thread
  int32_t rate = kOutputRate;
  bool lost = false;  // the device is released
  SoundBuffer* playing = nullptr;
  int32_t playingCount = 0;
  float accum[kMixBlock * 2] = {};

  void Drop() {
    if (--refs == 0) delete this;
  }

  // The caller holds `lock`.
  void Link(SoundBuffer* b) {
    b->_prev = nullptr;
    b->_next = playing;
    if (playing) playing->_prev = b;
    playing = b;
    ++playingCount;
  }
  void Unlink(SoundBuffer* b) {
    if (b->_prev)
      b->_prev->_next = b->_next;
    else
      playing = b->_next;
    if (b->_next) b->_next->_prev = b->_prev;
    b->_prev = b->_next = nullptr;
    --playingCount;
  }

  void Mix(int16_t* out, int32_t frames);
  template <int Channels, int Bits>
  void MixBuffer(SoundBuffer* b, int32_t frames);
};

struct SoundBuffer::Data {
  uint32_t refs = 1;
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint32_t frames = 0;
  SoundWaveFormat format;
};

namespace {

template <int Bits>
float SampleAt(const uint8_t* p) {
  if constexpr (Bits == 8) {
    return float(int32_t(*p) - 128) * 256.0f;
  } else {
    int16_t v = 0;
    std::memcpy(&v, p, 2);
    return float(v);
  }
}

}  // namespace

template <int Channels, int Bits>
void SoundMixer::MixBuffer(SoundBuffer* b, int32_t frames) {
  constexpr uint32_t kFrameBytes = Channels * Bits / 8;
  constexpr uint32_t kSampleBytes = Bits / 8;
  const uint8_t* bytes = b->_data->bytes;
  const uint32_t n = b->_data->frames;
  const uint64_t wrap = uint64_t(n) << 32;
  const bool looping = b->_looping;
  const uint64_t step = b->_step;
  const float gl = b->_gainLeft, gr = b->_gainRight;
  uint64_t pos = b->_position;
  float* acc = accum;
  for (int32_t f = 0; f < frames; ++f) {
    if (pos >= wrap) {
      if (!looping) break;
      pos %= wrap;
    }
    uint32_t i = uint32_t(pos >> 32);
    uint32_t j = i + 1;
    if (j >= n) j = looping ? 0 : i;  // across the loop point the next frame is the first
    float t = float(uint32_t(pos)) * kFraction;
    const uint8_t* a = bytes + std::size_t{i} * kFrameBytes;
    const uint8_t* c = bytes + std::size_t{j} * kFrameBytes;
    float l0 = SampleAt<Bits>(a), l1 = SampleAt<Bits>(c);
    float l = l0 + (l1 - l0) * t;
    float r = l;
    if constexpr (Channels == 2) {
      float r0 = SampleAt<Bits>(a + kSampleBytes), r1 = SampleAt<Bits>(c + kSampleBytes);
      r = r0 + (r1 - r0) * t;
    }
    acc[0] += l * gl;
    acc[1] += r * gr;
    acc += 2;
    pos += step;
  }
  if (pos >= wrap) {
    if (looping) {
      pos %= wrap;
    } else {
      // A one-shot buffer that has played its last frame stops and rewinds.
      pos = 0;
      b->_playing = false;
      Unlink(b);
    }
  }
  b->_position = pos;
}

void SoundMixer::Mix(int16_t* out, int32_t frames) {
  std::lock_guard<std::mutex> guard(lock);
  while (frames > 0) {
    const int32_t block = std::min(frames, kMixBlock);
    const int32_t samples = 2 * block;  // left and right
    std::fill(accum, accum + samples, 0.0f);
    for (SoundBuffer* b = playing; b;) {
      SoundBuffer* next = b->_next;  // MixBuffer may unlink b
      const SoundWaveFormat& f = b->_data->format;
      if (f.channels == 1) {
        if (f.bitsPerSample == 8)
          MixBuffer<1, 8>(b, block);
        else
          MixBuffer<1, 16>(b, block);
      } else {
        if (f.bitsPerSample == 8)
          MixBuffer<2, 8>(b, block);
        else
          MixBuffer<2, 16>(b, block);
      }
      b = next;
    }
    for (int32_t k = 0; k < samples; ++k) {
      float v = std::nearbyint(accum[k]);
      out[k] = int16_t(std::clamp(v, -32768.0f, 32767.0f));
    }
    out += samples;
    frames -= block;
  }
}

// ---------------------------------------------------------------------------

int32_t SoundDevice::Create(SoundDevice** device, std::string* error) {
  if (!device) return kSoundErrInvalidParam;
  *device = nullptr;
  SoundDevice* d = CreateUnattached(kOutputRate);
  d->_output = AudioOutput::Open(kOutputRate, &SoundDevice::Fill, d->_mixer, error);
  if (!d->_output) {
    d->Release();
    return kSoundErrNoDriver;
  }
  d->_mixer->rate = d->_output->Rate();
  *device = d;
  return kSoundOk;
}

SoundDevice* SoundDevice::CreateUnattached(int32_t rate) {
  auto* d = new SoundDevice;
  d->_mixer = new SoundMixer;
  d->_mixer->rate = rate > 0 ? rate : kOutputRate;
  return d;
}

void SoundDevice::Fill(void* context, int16_t* out, int32_t frames) {
  static_cast<SoundMixer*>(context)->Mix(out, frames);
}

void SoundDevice::Mix(int16_t* out, int32_t frames) { _mixer->Mix(out, frames); }
int32_t SoundDevice::OutputRate() const { return _mixer->rate; }

int32_t SoundDevice::PlayingBuffers() const {
  std::lock_guard<std::mutex> guard(_mixer->lock);
  return _mixer->playingCount;
}

uint32_t SoundDevice::AddRef() { return ++_refs; }

uint32_t SoundDevice::Release() {
  if (--_refs > 0) return _refs;
  // No callback runs once the output is closed.
  if (_output) _output->Close();
  {
    std::lock_guard<std::mutex> guard(_mixer->lock);
    while (SoundBuffer* b = _mixer->playing) {
      b->_playing = false;
      _mixer->Unlink(b);
    }
    _mixer->lost = true;
  }
  _mixer->Drop();
  delete this;
  return 0;
}

int32_t SoundDevice::CreateSoundBuffer(const SoundBufferDesc& desc, SoundBuffer** buffer) {
  if (!buffer) return kSoundErrInvalidParam;
  *buffer = nullptr;
  if (_mixer->lost) return kSoundErrBufferLost;
  const SoundWaveFormat* f = desc.format;
  if (desc.size != kSoundBufferDescSize || !f || f->formatTag != 1) return kSoundErrInvalidParam;
  if (f->channels < 1 || f->channels > 2) return kSoundErrInvalidParam;
  if (f->bitsPerSample != 8 && f->bitsPerSample != 16) return kSoundErrInvalidParam;
  if (f->blockAlign != f->channels * f->bitsPerSample / 8) return kSoundErrInvalidParam;
  if (f->samplesPerSec < kSoundFrequencyMin || f->samplesPerSec > kSoundFrequencyMax) {
    return kSoundErrInvalidParam;
  }
  if (desc.bufferBytes < kMinBufferBytes || desc.bufferBytes > kMaxBufferBytes ||
      desc.bufferBytes % f->blockAlign != 0) {
    return kSoundErrInvalidParam;
  }
  auto* data = new (std::nothrow) SoundBuffer::Data;
  if (!data) return kSoundErrOutOfMemory;
  data->bytes = new (std::nothrow) uint8_t[desc.bufferBytes];
  auto* b = data->bytes ? new (std::nothrow) SoundBuffer : nullptr;
  if (!b) {
    delete[] data->bytes;
    delete data;
    return kSoundErrOutOfMemory;
  }
  std::memset(data->bytes, f->bitsPerSample == 8 ? 128 : 0, desc.bufferBytes);
  data->size = desc.bufferBytes;
  data->frames = desc.bufferBytes / f->blockAlign;
  data->format = *f;
  b->_mixer = _mixer;
  ++_mixer->refs;
  b->_data = data;
  b->_flags = desc.flags;
  b->_frequency = f->samplesPerSec;
  b->UpdateGains();
  b->UpdateStep();
  *buffer = b;
  return kSoundOk;
}

int32_t SoundDevice::DuplicateSoundBuffer(SoundBuffer* original, SoundBuffer** duplicate) {
  if (!duplicate) return kSoundErrInvalidParam;
  *duplicate = nullptr;
  if (!original) return kSoundErrInvalidParam;
  if (original->_mixer != _mixer) return kSoundErrInvalidCall;
  if (_mixer->lost) return kSoundErrBufferLost;
  auto* b = new (std::nothrow) SoundBuffer;
  if (!b) return kSoundErrOutOfMemory;
  b->_mixer = _mixer;
  ++_mixer->refs;
  b->_data = original->_data;
  ++b->_data->refs;
  b->_flags = original->_flags;
  b->_volume = original->_volume;
  b->_pan = original->_pan;
  b->_frequency = original->_frequency;
  b->UpdateGains();
  b->UpdateStep();
  *duplicate = b;
  return kSoundOk;
}

// ---------------------------------------------------------------------------

void SoundBuffer::UpdateGains() {
  float g = Attenuation(_volume);
  _gainLeft = g * (_pan > 0 ? Attenuation(-_pan) : 1.0f);
  _gainRight = g * (_pan < 0 ? Attenuation(_pan) : 1.0f);
}

void SoundBuffer::UpdateStep() { _step = (uint64_t(_frequency) << 32) / uint32_t(_mixer->rate); }

uint32_t SoundBuffer::Bytes() const { return _data->size; }

uint32_t SoundBuffer::AddRef() { return ++_refs; }

uint32_t SoundBuffer::Release() {
  if (--_refs > 0) return _refs;
  {
    std::lock_guard<std::mutex> guard(_mixer->lock);
    if (_playing) _mixer->Unlink(this);
    _playing = false;
  }
  // Out of the mix: the memory can go.
  if (--_data->refs == 0) {
    delete[] _data->bytes;
    delete _data;
  }
  _mixer->Drop();
  delete this;
  return 0;
}

int32_t SoundBuffer::Lock(uint32_t offset, uint32_t bytes, void** region1, uint32_t* bytes1, void** region2,
                          uint32_t* bytes2, uint32_t flags) {
  if (!region1 || !bytes1) return kSoundErrInvalidParam;
  *region1 = nullptr;
  *bytes1 = 0;
  if (region2) *region2 = nullptr;
  if (bytes2) *bytes2 = 0;
  if (_mixer->lost) return kSoundErrBufferLost;
  const uint32_t size = _data->size;
  if (flags & kSoundLockEntireBuffer) {
    offset = 0;
    bytes = size;
  }
  if (offset >= size || bytes == 0 || bytes > size) return kSoundErrInvalidParam;
  uint32_t first = std::min(bytes, size - offset);
  if (first < bytes && (!region2 || !bytes2)) return kSoundErrInvalidParam;
  *region1 = _data->bytes + offset;
  *bytes1 = first;
  if (first < bytes) {
    *region2 = _data->bytes;
    *bytes2 = bytes - first;
  }
  return kSoundOk;
}

int32_t SoundBuffer::Unlock(void* region1, uint32_t bytes1, void* region2, uint32_t bytes2) {
  if (_mixer->lost) return kSoundErrBufferLost;
  auto inside = [this](void* p, uint32_t n) {
    auto* q = static_cast<uint8_t*>(p);
    return q >= _data->bytes && n <= _data->size && q + n <= _data->bytes + _data->size;
  };
  if (!region1 || !inside(region1, bytes1)) return kSoundErrInvalidParam;
  if (region2 && !inside(region2, bytes2)) return kSoundErrInvalidParam;
  return kSoundOk;
}

int32_t SoundBuffer::Play(uint32_t flags) {
  if (_mixer->lost) return kSoundErrBufferLost;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  _looping = (flags & kSoundPlayLooping) != 0;
  if (!_playing) {
    _playing = true;
    _mixer->Link(this);
  }
  return kSoundOk;
}

int32_t SoundBuffer::Stop() {
  if (_mixer->lost) return kSoundErrBufferLost;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  if (_playing) _mixer->Unlink(this);
  _playing = false;
  return kSoundOk;
}

int32_t SoundBuffer::SetCurrentPosition(uint32_t bytes) {
  if (_mixer->lost) return kSoundErrBufferLost;
  if (bytes >= _data->size) return kSoundErrInvalidParam;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  _position = uint64_t(bytes / _data->format.blockAlign) << 32;
  return kSoundOk;
}

int32_t SoundBuffer::GetCurrentPosition(uint32_t* bytes) {
  if (!bytes) return kSoundErrInvalidParam;
  if (_mixer->lost) return kSoundErrBufferLost;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  *bytes = uint32_t(_position >> 32) * _data->format.blockAlign;
  return kSoundOk;
}

int32_t SoundBuffer::SetVolume(int32_t volume) {
  if (_mixer->lost) return kSoundErrBufferLost;
  if (!(_flags & kSoundCapsCtrlVolume)) return kSoundErrInvalidCall;
  if (volume < kSoundVolumeMin || volume > 0) return kSoundErrInvalidParam;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  _volume = volume;
  UpdateGains();
  return kSoundOk;
}

int32_t SoundBuffer::GetVolume(int32_t* volume) {
  if (!volume) return kSoundErrInvalidParam;
  *volume = _volume;
  return kSoundOk;
}

int32_t SoundBuffer::SetPan(int32_t pan) {
  if (_mixer->lost) return kSoundErrBufferLost;
  if (!(_flags & kSoundCapsCtrlPan)) return kSoundErrInvalidCall;
  if (pan < kSoundPanLeft || pan > kSoundPanRight) return kSoundErrInvalidParam;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  _pan = pan;
  UpdateGains();
  return kSoundOk;
}

int32_t SoundBuffer::GetPan(int32_t* pan) {
  if (!pan) return kSoundErrInvalidParam;
  *pan = _pan;
  return kSoundOk;
}

int32_t SoundBuffer::SetFrequency(uint32_t hertz) {
  if (_mixer->lost) return kSoundErrBufferLost;
  if (!(_flags & kSoundCapsCtrlFrequency)) return kSoundErrInvalidCall;
  if (hertz == kSoundFrequencyOriginal) hertz = _data->format.samplesPerSec;
  if (hertz < kSoundFrequencyMin || hertz > kSoundFrequencyMax) return kSoundErrInvalidParam;
  std::lock_guard<std::mutex> guard(_mixer->lock);
  _frequency = hertz;
  UpdateStep();
  return kSoundOk;
}

int32_t SoundBuffer::GetFrequency(uint32_t* hertz) {
  if (!hertz) return kSoundErrInvalidParam;
  *hertz = _frequency;
  return kSoundOk;
}

int32_t SoundBuffer::GetStatus(uint32_t* status) {
  if (!status) return kSoundErrInvalidParam;
  if (_mixer->lost) {
    *status = kSoundStatusLost;
    return kSoundOk;
  }
  std::lock_guard<std::mutex> guard(_mixer->lock);
  *status = (_playing ? kSoundStatusPlaying : 0) | (_playing && _looping ? kSoundStatusLooping : 0);
  return kSoundOk;
}

}  // namespace vrl::platform
