#include "audio/drivers/aurimix/LoopStream.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "platform/AudioOutput.h"

namespace vrl::aurimix {

loopstream* loopstream::Open(int32_t bytes, std::string* error) {
  if (bytes <= 0 || bytes % kFrameBytes != 0) {
    if (error) *error = "bad buffer size";
    return nullptr;
  }
  auto* stream = new loopstream;
  stream->_buffer.assign(size_t(bytes), 0);
  stream->_output = platform::AudioOutput::Open(kRate, &loopstream::Fill, stream, error);
  if (!stream->_output) {
    delete stream;
    return nullptr;
  }
  return stream;
}

void loopstream::Close() {
  _output->Close();  // waits for a running callback; none runs afterwards
  _output = nullptr;
  delete this;
}

bool loopstream::Write(uint32_t offset, const void* data, uint32_t bytes) {
  const auto size = uint32_t(_buffer.size());
  if (bytes > size || bytes % kFrameBytes != 0 || offset % kFrameBytes != 0) return false;
  offset %= size;
  const uint32_t first = bytes < size - offset ? bytes : size - offset;
  const std::lock_guard<std::mutex> hold(_lock);
  std::memcpy(_buffer.data() + offset, data, first);
  std::memcpy(_buffer.data(), static_cast<const uint8_t*>(data) + first, bytes - first);
  return true;
}

void loopstream::Zero() {
  const std::lock_guard<std::mutex> hold(_lock);
  std::memset(_buffer.data(), 0, _buffer.size());
}

void loopstream::Play() {
  const std::lock_guard<std::mutex> hold(_lock);
  _playing.store(true, std::memory_order_release);
}

void loopstream::Stop() {
  const std::lock_guard<std::mutex> hold(_lock);
  _playing.store(false, std::memory_order_release);
}

void loopstream::Reset() {
  const std::lock_guard<std::mutex> hold(_lock);
  _playing.store(false, std::memory_order_release);
  _position.store(0, std::memory_order_release);
}

void loopstream::SetNotifications(std::vector<uint32_t> offsets) {
  const std::lock_guard<std::mutex> hold(_lock);
  _notify = std::move(offsets);
}

bool loopstream::Wait(int32_t ms) {
  std::unique_lock<std::mutex> hold(_eventLock);
  const bool came = _event.wait_for(hold, std::chrono::milliseconds(ms), [this] { return _signalled; });
  _signalled = false;
  return came;
}

void loopstream::Wake() { Raise(); }

void loopstream::Raise() {
  {
    const std::lock_guard<std::mutex> hold(_eventLock);
    _signalled = true;
  }
  _event.notify_one();
}

// The output's callback: copies the next frames of the buffer (wrapping)
// while playing, silence while stopped, and raises the notification when
// the frames taken pass one of its offsets.
void loopstream::Fill(void* context, int16_t* out, int32_t frames) {
  auto* self = static_cast<loopstream*>(context);
  const auto want = uint32_t(frames) * uint32_t(kFrameBytes);
  auto* bytes = reinterpret_cast<uint8_t*>(out);
  bool raise = false;
  {
    const std::lock_guard<std::mutex> hold(self->_lock);
    if (!self->_playing.load(std::memory_order_relaxed)) {
      std::memset(bytes, 0, want);
    } else {
      const auto size = uint32_t(self->_buffer.size());
      const uint64_t position = self->_position.load(std::memory_order_relaxed);
      const auto start = uint32_t(position % size);
      for (uint32_t done = 0; done < want;) {
        const uint32_t at = (start + done) % size;
        const uint32_t run = want - done < size - at ? want - done : size - at;
        std::memcpy(bytes + done, self->_buffer.data() + at, run);
        done += run;
      }
      for (uint32_t offset : self->_notify) {
        // Passed when the offset lies in [start, start + want) around the ring.
        const uint32_t ahead = (offset + size - start) % size;
        if (ahead < want) raise = true;
      }
      self->_position.store(position + want, std::memory_order_release);
    }
  }
  self->_framesOut.fetch_add(uint64_t(frames), std::memory_order_acq_rel);
  if (raise) self->Raise();
}

}  // namespace vrl::aurimix
