// The one owner of SDL's lifetime. Every part of the framework that needs
// SDL (the system driver, graphics, audio, joysticks) acquires the
// subsystems it uses here and releases them when done; the counts are kept
// per subsystem, so SDL starts a subsystem on its first acquisition and
// stops it on its last release, and SDL itself is shut down when nothing
// holds any subsystem.
//
// Before SDL first starts, the signal handlers SDL would install are turned
// off (SDL_HINT_NO_SIGNAL_HANDLERS): Ctrl-C and SIGTERM end the process
// instead of becoming quit events.
//
// Thread-safe, but SDL wants video and events started and pumped on the main
// thread: acquire kSdlVideo and kSdlEvents there.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

/// Subsystem bits; the values are SDL's own SDL_INIT_* flags.
inline constexpr uint32_t kSdlTimer = 0x00000001u;
inline constexpr uint32_t kSdlAudio = 0x00000010u;
inline constexpr uint32_t kSdlVideo = 0x00000020u;  // implies events inside SDL
inline constexpr uint32_t kSdlJoystick = 0x00000200u;
inline constexpr uint32_t kSdlGameController = 0x00002000u;
inline constexpr uint32_t kSdlEvents = 0x00004000u;

/// Starts every subsystem of `subsystems` that is not running yet and counts
/// one reference to each. On failure nothing stays acquired (subsystems
/// started by this call are stopped again), the reason is kept for
/// SdlLastError(), and the result is false.
bool AcquireSdl(uint32_t subsystems);
/// Drops one reference to each subsystem of `subsystems`; a subsystem whose
/// count reaches 0 is stopped. Releasing more than was acquired is ignored.
void ReleaseSdl(uint32_t subsystems);
/// Drops one reference like ReleaseSdl, but a subsystem whose count reaches
/// 0 stays started until SDL itself stops (nothing holds any subsystem) or
/// until it is next acquired, which stops and starts it afresh (so hints
/// set since then apply). SDL's audio subsystem stops by joining the thread
/// that watches for devices, which sleeps a tenth of a second at a time: a
/// program whose audio device failed to open would wait for that while it
/// starts its display.
void ReleaseSdlDeferringStop(uint32_t subsystems);
/// The current reference count of one subsystem bit.
int SdlReferenceCount(uint32_t subsystem);
/// True while the subsystem is running (acquired by anyone).
bool SdlRunning(uint32_t subsystem);
/// The reason of the latest failed AcquireSdl on any thread (SDL's error text).
std::string SdlLastError();
/// Why no window could be had, for a message to the user: while the video
/// subsystem is not running, the reason it could not start ("No available
/// video device" where there is no display: SDL's offscreen and dummy
/// drivers are used only when SDL_VIDEODRIVER names them); while it runs,
/// SDL's latest error on the calling thread.
std::string SdlVideoError();

/// Holds subsystems for a scope.
class SdlSubsystems {
 public:
  explicit SdlSubsystems(uint32_t subsystems) : _subsystems(subsystems), _ok(AcquireSdl(subsystems)) {}
  ~SdlSubsystems() {
    if (_ok) ReleaseSdl(_subsystems);
  }
  SdlSubsystems(const SdlSubsystems&) = delete;
  SdlSubsystems& operator=(const SdlSubsystems&) = delete;
  bool Ok() const { return _ok; }

 private:
  uint32_t _subsystems;
  bool _ok;
};

}  // namespace vrl::platform
