// The Aurimix mixer's cost per second of output through the capture device,
// for 1, 32 and 256 voices of each kind (8 or 16 bits, mono or stereo,
// constant settings or a volume and rate ramp in every block), against a
// plain float loop doing the same work in the same run: linear
// interpolation at the same step, the same gains, the same ramps, and the
// same clamp to 16 bits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "audio/drivers/aurimix/CaptureDevice.h"
#include "audio/drivers/aurimix/Mixer.h"
#include "bench/BenchUtil.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBlockFrames = 1024;
constexpr int32_t kSoundFrames = 44100;  // each voice loops a one-second sound

struct Kind {
  int32_t bits;
  int32_t channels;
  bool ramp;
};

// Raw sample bytes of one voice's sound, and the same as floats (8-bit
// samples centred and scaled as the mixer does: s * 256 - 32768).
struct Source {
  std::vector<uint8_t> bytes;
  std::vector<float> floats;  // with a guard frame
};

Source MakeSource(const Kind& kind, int32_t voice) {
  Source s;
  const auto samples = size_t(kSoundFrames) * size_t(kind.channels);
  for (size_t i = 0; i < samples; ++i) {
    const double v = std::sin(double(i) * (0.01 + 0.0003 * voice)) * 12000.0;
    if (kind.bits == 16) {
      const auto x = int16_t(std::lround(v));
      s.bytes.push_back(uint8_t(uint16_t(x) & 0xFF));
      s.bytes.push_back(uint8_t(uint16_t(x) >> 8));
      s.floats.push_back(float(x));
    } else {
      const auto x = uint8_t(std::lround(v / 256.0) + 128);
      s.bytes.push_back(x);
      s.floats.push_back(float(int32_t(x) * 256 - 32768));
    }
  }
  for (int32_t c = 0; c < kind.channels; ++c) s.floats.push_back(s.floats[size_t(c)]);  // loops
  return s;
}

// The settings of voice `v`: a rate a little off 1 (so every frame
// interpolates), some attenuation and pan.
double RateOf(int32_t v) { return 0.93 + 0.001 * (v % 50); }
double VolumeOf(int32_t v, int32_t block) { return 0.5 + ((block + v) % 2 ? 0.1 : 0.0); }
double PanOf(int32_t v) { return v % 2 ? 0.25 : -0.25; }

// One second of output through the mixer; ramping kinds change the volume
// and the rate of every voice before every block.
double MixerSeconds(const Kind& kind, int32_t voices, const std::vector<Source>& sources) {
  auto* device = new aurimix::capturedevice(kBlockFrames * 2);
  MixerInit(device);
  std::vector<aurimix::sounddata*> sounds;
  std::vector<int32_t> handles;
  for (int32_t v = 0; v < voices; ++v) {
    aurimix::sounddata* s =
        MixerCreateSound(kSoundFrames, kind.bits, kind.channels, kRate, sources[size_t(v)].bytes.data(), -1);
    const int32_t h = MixerAllocChannel();
    MixerSetRate(h, int32_t(RateOf(v) * 65536));
    MixerSetVolume(h, int16_t(VolumeOf(v, 0) * 4096));
    MixerSetPan(h, int16_t(PanOf(v) * 4096));
    MixerPlaySound(s, 0, h);
    sounds.push_back(s);
    handles.push_back(h);
  }
  device->settime(1000);  // queued long enough ago: every voice starts at once
  std::vector<int16_t> out(size_t(kBlockFrames) * 2);
  aurimix::mixer* m = device->getmixer();
  m->mix(out.data(), kBlockFrames * 2);
  int32_t block = 0;
  const double seconds = FastestSeconds(
      [&] {
        for (int32_t done = 0; done < kRate; done += kBlockFrames, ++block) {
          if (kind.ramp) {
            for (int32_t v = 0; v < voices; ++v) {
              MixerSetVolume(handles[size_t(v)], int16_t(VolumeOf(v, block) * 4096));
              MixerSetRate(handles[size_t(v)], int32_t(RateOf(v) * (block % 2 ? 1.01 : 1.0) * 65536));
            }
          }
          m->mix(out.data(), kBlockFrames * 2);
        }
        Keep(out);
      },
      5);
  MixerClose();
  for (aurimix::sounddata* s : sounds) MixerFreeSound(s);
  return seconds;
}

struct FloatVoice {
  const float* data = nullptr;
  double pos = 0, step = 0;
  float volume = 0, left = 1, right = 1;
};

// The same second as a plain float loop.
double FloatSeconds(const Kind& kind, int32_t voices, const std::vector<Source>& sources) {
  std::vector<FloatVoice> vs(static_cast<size_t>(voices));
  for (int32_t v = 0; v < voices; ++v) {
    FloatVoice& f = vs[size_t(v)];
    f.data = sources[size_t(v)].floats.data();
    f.step = RateOf(v);
    f.volume = float(VolumeOf(v, 0));
    const double pan = PanOf(v);
    f.left = float(pan > 0 ? 1 - pan : 1);
    f.right = float(pan < 0 ? 1 + pan : 1);
  }
  std::vector<float> acc(size_t(kBlockFrames) * 2);
  std::vector<int16_t> out(size_t(kBlockFrames) * 2);
  const auto length = double(kSoundFrames);
  const int32_t ch = kind.channels;
  int32_t block = 0;
  return FastestSeconds(
      [&] {
        for (int32_t done = 0; done < kRate; done += kBlockFrames, ++block) {
          std::fill(acc.begin(), acc.end(), 0.0f);
          for (int32_t v = 0; v < voices; ++v) {
            FloatVoice& f = vs[size_t(v)];
            float volume = f.volume, volumeStep = 0;
            double step = f.step, stepStep = 0;
            if (kind.ramp) {
              const auto target = float(VolumeOf(v, block));
              const double targetStep = RateOf(v) * (block % 2 ? 1.01 : 1.0);
              volumeStep = (target - volume) / float(kBlockFrames);
              stepStep = (targetStep - step) / kBlockFrames;
              f.volume = target;
              f.step = targetStep;
            }
            double pos = f.pos;
            for (int32_t i = 0; i < kBlockFrames; ++i) {
              const auto index = size_t(pos);
              const auto frac = float(pos - double(index));
              const float* p = f.data + index * size_t(ch);
              const float gl = volume * f.left, gr = volume * f.right;
              if (ch == 1) {
                const float s = p[0] + (p[1] - p[0]) * frac;
                acc[size_t(i) * 2] += s * gl;
                acc[size_t(i) * 2 + 1] += s * gr;
              } else {
                acc[size_t(i) * 2] += (p[0] + (p[2] - p[0]) * frac) * gl;
                acc[size_t(i) * 2 + 1] += (p[1] + (p[3] - p[1]) * frac) * gr;
              }
              pos += step;
              if (pos >= length) pos -= length;
              volume += volumeStep;
              step += stepStep;
            }
            f.pos = pos;
          }
          for (size_t i = 0; i < acc.size(); ++i)
            out[i] = int16_t(std::clamp(std::lrint(acc[i]), -32768L, 32767L));
        }
        Keep(out);
      },
      5);
}

}  // namespace

int main() {
  const Kind kinds[] = {{8, 1, false},  {8, 1, true},  {8, 2, false},  {8, 2, true},
                        {16, 1, false}, {16, 1, true}, {16, 2, false}, {16, 2, true}};
  for (int32_t voices : {1, 32, 256}) {
    for (const Kind& kind : kinds) {
      std::vector<Source> sources;
      sources.reserve(size_t(voices));
      for (int32_t v = 0; v < voices; ++v) sources.push_back(MakeSource(kind, v));
      // The two alternate, each keeping its fastest run, so that a change in
      // the machine's load hits both alike.
      double mixer = 1e30, plain = 1e30;
      for (int round = 0; round < 2; ++round) {
        mixer = std::min(mixer, MixerSeconds(kind, voices, sources));
        plain = std::min(plain, FloatSeconds(kind, voices, sources));
      }
      char name[96];
      std::snprintf(name, sizeof name, "mixer: 1 s, %3d voice%s %2d-bit %s %s", voices,
                    voices > 1 ? "s" : " ", kind.bits, kind.channels == 1 ? "mono  " : "stereo",
                    kind.ramp ? "ramp " : "const");
      Report(name, mixer, "float loop, same work", plain, 1);
      std::printf("  %.3f ms per second of output (%.3f%% of one core)\n", mixer * 1e3, mixer * 100);
    }
  }
  return 0;
}
