#include "platform/Sdl.h"

#include <SDL.h>

#include <cstring>
#include <mutex>

#include "platform/Messages.h"
#include "platform/TimerThread.h"

static_assert(vrl::platform::kSdlTimer == SDL_INIT_TIMER);
static_assert(vrl::platform::kSdlAudio == SDL_INIT_AUDIO);
static_assert(vrl::platform::kSdlVideo == SDL_INIT_VIDEO);
static_assert(vrl::platform::kSdlJoystick == SDL_INIT_JOYSTICK);
static_assert(vrl::platform::kSdlGameController == SDL_INIT_GAMECONTROLLER);
static_assert(vrl::platform::kSdlEvents == SDL_INIT_EVENTS);

namespace vrl::platform {

namespace {

constexpr uint32_t kKnown[] = {kSdlTimer, kSdlAudio, kSdlVideo, kSdlJoystick, kSdlGameController, kSdlEvents};
constexpr int kBits = 32;

struct State {
  std::mutex lock;
  int counts[kBits] = {};
  uint32_t deferred = 0;  // released to 0 but still started
  std::string lastError;
};

// Never destroyed: drivers may release SDL from end handlers.
State& S() {
  static State* state = new State;
  return *state;
}

int BitIndex(uint32_t bit) { return __builtin_ctz(bit); }

bool AnyHeld(const State& s) {
  for (int c : s.counts)
    if (c > 0) return true;
  return false;
}

// Without a display SDL falls back to its offscreen driver, which gives
// windows and GL contexts that nobody can see: a program would run
// invisibly. Those drivers count only when asked for by name
// (SDL_VIDEODRIVER), as tests and headless tools do.
bool OnlyAPretendDisplay() {
  const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  if (asked && *asked) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

// Stops SDL, the subsystems whose stop was deferred with it.
void QuitAll(State& s) {
  s.deferred = 0;
  SDL_Quit();
}

}  // namespace

bool AcquireSdl(uint32_t subsystems) {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  // SDL_Quit clears the hints: set them again before every fresh start.
  if (!AnyHeld(s)) SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  uint32_t started = 0;
  for (uint32_t bit : kKnown) {
    if (!(subsystems & bit) || s.counts[BitIndex(bit)] > 0) continue;
    if (s.deferred & bit) {
      s.deferred &= ~bit;
      SDL_QuitSubSystem(bit);
    }
    bool ok = SDL_InitSubSystem(bit) == 0;
    if (ok) started |= bit;
    if (ok && bit == kSdlVideo && OnlyAPretendDisplay()) {
      ok = false;
      SDL_SetError("No available video device");
    }
    if (!ok) {
      s.lastError = SDL_GetError();
      if (started) SDL_QuitSubSystem(started);
      if (!AnyHeld(s)) QuitAll(s);
      return false;
    }
  }
  for (uint32_t bit : kKnown)
    if (subsystems & bit) ++s.counts[BitIndex(bit)];
  if (started & (kSdlEvents | kSdlVideo)) HoldTimerPosts(false);
  return true;
}

namespace {

// Drops the references; the subsystems that reach 0 are stopped, or with
// `defer` left started for later.
void Release(uint32_t subsystems, bool defer) {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  uint32_t stopping = 0;
  for (uint32_t bit : kKnown) {
    int& count = s.counts[BitIndex(bit)];
    if (!(subsystems & bit) || count == 0) continue;
    if (--count == 0) stopping |= bit;
  }
  if (!stopping) return;
  // The timer thread must not post into a queue that is going away, and
  // callback records still queued would be lost with it.
  if ((stopping & (kSdlEvents | kSdlVideo)) && s.counts[BitIndex(kSdlEvents)] == 0 &&
      s.counts[BitIndex(kSdlVideo)] == 0) {
    HoldTimerPosts(true);
    DiscardPendingCallbacks();
  }
  if (!AnyHeld(s)) {
    QuitAll(s);
  } else if (defer) {
    s.deferred |= stopping;
  } else {
    SDL_QuitSubSystem(stopping);
  }
}

}  // namespace

void ReleaseSdl(uint32_t subsystems) { Release(subsystems, false); }
void ReleaseSdlDeferringStop(uint32_t subsystems) { Release(subsystems, true); }

int SdlReferenceCount(uint32_t subsystem) {
  if (!subsystem) return 0;
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.counts[BitIndex(subsystem)];
}

bool SdlRunning(uint32_t subsystem) { return SdlReferenceCount(subsystem) > 0; }

std::string SdlLastError() {
  State& s = S();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.lastError;
}

std::string SdlVideoError() {
  if (!SdlRunning(kSdlVideo)) return SdlLastError();
  const char* text = SDL_GetError();
  return text ? text : "";
}

}  // namespace vrl::platform
