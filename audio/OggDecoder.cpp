#include "audio/OggDecoder.h"

#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "runtime/CallbackTrap.h"
#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace pub {

struct OggDecoder {
  OggVorbis_File file{};
  vrl::TStream* stream = nullptr;
  // A throw caught inside a callback, thrown again after vorbisfile returns.
  vrl::CallbackTrap trap;
};

namespace {

size_t ReadCallback(void* buffer, size_t size, size_t count, void* source) {
  auto* d = static_cast<OggDecoder*>(source);
  if (size == 0 || d->trap.Caught()) return 0;
  int32_t got = 0;
  const bool read = d->trap.Run([&] {
    size_t want = size * count;
    if (want > 0x7fffffff) want = 0x7fffffff;
    got = d->stream->Read(buffer, int32_t(want));
  });
  // vorbisfile reads a 0 with errno set as a read error.
  errno = read ? 0 : EIO;
  return got > 0 ? size_t(got) / size : 0;
}

int SeekCallback(void* source, ogg_int64_t offset, int whence) {
  auto* d = static_cast<OggDecoder*>(source);
  if (d->trap.Caught()) return -1;
  int result = -1;
  d->trap.Run([&] {
    auto low = int32_t(uint32_t(uint64_t(offset)));  // only the low 32 bits count
    int64_t target = 0;
    switch (whence) {
      case SEEK_SET:
        target = low;
        break;
      case SEEK_CUR:
        target = int64_t(d->stream->Pos()) + low;
        break;
      case SEEK_END:
        target = int64_t(d->stream->Size()) + low;
        break;
      default:
        return;
    }
    if (target < 0 || target > 0x7fffffff) return;
    result = d->stream->Seek(int32_t(target)) >= 0 ? 0 : -1;
  });
  return result;
}

int CloseCallback(void*) { return 0; }  // the loader chain closes the stream

long TellCallback(void* source) {
  auto* d = static_cast<OggDecoder*>(source);
  if (d->trap.Caught()) return -1;
  long pos = -1;
  d->trap.Run([&] { pos = d->stream->Pos(); });
  return pos;
}

void Free(OggDecoder* d, bool clear) {
  if (clear) ov_clear(&d->file);
  vrl::CallbackTrap trap = std::move(d->trap);
  delete d;
  trap.Rethrow();
}

}  // namespace

OggDecoder* OggDecoderOpen(vrl::TStream* stream, int64_t* frames, int32_t* channels, int32_t* hertz) {
  if (!stream) vrl::ThrowNullObjectException();
  auto* d = new OggDecoder;
  d->stream = stream;
  ov_callbacks callbacks{&ReadCallback, &SeekCallback, &CloseCallback, &TellCallback};
  if (ov_open_callbacks(d, &d->file, nullptr, 0, callbacks) < 0) {
    // A failed open leaves nothing for ov_clear to free.
    Free(d, false);
    return nullptr;
  }
  vorbis_info* info = ov_info(&d->file, -1);
  ogg_int64_t total = ov_pcm_total(&d->file, 0);
  if (!info || total < 0 || d->trap.Caught()) {
    Free(d, true);
    return nullptr;
  }
  *frames = total;
  *channels = info->channels;
  *hertz = int32_t(info->rate);
  return d;
}

int64_t OggDecoderRead(OggDecoder* d, void* buffer, int64_t bytes) {
  if (!d) return 0;
  if (!buffer) {
    Free(d, true);
    return 0;
  }
  auto* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < bytes) {
    int64_t want = bytes - done;
    if (want > 1 << 20) want = 1 << 20;
    int section = 0;
    long n = ov_read(&d->file, out + done, int(want), 0, 2, 1, &section);
    if (d->trap.Caught()) return -1;
    if (n < 0) return -1;
    // The end of the data, or a chained stream's next link, whose layout may
    // differ: decoding ends with what the first link gave.
    if (n == 0 || section != 0) break;
    done += n;
  }
  return done;
}

}  // namespace pub
