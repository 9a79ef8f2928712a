// Decoding the card's music whole through the Ogg loader, in pieces on the
// machine's threads, against the straight decode on one thread measured in
// the same run; the two must give the same samples.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "bench/BenchUtil.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

// The processor time of the whole process so far, every thread's.
double ProcessSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// One load of the bytes with `threads` threads; the samples land in `out`.
void Load(std::vector<char>& bytes, int32_t threads, std::vector<uint8_t>& out, int32_t& pieces) {
  oggloader::SetDecodeThreads(threads);
  Ref<TAudioSample> s = ReadAudioSample(TRamStream::Create(bytes.data(), int32_t(bytes.size()), 1, 0));
  pieces = oggloader::LastDecodePieces();
  out.assign(s->samples, s->samples + s->DataBytes());
  s = nullptr;
  GCCollect();
}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  stream::Init();
  ramstream::Init();
  oggloader::Init();
  std::string path = std::string(VRL_SOURCE_DIR) + "/app/assets/Palewind-Silent night (piano).ogg";
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int32_t threads = oggloader::DecodeThreads();
  std::vector<uint8_t> straight, pieces;
  int32_t straightPieces = 0, piecesUsed = 0;
  // The two alternate, each keeping its fastest run, so that a change in the
  // machine's load hits both alike.
  // Processor time is kept too: on a machine busy with other work the wall
  // clock shows little of the threads, while the work they add shows here.
  double baseline = 1e30, parallel = 1e30, baselineWork = 1e30, parallelWork = 1e30;
  for (int round = 0; round < 7; ++round) {
    double work = ProcessSeconds();
    baseline = std::min(baseline, FastestSeconds([&] { Load(bytes, 1, straight, straightPieces); }, 1));
    baselineWork = std::min(baselineWork, ProcessSeconds() - work);
    work = ProcessSeconds();
    parallel = std::min(parallel, FastestSeconds([&] { Load(bytes, 0, pieces, piecesUsed); }, 1));
    parallelWork = std::min(parallelWork, ProcessSeconds() - work);
  }
  oggloader::SetDecodeThreads(0);
  if (pieces != straight) std::printf("MISMATCH: the pieces differ from the straight decode\n");
  char name[96];
  std::snprintf(name, sizeof name, "Ogg decode: card music, %d threads", int(threads));
  Report(name, parallel, "one thread, straight", baseline, 1);
  std::printf("  %.1f s of audio: %.0f ms in %d pieces, %.0f ms straight; same samples: %s\n",
              double(straight.size()) / 4 / 44100, parallel * 1e3, int(piecesUsed), baseline * 1e3,
              pieces == straight ? "yes" : "NO");
  std::printf("  processor time: %.0f ms in pieces (%.0f ms a thread), %.0f ms straight; ratio %.2f\n",
              parallelWork * 1e3, parallelWork * 1e3 / threads, baselineWork * 1e3,
              parallelWork / baselineWork);
  return pieces == straight ? 0 : 1;
}
