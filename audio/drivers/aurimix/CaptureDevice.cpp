#include "audio/drivers/aurimix/CaptureDevice.h"

namespace vrl::aurimix {

capturedevice::~capturedevice() { stopmixer(); }

int32_t capturedevice::open() {
  if (_refuse) return 1;
  startmixer(_blockSamples);
  ++_opened;
  return 0;
}

void capturedevice::close() {
  ++_closed;
  stopmixer();
}

std::vector<int16_t> capturedevice::capture(int32_t frames) {
  std::vector<int16_t> out;
  mixer* m = getmixer();
  if (!m || frames <= 0) return out;
  out.resize(size_t(frames) * kOutputChannels);
  const int32_t total = frames * kOutputChannels;
  for (int32_t done = 0; done < total;) {
    int32_t count = total - done;
    if (count > m->Length()) count = m->Length();
    m->mix(out.data() + done, count);
    done += count;
  }
  return out;
}

}  // namespace vrl::aurimix
