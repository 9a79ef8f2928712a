#include "audio/drivers/aurimix/StreamDevices.h"

#include <chrono>
#include <cstdio>

#include "audio/drivers/aurimix/LoopStream.h"

namespace vrl::aurimix {

int32_t WaveOutFragment(int32_t platformId, int32_t majorVersion) {
  if (platformId == 2) return 1024;
  if (platformId == 1) return majorVersion < 5 ? 2048 : 1024;
  return 2048;
}

namespace {
// This platform's answer to the version query: the NT family.
constexpr int32_t kPlatformId = 2;
constexpr int32_t kMajorVersion = 6;
}  // namespace

// ---------------------------------------------------------------------------
// The timer-serviced device

winmmdevice::winmmdevice(bool timer) : _timer(timer) {}

winmmdevice::~winmmdevice() { close(); }

int32_t winmmdevice::open() {
  _fragment = WaveOutFragment(kPlatformId, kMajorVersion);
  startmixer(_fragment);
  _block.assign(size_t(_fragment), 0);
  _stream = loopstream::Open(kFragments * _fragment * 2);
  if (!_stream) return 1;
  // The whole buffer, zeroed, plays over and over from its start.
  _stream->Play();
  _lead.store(kFirstLead, std::memory_order_release);
  _restartWait.store(0, std::memory_order_release);
  _writePosition.store(0, std::memory_order_release);
  _running.store(true, std::memory_order_release);
  service();
  if (_timer) _thread = std::thread([this] { timerloop(); });
  return 0;
}

void winmmdevice::close() {
  {
    const std::lock_guard<std::mutex> hold(_stopLock);
    _running.store(false, std::memory_order_release);
  }
  _stop.notify_all();
  if (_thread.joinable()) _thread.join();
  stopmixer();  // recycles every voice
  if (_stream) {
    _stream->Reset();
    _stream->Close();
    _stream = nullptr;
  }
}

// The periodic timer: one service every 5 ms, the next period counted from
// the end of the service (a timer re-armed by its own routine).
void winmmdevice::timerloop() {
  std::unique_lock<std::mutex> hold(_stopLock);
  while (_running.load(std::memory_order_acquire)) {
    if (_stop.wait_for(hold, std::chrono::milliseconds(kPeriodMs),
                       [this] { return !_running.load(std::memory_order_acquire); }))
      break;
    hold.unlock();
    service();
    hold.lock();
  }
}

bool winmmdevice::queryposition(uint64_t& bytes) {
  bytes = _stream->Position();
  return true;
}

void winmmdevice::restart() {
  // The play position starts again at 0 with the buffer's first byte.
  _stream->Reset();
  _stream->Play();
}

void winmmdevice::service() {
  if (!_running.load(std::memory_order_acquire) || !_stream) return;
  _services.fetch_add(1, std::memory_order_acq_rel);
  const int32_t wait = _restartWait.load(std::memory_order_relaxed);
  if (wait > 0) {
    _restartWait.store(wait - 1, std::memory_order_release);
    if (wait - 1 > 0) return;
    restart();
  }

  uint64_t bytes = 0;
  if (!queryposition(bytes) || bytes > kMaxPosition) {
    // A position that cannot be trusted: start again from the top.
    _stream->Reset();
    _writePosition.store(0, std::memory_order_release);
    _stream->Zero();
    restart();
    return;
  }

  const auto fragment = int64_t(_fragment);
  const auto p = int64_t(bytes / 2);  // 16-bit samples
  int64_t write = _writePosition.load(std::memory_order_relaxed);
  if (p != 0 && write < p + 2 * fragment) {
    // Underrun: the output played what was never mixed. Silence, a pause of
    // kRestartWait services, and more lead from then on.
    _underruns.fetch_add(1, std::memory_order_acq_rel);
    _restartWait.store(kRestartWait, std::memory_order_release);
    _stream->Zero();
    _stream->Reset();
    int32_t lead = _lead.load(std::memory_order_relaxed);
    if (lead <= 9) lead += 2;
    _lead.store(lead, std::memory_order_release);
    _writePosition.store(int64_t(2 * lead) * fragment, std::memory_order_release);
    return;
  }

  const int64_t lead = _lead.load(std::memory_order_relaxed);
  mixer* m = getmixer();
  while (write < p + lead * fragment) {
    m->mix(_block.data(), _fragment);
    const auto slot = uint32_t((write / fragment) % kFragments);
    if (!_stream->Write(slot * uint32_t(_fragment) * 2, _block.data(), uint32_t(_fragment) * 2))
      std::puts("waveOutWrite error");
    write += fragment;
  }
  _writePosition.store(write, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// The thread-serviced device

dsounddevice::~dsounddevice() { close(); }

int32_t dsounddevice::open() {
  startmixer(kAccumulator);
  _block.assign(size_t(kAccumulator), 0);
  _stream = loopstream::Open(kBufferBytes);
  if (!_stream) return 1;
  _stream->SetNotifications(
      {0, uint32_t(kFragmentBytes), uint32_t(2 * kFragmentBytes), uint32_t(3 * kFragmentBytes)});
  _written.store(0, std::memory_order_release);
  _running.store(true, std::memory_order_release);
  _playing.store(true, std::memory_order_release);
  _thread = std::thread([this] { run(); });
  return 0;
}

void dsounddevice::close() {
  _running.store(false, std::memory_order_release);
  if (_stream) _stream->Wake();
  // The thread ends at its next wake-up, which Wake brings at once; it is
  // joined before the buffer goes, however long it takes.
  for (int i = 0; i < 19 && playing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (_thread.joinable()) _thread.join();
  _playing.store(false, std::memory_order_release);
  stopmixer();
  if (_stream) {
    _stream->Close();
    _stream = nullptr;
  }
}

// Mixes `bytes` (one locked region) and copies them in at `offset`.
bool dsounddevice::mixinto(uint32_t offset, uint32_t bytes) {
  if (bytes == 0) return true;
  getmixer()->mix(_block.data(), int32_t(bytes / 2));
  return _stream->Write(offset, _block.data(), bytes);
}

void dsounddevice::run() {
  _stream->Zero();
  _stream->Play();
  int64_t wraps = 0;
  uint32_t last = 0;
  while (_running.load(std::memory_order_acquire)) {
    const uint32_t cursor = _stream->Cursor();
    if (cursor < last) ++wraps;
    last = cursor;
    const int64_t written = _written.load(std::memory_order_relaxed);
    int64_t due =
        (int64_t(2 * kFragmentBytes) - written + wraps * kBufferBytes + int64_t(cursor)) / kFragmentBytes;
    if (due > kMaxFragmentsPerWake) due = kMaxFragmentsPerWake;
    if (due > 0) {
      const auto offset = uint32_t(written % kBufferBytes);
      const auto bytes = uint32_t(due * kFragmentBytes);
      const uint32_t first =
          bytes < uint32_t(kBufferBytes) - offset ? bytes : uint32_t(kBufferBytes) - offset;
      if (!mixinto(offset, first) || !mixinto(0, bytes - first)) break;
      _written.store(written + bytes, std::memory_order_release);
    }
    _wakeups.fetch_add(1, std::memory_order_acq_rel);
    if (!_stream->Wait(kWaitMs)) break;
  }
  _stream->Stop();
  _playing.store(false, std::memory_order_release);
}

audiodevice* OpenStreamDevice(int32_t kind) {
  if (kind == 0) return MixerOpenWaveOut();
  if (kind == 1) return MixerOpenDirectSound();
  return nullptr;
}

}  // namespace vrl::aurimix

namespace vrl {

aurimix::audiodevice* MixerOpenWaveOut() { return new aurimix::winmmdevice(); }
aurimix::audiodevice* MixerOpenDirectSound() { return new aurimix::dsounddevice(); }

}  // namespace vrl
