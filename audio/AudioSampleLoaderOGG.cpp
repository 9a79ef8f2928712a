#include "audio/AudioSampleLoaderOGG.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/OggDecoder.h"
#include "runtime/ClassRecord.h"
#include "runtime/Limits.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "stream/Stream.h"
#include "stream/StreamCloser.h"

namespace vrl {

VRL_CLASS_RECORD(TAudioSampleLoaderOGG, "TAudioSampleLoaderOGG")

namespace {
void DiscardPending();
}  // namespace

void oggloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  audiosample::Init();
  vrRegisterClass(TAudioSampleLoaderOGG::StaticClass());
  New<TAudioSampleLoaderOGG>();
  // A prefetch that no load took is joined before the program's memory goes.
  RegisterEndHandler(&DiscardPending);
}

namespace {

int32_t gDecodeThreads = 0;
int32_t gLastPieces = 0;

// Decodes up to `frames` frames into the sample, growing its memory as the
// data arrives. Returns the frames decoded, or -1 on a decoding error.
int64_t Decode(pub::OggDecoder* decoder, TAudioSample* sample, int64_t frames) {
  const int32_t frameBytes = SampleBytes[sample->format];
  const int64_t totalBytes = frames * frameBytes;
  int64_t done = 0;
  while (done < totalBytes) {
    if (done == sample->capacity) {
      int64_t grown = std::min(std::max<int64_t>(sample->capacity, 1 << 16) * 2, totalBytes);
      void* p = vrRawRealloc(sample->samples, std::size_t(sample->capacity), std::size_t(grown));
      if (!p) throw std::bad_alloc();
      sample->samples = static_cast<uint8_t*>(p);
      sample->capacity = int32_t(grown);
    }
    int64_t want = sample->capacity - done;
    int64_t got = pub::OggDecoderRead(decoder, sample->samples + done, want);
    if (got < 0) return -1;
    done += got;
    if (got < want) break;  // the data ended early
  }
  return done / frameBytes;
}

// The stream's bytes from its start to its size, read for decoders on other
// threads (a framework stream belongs to one thread); the stream is left
// where it stood. Empty when the stream cannot tell its size or gives less.
std::vector<uint8_t> ReadWhole(TStream* stream) {
  const int32_t size = stream->Size();
  const int32_t at = stream->Pos();
  if (size <= 0 || at < 0) return {};
  std::vector<uint8_t> bytes(std::size_t(size), 0);
  int32_t got = -1;
  if (stream->Seek(0) == 0) got = ReadUpTo(stream, bytes.data(), size);
  stream->Seek(at);
  if (got != size) return {};
  return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoding in pieces on several threads.
//
// The frames are cut into pieces; each thread opens its own decoder over the
// stream's bytes in memory and takes the next piece left, seeks to its first
// frame (vorbisfile primes the overlap of the blocks before it) and decodes
// it into its place in the sample. The result must be the very samples of a
// straight decode, so it is checked: each piece but the last also decodes
// kCheckFrames frames past its end, which must equal the start of the next
// piece, with both decoders then standing at the same frame and byte of the
// data. Any error, short piece or mismatch discards the pieces and the caller
// decodes straight through, which gives what the file gives (an error, or a
// shorter sample). No worker runs framework code: the sample's memory and
// every buffer are allocated before they start, and all are joined before
// the result is looked at, on every way out.
namespace {

constexpr int64_t kCheckFrames = 8192;      // more than a long Vorbis block
constexpr int64_t kMinPieceFrames = 16384;  // shorter data decodes straight
constexpr int32_t kPiecesPerThread = 4;     // so that a slow thread holds up little

struct Piece {
  int64_t begin = 0, end = 0;
  std::vector<uint8_t> tail;              // the kCheckFrames frames after `end`
  int64_t headFrame = -1, headByte = -1;  // where the decoder stood kCheckFrames into the piece
  int64_t tailFrame = -1, tailByte = -1;  // ... and after the tail
  bool decoded = false;
};

class PieceDecode {
 public:
  PieceDecode(const std::vector<uint8_t>& bytes, int64_t start, TAudioSample* sample, int64_t frames,
              int32_t pieces)
      : _bytes(bytes),
        _start(start),
        _out(sample->samples),
        _frameBytes(SampleBytes[sample->format]),
        _frames(frames),
        _channels(SampleChannels[sample->format]),
        _hertz(sample->hertz) {
    _pieces.resize(std::size_t(pieces));
    for (int32_t i = 0; i < pieces; ++i) {
      Piece& p = _pieces[std::size_t(i)];
      p.begin = frames * i / pieces;
      p.end = frames * (i + 1) / pieces;
      if (i + 1 < pieces) p.tail.resize(std::size_t(kCheckFrames * _frameBytes));
    }
  }

  // Takes pieces until none is left or one failed. Safe on any thread.
  void Work() noexcept {
    pub::OggDecoder* decoder = nullptr;
    bool fresh = true;
    for (;;) {
      const int32_t index = _next.fetch_add(1);
      if (index >= int32_t(_pieces.size()) || _failed.load()) break;
      if (!decoder) decoder = OpenOwn();
      if (!decoder || !DecodePiece(decoder, _pieces[std::size_t(index)], fresh)) {
        _failed.store(true);
        break;
      }
      fresh = false;
    }
    if (decoder) pub::OggDecoderRead(decoder, nullptr, 0);  // memory decoders keep no exception
  }

  // Makes the threads stop after the piece each is decoding.
  void Stop() noexcept { _failed.store(true); }
  int32_t Pieces() const { return int32_t(_pieces.size()); }

  // After every thread has finished: true when the pieces together are the
  // straight decode.
  bool Agreed() const {
    if (_failed.load()) return false;
    for (std::size_t i = 0; i < _pieces.size(); ++i) {
      const Piece& p = _pieces[i];
      if (!p.decoded) return false;
      if (i == 0) continue;
      const Piece& before = _pieces[i - 1];
      if (before.tailFrame != p.headFrame || before.tailByte != p.headByte || p.headFrame < 0 ||
          p.headByte < 0)
        return false;
      if (std::memcmp(before.tail.data(), _out + p.begin * _frameBytes, before.tail.size()) != 0)
        return false;
    }
    return true;
  }

 private:
  pub::OggDecoder* OpenOwn() noexcept {
    int64_t frames = 0;
    int32_t channels = 0, hertz = 0;
    pub::OggDecoder* d = nullptr;
    try {
      d = pub::OggDecoderOpenMemory(_bytes.data(), int64_t(_bytes.size()), _start, &frames, &channels,
                                    &hertz);
    } catch (...) {
      return nullptr;  // out of memory: the straight decode after this one reports it
    }
    if (d && (frames != _frames || channels != _channels || hertz != _hertz || !pub::OggDecoderCanSeek(d))) {
      pub::OggDecoderRead(d, nullptr, 0);
      d = nullptr;
    }
    return d;
  }

  bool DecodePiece(pub::OggDecoder* d, Piece& p, bool fresh) noexcept {
    // A fresh decoder stands at frame 0 exactly as the straight decode does.
    if ((p.begin != 0 || !fresh) && !pub::OggDecoderSeek(d, p.begin)) return false;
    const int64_t length = p.end - p.begin;
    const int64_t head = std::min(length, kCheckFrames);
    uint8_t* at = _out + p.begin * _frameBytes;
    if (pub::OggDecoderRead(d, at, head * _frameBytes) != head * _frameBytes) return false;
    p.headFrame = pub::OggDecoderFrameTell(d);
    p.headByte = pub::OggDecoderByteTell(d);
    const int64_t rest = (length - head) * _frameBytes;
    if (pub::OggDecoderRead(d, at + head * _frameBytes, rest) != rest) return false;
    if (!p.tail.empty()) {
      const auto tail = int64_t(p.tail.size());
      if (pub::OggDecoderRead(d, p.tail.data(), tail) != tail) return false;
      p.tailFrame = pub::OggDecoderFrameTell(d);
      p.tailByte = pub::OggDecoderByteTell(d);
    }
    p.decoded = true;
    return true;
  }

  const std::vector<uint8_t>& _bytes;
  const int64_t _start;
  uint8_t* const _out;
  const int64_t _frameBytes;
  const int64_t _frames;
  const int32_t _channels, _hertz;
  std::vector<Piece> _pieces;
  std::atomic<int32_t> _next{0};
  std::atomic<bool> _failed{false};
};

// Joins its threads when it goes, whatever way the scope is left.
class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() { Join(); }
  // Starts `count` threads running `work`; fewer when the system has no more.
  template <class Work>
  void Start(int32_t count, Work work) {
    _threads.reserve(std::size_t(count));
    for (int32_t i = 0; i < count; ++i) {
      try {
        _threads.emplace_back(work);
      } catch (const std::system_error&) {
        break;  // the threads already running share the pieces
      }
    }
  }
  void Join() {
    for (std::thread& t : _threads)
      if (t.joinable()) t.join();
    _threads.clear();
  }

 private:
  std::vector<std::thread> _threads;
};

// The frames the first allocation may hold: the claimed length is trusted
// only as far as the stream's size makes it plausible.
int64_t PlausibleFrames(int64_t streamSize, int64_t frameBytes) {
  return std::max<int64_t>(streamSize * 32, 1 << 20) / frameBytes;
}

int32_t ThreadsToUse() {
  if (gDecodeThreads > 0) return gDecodeThreads;
  const auto cores = int32_t(std::min(std::thread::hardware_concurrency(), 4u));
  return std::max(cores, 1);
}

// Decodes all `frames` into the sample, whose memory holds them, in pieces
// on several threads. False when that is not possible or its pieces disagree:
// the caller then decodes straight through.
bool DecodeInPieces(pub::OggDecoder* decoder, TStream* stream, int32_t start, TAudioSample* sample,
                    int64_t frames) {
  const int32_t threads = ThreadsToUse();
  if (threads < 2 || frames < 2 * kMinPieceFrames || !pub::OggDecoderCanSeek(decoder)) return false;
  if (sample->capacity < frames * SampleBytes[sample->format]) return false;  // not allocated at once
  if (start < 0) return false;
  std::vector<uint8_t> bytes = ReadWhole(stream);
  if (bytes.empty()) return false;
  const auto pieces =
      int32_t(std::min<int64_t>(int64_t(threads) * kPiecesPerThread, frames / kMinPieceFrames));
  PieceDecode job(bytes, start, sample, frames, pieces);
  {
    Workers workers;
    workers.Start(std::min(threads, pieces) - 1, [&job] { job.Work(); });
    job.Work();
  }
  if (!job.Agreed()) return false;
  gLastPieces = pieces;
  return true;
}

// A decode begun ahead of its load (PrefetchAudioSample), on threads of its
// own while the main thread does other work: one thread fewer than the decode
// may use, so that the main thread keeps a core for that work; it takes the
// pieces still left when it comes to the load.
struct Prefetched {
  Prefetched() = default;
  Prefetched(const Prefetched&) = delete;
  Prefetched& operator=(const Prefetched&) = delete;
  ~Prefetched() {
    if (job) job->Stop();
    workers.Join();
  }
  std::vector<uint8_t> bytes;
  int32_t start = 0;
  int64_t frames = 0;
  Ref<TAudioSample> sample;  // created on the main thread, filled by the workers
  std::unique_ptr<PieceDecode> job;
  Workers workers;
};

std::unique_ptr<Prefetched>& Pending() {
  static auto* pending = new std::unique_ptr<Prefetched>;
  return *pending;
}

void DiscardPending() { Pending().reset(); }

// The samples of the prefetched decode when it decoded exactly the bytes of
// `stream` from `start` and its pieces agree; else Null. Either way the
// prefetch is gone, its threads joined, when this returns or throws.
Ref<TAudioSample> TakePrefetched(TStream* stream, int32_t start, int64_t frames, int32_t format,
                                 int32_t hertz) {
  std::unique_ptr<Prefetched> p = std::move(Pending());
  if (!p || p->start != start || p->frames != frames || p->sample->format != format ||
      p->sample->hertz != hertz)
    return nullptr;
  if (ReadWhole(stream) != p->bytes) return nullptr;
  p->job->Work();  // this thread takes the pieces still left
  p->workers.Join();
  if (!p->job->Agreed()) return nullptr;
  gLastPieces = p->job->Pieces();
  return p->sample;
}

}  // namespace

void oggloader::PrefetchAudioSample(Object* url) {
  DiscardPending();
  const int32_t threads = ThreadsToUse();
  if (threads < 2) return;
  try {
    auto p = std::make_unique<Prefetched>();
    {
      Ref<TStream> stream = OpenStream(url, 1, 0);
      if (stream.IsNull()) return;
      StreamCloser closer(stream);
      p->start = stream->Pos();
      if (p->start < 0) return;
      p->bytes = ReadWhole(stream);
    }
    if (p->bytes.empty()) return;
    int64_t frames = 0;
    int32_t channels = 0, hertz = 0;
    pub::OggDecoder* d = pub::OggDecoderOpenMemory(p->bytes.data(), int64_t(p->bytes.size()), p->start,
                                                   &frames, &channels, &hertz);
    if (!d) return;
    const bool seekable = pub::OggDecoderCanSeek(d);
    pub::OggDecoderRead(d, nullptr, 0);
    const int32_t format = channels == 1 ? SAMPLE_MONO16LE : SAMPLE_STEREO16LE;
    const int64_t frameBytes = SampleBytes[format];
    if (!seekable || (channels != 1 && channels != 2) || frames < 2 * kMinPieceFrames ||
        frames * frameBytes > limits::kSampleBytes ||
        frames > PlausibleFrames(int64_t(p->bytes.size()), frameBytes))
      return;
    p->frames = frames;
    p->sample = TAudioSample::Create(int32_t(frames), hertz, format);
    const auto pieces =
        int32_t(std::min<int64_t>(int64_t(threads) * kPiecesPerThread, frames / kMinPieceFrames));
    p->job = std::make_unique<PieceDecode>(p->bytes, p->start, p->sample, frames, pieces);
    PieceDecode* job = p->job.get();
    p->workers.Start(std::min(threads - 1, pieces), [job] { job->Work(); });
    Pending() = std::move(p);
  } catch (...) {
    // A prefetch only saves time: whatever failed here, the load that
    // follows meets again and reports.
  }
}

void oggloader::SetDecodeThreads(int32_t threads) { gDecodeThreads = std::max(threads, 0); }
int32_t oggloader::DecodeThreads() { return ThreadsToUse(); }
int32_t oggloader::LastDecodePieces() { return gLastPieces; }

Ref<TAudioSample> TAudioSampleLoaderOGG::LoadAudioSample(TStream* stream) {
  int64_t frames = 0;
  int32_t channels = 0, hertz = 0;
  gLastPieces = 0;
  const int32_t start = stream->Pos();  // where the data begins, for decoders of its bytes
  pub::OggDecoder* decoder = pub::OggDecoderOpen(stream, &frames, &channels, &hertz);
  if (!decoder) return nullptr;
  Ref<TAudioSample> sample;
  int64_t decoded = -1;
  try {
    const int32_t format = channels == 1 ? SAMPLE_MONO16LE : SAMPLE_STEREO16LE;
    const int64_t frameBytes = SampleBytes[format];
    if (channels >= 1 && channels <= limits::kSampleChannels && frames * frameBytes <= limits::kSampleBytes) {
      sample = TakePrefetched(stream, start, frames, format, hertz);
      if (!sample.IsNull()) {
        decoded = frames;
      } else {
        // The first allocation trusts the claimed length only as far as the
        // stream's size makes it plausible; Decode grows the rest on demand.
        int64_t first = std::min(frames, PlausibleFrames(int64_t(std::max(stream->Size(), 0)), frameBytes));
        sample = TAudioSample::Create(int32_t(first), hertz, format);
        decoded =
            DecodeInPieces(decoder, stream, start, sample, frames) ? frames : Decode(decoder, sample, frames);
      }
    }
  } catch (...) {
    try {
      pub::OggDecoderRead(decoder, nullptr, 0);
    } catch (...) {
      // The first failure is the one reported.
    }
    throw;
  }
  // Closing throws again what a stream callback caught.
  pub::OggDecoderRead(decoder, nullptr, 0);
  if (decoded < 0) return nullptr;
  sample->length = int32_t(decoded);
  return sample;
}

}  // namespace vrl
