// A device that plays into memory: it mixes only when asked, on the calling
// thread, and keeps its own millisecond clock, which only the program moves.
// With it a program renders audio offline, and mixing is deterministic: the
// start delay of a voice depends on the clock, not on when a thread ran.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/drivers/aurimix/Mixer.h"

namespace vrl::aurimix {

class capturedevice : public audiodevice {
 public:
  /// `blockSamples` is the mixer's accumulator length (interleaved samples).
  /// A device made with `refuse` fails to open, as one without hardware does.
  explicit capturedevice(int32_t blockSamples = 2048, bool refuse = false)
      : _blockSamples(blockSamples), _refuse(refuse) {}
  ~capturedevice() override;

  int32_t open() override;
  void close() override;
  uint32_t milliseconds() override { return _now.load(std::memory_order_relaxed); }

  void settime(uint32_t ms) { _now.store(ms, std::memory_order_relaxed); }
  void advance(uint32_t ms) { _now.fetch_add(ms, std::memory_order_relaxed); }

  /// Mixes `frames` output frames, in blocks of at most the accumulator's
  /// length, and returns them interleaved (left, right). Empty while closed.
  std::vector<int16_t> capture(int32_t frames);

  int32_t opened() const { return _opened; }  // successful opens
  int32_t closed() const { return _closed; }  // calls of close()

 private:
  int32_t _blockSamples;
  bool _refuse;
  std::atomic<uint32_t> _now{0};
  int32_t _opened = 0;
  int32_t _closed = 0;
};

}  // namespace vrl::aurimix
