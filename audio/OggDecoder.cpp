#include "audio/OggDecoder.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/CallbackTrap.h"
#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace pub {

struct OggDecoder {
  OggVorbis_File file{};
  vrl::TStream* stream = nullptr;
  // The bytes of a decoder over memory, and its read position.
  const char* bytes = nullptr;
  int64_t size = 0;
  int64_t pos = 0;
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
    // A stream that cannot tell its size (Size 0) has no end for vorbisfile
    // to find its length from, and searching for the last page before offset
    // 0 would never end: it is read as a stream that cannot seek.
    if (d->stream->Size() <= 0) return;
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

// Memory callbacks: the same reads and seeks as over a TRamStream holding the
// bytes (seeks clamp to the data, offsets count their low 32 bits), without
// framework code.
size_t MemoryReadCallback(void* buffer, size_t size, size_t count, void* source) {
  auto* d = static_cast<OggDecoder*>(source);
  if (size == 0) return 0;
  uint64_t want = uint64_t(size) * count;
  if (want > 0x7fffffff) want = 0x7fffffff;
  const auto left = uint64_t(d->size - d->pos);
  const uint64_t got = want < left ? want : left;
  if (got > 0) std::memcpy(buffer, d->bytes + d->pos, got);
  d->pos += int64_t(got);
  errno = 0;
  return size_t(got) / size;
}

int MemorySeekCallback(void* source, ogg_int64_t offset, int whence) {
  auto* d = static_cast<OggDecoder*>(source);
  auto low = int32_t(uint32_t(uint64_t(offset)));
  int64_t target = 0;
  switch (whence) {
    case SEEK_SET:
      target = low;
      break;
    case SEEK_CUR:
      target = d->pos + low;
      break;
    case SEEK_END:
      target = d->size + low;
      break;
    default:
      return -1;
  }
  if (target < 0 || target > 0x7fffffff) return -1;
  d->pos = std::min(target, d->size);
  return 0;
}

long MemoryTellCallback(void* source) { return long(static_cast<OggDecoder*>(source)->pos); }

void Free(OggDecoder* d, bool clear) {
  if (clear) ov_clear(&d->file);
  vrl::CallbackTrap trap = std::move(d->trap);
  delete d;
  trap.Rethrow();
}

}  // namespace

namespace {

OggDecoder* Open(OggDecoder* d, const ov_callbacks& callbacks, int64_t* frames, int32_t* channels,
                 int32_t* hertz) {
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

}  // namespace

OggDecoder* OggDecoderOpen(vrl::TStream* stream, int64_t* frames, int32_t* channels, int32_t* hertz) {
  if (!stream) vrl::ThrowNullObjectException();
  auto* d = new OggDecoder;
  d->stream = stream;
  return Open(d, {&ReadCallback, &SeekCallback, &CloseCallback, &TellCallback}, frames, channels, hertz);
}

OggDecoder* OggDecoderOpenMemory(const void* bytes, int64_t size, int64_t start, int64_t* frames,
                                 int32_t* channels, int32_t* hertz) {
  if (size < 0 || start < 0 || start > size) return nullptr;
  auto* d = new OggDecoder;
  d->bytes = static_cast<const char*>(bytes);
  d->size = size;
  d->pos = start;
  return Open(d, {&MemoryReadCallback, &MemorySeekCallback, &CloseCallback, &MemoryTellCallback}, frames,
              channels, hertz);
}

bool OggDecoderCanSeek(OggDecoder* d) { return ov_seekable(&d->file) != 0 && ov_streams(&d->file) == 1; }

bool OggDecoderSeek(OggDecoder* d, int64_t frame) {
  if (d->trap.Caught()) return false;
  const bool moved = ov_pcm_seek(&d->file, frame) == 0;
  return moved && !d->trap.Caught();
}

int64_t OggDecoderFrameTell(OggDecoder* d) {
  const ogg_int64_t at = ov_pcm_tell(&d->file);
  return at < 0 ? -1 : at;
}

int64_t OggDecoderByteTell(OggDecoder* d) {
  const ogg_int64_t at = ov_raw_tell(&d->file);
  return at < 0 ? -1 : at;
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
