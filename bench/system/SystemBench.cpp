// The cost of one key event on its whole road (SDL queue, translator, event
// object, emit chain with the event-queue and polled-input hooks) against
// the bare SDL queue round trip of the same events, measured in one run.
#include <cstdlib>

#include "bench/BenchUtil.h"
#include "input/PolledInput.h"
#include "platform/Messages.h"
#include "platform/testing/Injection.h"
#include "runtime/Runtime.h"
#include "system/EventQueue.h"
#include "system/SystemDriver.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

constexpr long kEvents = 20000;  // well inside SDL's queue of 65535

void Inject() {
  for (long i = 0; i < kEvents / 2; ++i) {
    platform::InjectKey(0, "A", true);
    platform::InjectKey(0, "A", false);
  }
}

void Ignore(const platform::Message&, void*) {}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  input::Init();
  StartPolledInput(nullptr);
  double full = FastestSeconds([] {
    Inject();
    PollSystemEvents();
    FlushEvents();
  });
  double bare = FastestSeconds([] {
    Inject();
    platform::PumpMessages(&Ignore, nullptr);
  });
  if (TakeKeyHits('A') == 0) return 1;
  Report("key event: SDL -> hooks -> polled input", full, "SDL push + pump only", bare, kEvents);
  return 0;
}
