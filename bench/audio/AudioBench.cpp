// The Ogg loader decoding the card's music against vorbisfile decoding the
// same bytes directly, and the platform mixer's cost per second of audio for
// 1 and 32 playing buffers against a plain summing loop over the same data.
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "bench/BenchUtil.h"
#include "platform/SoundBuffer.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

struct Memory {
  const std::vector<char>* bytes;
  long pos = 0;
};

size_t MemRead(void* buf, size_t size, size_t count, void* source) {
  auto* m = static_cast<Memory*>(source);
  size_t n = std::min(size * count, m->bytes->size() - size_t(m->pos));
  std::memcpy(buf, m->bytes->data() + m->pos, n);
  m->pos += long(n);
  return n / size;
}
int MemSeek(void* source, ogg_int64_t offset, int whence) {
  auto* m = static_cast<Memory*>(source);
  long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : long(m->bytes->size());
  long to = base + long(offset);
  if (to < 0 || to > long(m->bytes->size())) return -1;
  m->pos = to;
  return 0;
}
long MemTell(void* source) { return static_cast<Memory*>(source)->pos; }

// vorbisfile alone: decode everything into one new buffer of the reported
// size (allocated fresh each time, as the loader's sample is).
long DecodeDirect(const std::vector<char>& bytes) {
  Memory m{&bytes};
  OggVorbis_File vf;
  ov_callbacks cb{&MemRead, &MemSeek, nullptr, &MemTell};
  if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) < 0) return -1;
  long total = long(ov_pcm_total(&vf, 0)) * ov_info(&vf, -1)->channels * 2;
  std::unique_ptr<char[]> out(new char[size_t(total)]);
  long done = 0;
  int section = 0;
  while (done < total) {
    long n = ov_read(&vf, out.get() + done, int(std::min(total - done, 1L << 20)), 0, 2, 1, &section);
    if (n <= 0) break;
    done += n;
  }
  ov_clear(&vf);
  return done;
}

void OggLoader() {
  std::string path = std::string(VRL_SOURCE_DIR) + "/app/assets/Palewind-Silent night (piano).ogg";
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Like for like: the loader decoding straight through on one thread, as
  // vorbisfile does here (oggdecode_bench measures the decode in pieces).
  oggloader::SetDecodeThreads(1);
  long direct = 0, loaded = 0;
  // The two alternate, each keeping its fastest run, so that a change in the
  // machine's load hits both alike.
  double baseline = 1e30, framework = 1e30;
  for (int round = 0; round < 7; ++round) {
    baseline = std::min(baseline, FastestSeconds([&] { direct = DecodeDirect(bytes); }, 1));
    framework = std::min(framework, FastestSeconds(
                                        [&] {
                                          Ref<TAudioSample> s = ReadAudioSample(
                                              TRamStream::Create(bytes.data(), int32_t(bytes.size()), 1, 0));
                                          loaded = long(s->DataBytes());
                                          s = nullptr;
                                          GCCollect();
                                        },
                                        1));
  }
  oggloader::SetDecodeThreads(0);
  if (direct != loaded) std::printf("MISMATCH: %ld bytes direct, %ld through the loader\n", direct, loaded);
  Report("Ogg loader: card music (ReadAudioSample)", framework, "vorbisfile directly", baseline, 1);
  std::printf("  %.1f s of audio decoded in %.0f ms; overhead %.1f%%\n", double(loaded) / 4 / 44100,
              framework * 1e3, (framework / baseline - 1) * 100);
}

void Mixer(int buffers) {
  constexpr int kRate = 44100, kBlock = 1024;
  platform::SoundDevice* device = platform::SoundDevice::CreateUnattached(kRate);
  std::vector<std::vector<int16_t>> data(size_t(buffers), std::vector<int16_t>(size_t(kRate) * 2));
  std::vector<platform::SoundBuffer*> playing;
  for (int b = 0; b < buffers; ++b) {
    for (size_t i = 0; i < data[size_t(b)].size(); ++i)
      data[size_t(b)][i] = int16_t((i * (b + 3)) % 2000 - 1000);
    platform::SoundWaveFormat f;
    f.channels = 2;
    f.samplesPerSec = uint32_t(kRate);
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    f.avgBytesPerSec = uint32_t(kRate) * 4;
    platform::SoundBufferDesc d;
    d.flags = 0x80E2;
    d.bufferBytes = uint32_t(kRate) * 4;
    d.format = &f;
    platform::SoundBuffer* sb = nullptr;
    device->CreateSoundBuffer(d, &sb);
    void *p1, *p2;
    uint32_t n1, n2;
    sb->Lock(0, d.bufferBytes, &p1, &n1, &p2, &n2, 0);
    std::memcpy(p1, data[size_t(b)].data(), n1);
    sb->Unlock(p1, n1, p2, n2);
    // Typical settings: some attenuation and pan, a rate off the output's.
    sb->SetVolume(-300 - 10 * b);
    sb->SetPan(b % 2 ? 1500 : -1500);
    sb->SetFrequency(uint32_t(kRate - 37 * b));
    sb->Play(platform::kSoundPlayLooping);
    playing.push_back(sb);
  }
  std::vector<int16_t> out(size_t(kBlock) * 2);
  double mixer = FastestSeconds([&] {
    for (int done = 0; done < kRate; done += kBlock) device->Mix(out.data(), kBlock);
    Keep(out);
  });
  // The floor: summing the same frames with no resampling or gains.
  std::vector<int32_t> acc(size_t(kBlock) * 2);
  double baseline = FastestSeconds([&] {
    for (int done = 0; done < kRate; done += kBlock) {
      std::fill(acc.begin(), acc.end(), 0);
      int n = std::min(kBlock, kRate - done);
      for (int b = 0; b < buffers; ++b) {
        const int16_t* src = data[size_t(b)].data() + size_t(done) * 2;
        for (int i = 0; i < n * 2; ++i) acc[size_t(i)] += src[i];
      }
      for (int i = 0; i < n * 2; ++i) out[size_t(i)] = int16_t(std::clamp(acc[size_t(i)], -32768, 32767));
    }
    Keep(out);
  });
  char name[96];
  std::snprintf(name, sizeof name, "mixer: 1 s of audio, %d playing buffer%s", buffers,
                buffers > 1 ? "s" : "");
  Report(name, mixer, "plain 16-bit sum, same frames", baseline, 1);
  std::printf("  %.3f ms per second of audio (%.3f%% of one core)\n", mixer * 1e3, mixer * 100);
  for (platform::SoundBuffer* sb : playing) sb->Release();
  device->Release();
}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  stream::Init();
  ramstream::Init();
  oggloader::Init();
  OggLoader();
  Mixer(1);
  Mixer(32);
  return 0;
}
