// card-soak SECONDS [INTERVAL [MUSIC]]: runs the card as the program does
// (its modules, start-up, display and music) for SECONDS seconds of wall
// time, or until Escape, and prints one CSV line every INTERVAL seconds (60
// by default):
//   seconds,frames,fps,rss_kib,flakes,heap_kib,objects_kib
// frames and fps count the frames of that interval; rss_kib is the resident
// memory at its end, heap_kib what malloc has handed out and not had back,
// objects_kib the part of it that is the framework's objects.
// scripts/soak.sh runs it in a virtual display with SDL's disk audio and
// checks what it printed and what was played, against the decoded music
// that the tool writes to the file MUSIC when given (signed 16-bit stereo,
// as SDL's disk audio captures it).
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/Card.h"
#include "audio/AudioSample.h"
#include "containers/List.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Startup.h"

namespace {

/// The resident set in KiB, from /proc/self/status (0 when unreadable).
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

/// Writes the card's music, decoded, as signed 16-bit stereo frames.
bool WriteMusic(const char* path) {
  vrl::Ref<vrl::TAudioSample> music = vrl::ReadAudioSample(vrl::String::FromUnits(vrl::card::kMusicUrl));
  if (music.IsNull()) return false;
  if (music->format != vrl::SAMPLE_STEREO16LE) music = music->Convert(vrl::SAMPLE_STEREO16LE);
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  std::size_t bytes = static_cast<std::size_t>(music->length) * 4;
  bool written = std::fwrite(music->samples, 1, bytes, out) == bytes;
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::strtod(argv[1], nullptr) : 0;
  double interval = argc > 2 ? std::strtod(argv[2], nullptr) : 60;
  if (seconds <= 0 || interval <= 0) {
    std::fprintf(stderr, "usage: card-soak SECONDS [INTERVAL]\n");
    return 2;
  }
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  int status = 0;
  vrl::RunGuarded([&] {
    using Clock = std::chrono::steady_clock;
    vrl::card::InitModules();
    if (argc > 3 && !WriteMusic(argv[3])) {
      std::fprintf(stderr, "card-soak: the music could not be written to %s\n", argv[3]);
      status = 1;
      return;
    }
    if (!vrl::card::Start()) {
      std::fprintf(stderr, "card-soak: the display could not be opened\n");
      status = 1;
      return;
    }
    std::printf("seconds,frames,fps,rss_kib,flakes,heap_kib,objects_kib\n");
    std::fflush(stdout);
    Clock::time_point start = Clock::now();
    Clock::time_point mark = start;
    long frames = 0;
    while (vrl::TakeKeyHits(27) == 0) {
      vrl::card::Frame();
      ++frames;
      Clock::time_point now = Clock::now();
      double span = std::chrono::duration<double>(now - mark).count();
      if (span < interval) continue;
      double elapsed = std::chrono::duration<double>(now - start).count();
      std::printf("%.0f,%ld,%.1f,%ld,%d,%zu,%zu\n", elapsed, frames, static_cast<double>(frames) / span,
                  ResidentKiB(), vrl::card::TheScene().flakes->Count(), mallinfo2().uordblks / 1024,
                  vrl::GCMemAlloced() / 1024);
      std::fflush(stdout);
      frames = 0;
      mark = now;
      if (elapsed >= seconds) break;
    }
    vrl::ShutdownGraphics();
  });
  vrl::End();
  return status;
}
