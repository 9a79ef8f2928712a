// The card's costs, each against a baseline measured in the same run:
// - UpdateFlakes at 20000 flakes against a flat-array loop doing the same
//   arithmetic, random draws, settling writes and sprite records;
// - a whole card frame at 20000 flakes on OpenGL (needs a display: run under
//   xvfb-run) against raw SDL2 + OpenGL issuing the same GL work, the two
//   running in turns;
// - the time from start to the first frame, and the peak resident memory.
#include <GL/gl.h>
#include <SDL.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/Card.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "bench/BenchUtil.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "lith2d/Lith2D.h"
#include "lith2d/RecordingDriver.h"
#include "maths/Maths.h"
#include "maths/Random.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

using Clock = std::chrono::steady_clock;

// UpdateFlakes over plain structs: the same arithmetic, random draws,
// settling (the grid's cells and the picture's pixels written) and one
// sprite record a visible flake, without the list of objects, the array and
// pixmap objects or the 2D layer.
struct FlatFlake {
  float x, y;
  int32_t col;
  float dirx, diry, style, sinus;
};

struct FlatSprite {
  float x0, y0, x1, y1, tx, ty, sx, sy, sw, sh;
  int32_t frame;
};

struct FlatScene {
  std::vector<FlatFlake> flakes;
  std::vector<int32_t> grid;      // [x * 769 + y], as the card's
  std::vector<uint32_t> picture;  // 1024 x 768
  std::vector<FlatSprite> sprites;
};

void FlatReset(FlatFlake& f) {
  double r[7];
  RandomDoubles(r, 7);
  f.x = float(RealFromDouble(r[0], 0, 1023));
  f.y = float(RealFromDouble(r[1], -768, -1));
  f.col = IntFromDouble(r[2], 224, 255);
  f.dirx = float(RealFromDouble(r[3], -1, 1));
  f.diry = float(RealFromDouble(r[4], 0.5, 2));
  f.style = float(IntFromDouble(r[5], 0, 3));
  f.sinus = float(RealFromDouble(r[6], 360, 0));
}

int FlatFrame(FlatScene& scene) {
  constexpr int32_t W = 1024, H = 768;
  int32_t* grid = scene.grid.data();
  uint32_t* picture = scene.picture.data();
  scene.sprites.clear();
  for (FlatFlake& f : scene.flakes) {
    f.sinus = float(f.sinus + RandomReal(3, 0));  // a step in [0, 3) is its own remainder modulo 360
    f.x = float(double(f.x + f.dirx) + Sin(f.sinus) * 0.5);
    f.y = f.y + f.diry;
    if (f.y > H - 1) FlatReset(f);
    if (f.y < 0) FlatReset(f);
    int32_t tx = 0, ty = 0;
    if (f.y >= 0 && f.x >= 0 && f.x < W && f.y < H) {
      int32_t m = RandomInt(-1, 1);
      tx = int32_t(f.x), ty = int32_t(f.y);
      if (tx < m) tx = W - m + tx;
      if (tx > W - m) tx = tx - (W - m - 1);
      tx = std::clamp(tx, 1, W - 2), ty = std::clamp(ty, 1, H - 2);
      if (grid[tx * (H + 1) + ty] && RandomReal(1, 0) > double(0.8f)) {
        FlatReset(f);
        if (ty - 1 > 0) grid[tx * (H + 1) + ty - 1] = 1;
        if (tx - 1 > 0) grid[(tx - 1) * (H + 1) + ty] = 1;
        if (tx + 1 < W - 1) grid[(tx + 1) * (H + 1) + ty] = 1;
        const uint32_t c = uint32_t(f.col) * 0x01010101u;
        picture[ty * W + tx] = c;
        if (RandomReal(1, 0) > 0.75) picture[ty * W + tx - 1] = picture[(ty + 1) * W + tx] = c;
        if (RandomReal(1, 0) > 0.75) picture[ty * W + tx + 1] = picture[(ty - 1) * W + tx] = c;
      }
    }
    if (1 < f.y && f.y < H - 2 && 1 < f.x && f.x < W - 2) {
      scene.sprites.push_back({-0.0f, -0.0f, 3, 3, float(tx - 1), float(ty - 1), f.style * 3, 0, 3, 3, 0});
    }
  }
  return int(scene.sprites.size());
}

// The fastest of a few runs in wall-clock time (the figure the targets are
// set in) and in the thread's processor time, which a loaded machine
// disturbs less.
struct Times {
  double wall = 1e30, cpu = 1e30;
};

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <class Body>
Times FastestTimes(Body&& body, int runs) {
  Times best;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    double cpuStart = ThreadSeconds();
    body();
    best.cpu = std::min(best.cpu, ThreadSeconds() - cpuStart);
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void UpdateFlakesCost() {
  card::InitModules();
  SelectGraphicsDriver(RecordingLith2DDriver(), 2);
  card::Start({.music = false});
  card::AddFlakes(card::kMaxFlakes);
  TRecordingLith2DDriver* driver = RecordingLith2DDriver();
  FlatScene flat;
  flat.flakes.resize(card::kMaxFlakes);
  for (FlatFlake& f : flat.flakes) FlatReset(f);
  const int32_t* grid = card::TheScene().grid->DataAs<int32_t>();
  flat.grid.assign(grid, grid + 1025 * 769);
  flat.picture.assign(1024 * 768, 0xff000000u);
  // The two in turns, so that a change in the machine's load falls on both,
  // and each first in every other round (card, flat, flat, card, ...), so
  // that a disturbance coming and going with the rounds does not fall on
  // one of them only.
  const int frames = 30;
  Times framework, baseline;
  auto runCard = [&] {
    Times t = FastestTimes(
        [&] {
          for (int i = 0; i < frames; ++i) {
            driver->Clear();
            card::UpdateFlakes();
          }
        },
        1);
    framework = {std::min(framework.wall, t.wall), std::min(framework.cpu, t.cpu)};
  };
  auto runFlat = [&] {
    Times t = FastestTimes(
        [&] {
          for (int i = 0; i < frames; ++i) Keep(FlatFrame(flat));
        },
        1);
    baseline = {std::min(baseline.wall, t.wall), std::min(baseline.cpu, t.cpu)};
  };
  for (int round = 0; round < 6; ++round) {
    if (round % 2 == 0) {
      runCard();
      runFlat();
    } else {
      runFlat();
      runCard();
    }
  }
  const long flakes = long(frames) * card::kMaxFlakes;
  Report("UpdateFlakes, 20000 flakes (per flake)", framework.wall, "flat-array loop", baseline.wall, flakes);
  Report("  the same in processor time", framework.cpu, "flat-array loop", baseline.cpu, flakes);
  ShutdownGraphics();
}

// The raw programs' window (1024 x 768, double-buffered OpenGL) and their
// set-up: a pixel projection, and a texture made from `pixels`.
SDL_Window* RawWindow() {
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  return SDL_CreateWindow("raw", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768,
                          SDL_WINDOW_OPENGL);
}

void RawProjection() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 1024, 768, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

GLuint RawTexture(int width, int height, GLint filter, const uint8_t* pixels) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  return texture;
}

// Raw SDL2 + OpenGL: the same GL work as one card frame, in a window and
// context of its own that live beside the card's, so that the two can run
// in turns.
class RawProgram {
 public:
  RawProgram(const std::vector<float>& quads, const std::vector<uint8_t>& picture,
             const std::vector<uint8_t>& sheet)
      : _quads(quads), _picture(picture) {
    _window = RawWindow();
    if (!_window) return;
    _context = SDL_GL_CreateContext(_window);
    if (!_context) return;
    SDL_GL_SetSwapInterval(0);
    RawProjection();
    RawTexture(16, 4, GL_LINEAR, sheet.data());
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  ~RawProgram() {
    if (_context) SDL_GL_DeleteContext(_context);
    if (_window) SDL_DestroyWindow(_window);
  }
  RawProgram(const RawProgram&) = delete;
  RawProgram& operator=(const RawProgram&) = delete;

  bool IsOpen() const { return _context != nullptr; }

  /// Makes its context current and draws `frames` frames.
  void Frames(int frames) {
    SDL_GL_MakeCurrent(_window, _context);
    for (int i = 0; i < frames; ++i) {
      glClear(GL_COLOR_BUFFER_BIT);
      glDisable(GL_TEXTURE_2D);
      glDisable(GL_BLEND);
      glPixelZoom(1, -1);
      glRasterPos2i(0, 0);
      glDrawPixels(1024, 768, GL_RGB, GL_UNSIGNED_BYTE, _picture.data());
      glPixelZoom(1, 1);
      glEnable(GL_BLEND);
      glEnable(GL_TEXTURE_2D);
      glEnableClientState(GL_VERTEX_ARRAY);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glVertexPointer(2, GL_FLOAT, 16, _quads.data());
      glTexCoordPointer(2, GL_FLOAT, 16, _quads.data() + 2);
      glDrawArrays(GL_QUADS, 0, GLsizei(_quads.size() / 4));
      glDisableClientState(GL_VERTEX_ARRAY);
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
      SDL_GL_SwapWindow(_window);
    }
    glFinish();
  }

 private:
  const std::vector<float>& _quads;
  const std::vector<uint8_t>& _picture;
  SDL_Window* _window = nullptr;
  SDL_GLContext _context = nullptr;
};

void FrameCost() {
  if (!std::getenv("DISPLAY")) {
    std::printf("card frame on OpenGL: skipped (no display; run under xvfb-run)\n");
    return;
  }
  SelectGraphicsDriver(OpenGL2DDriver(), 2);
  card::Start({.music = false});
  SDL_Window* cardWindow = SDL_GL_GetCurrentWindow();
  SDL_GLContext cardContext = SDL_GL_GetCurrentContext();
  card::Frame();
  // Every flake visible: the worst case for drawing.
  card::AddFlakes(card::kMaxFlakes);
  for (auto* f : ListOf<card::snowflake>(card::TheScene().flakes)) {
    f->y = float(RandomReal(2, 760));
    f->diry = 0;
  }
  const int frames = 20;
  TGLLith2DDriver* gl = OpenGL2DDriver();
  // Past the burst of settling when every flake comes into view at once.
  for (int i = 0; i < 2 * frames; ++i) card::Frame();

  // The drawing alone: the same calls the card makes, without the simulation.
  std::vector<std::array<float, 3>> sprites(card::kMaxFlakes);
  for (auto& sprite : sprites) {
    sprite = {float(RandomReal(2, 1020)), float(RandomReal(2, 760)), float(RandomInt(0, 3))};
  }
  std::vector<float> quads;
  for (int i = 0; i < card::kMaxFlakes; ++i) {
    float x = float(RandomReal(2, 1020)), y = float(RandomReal(2, 760)), u = float(RandomInt(0, 3)) * 0.1875f;
    const float corners[8] = {x, y, x + 3, y, x + 3, y + 3, x, y + 3};
    const float uv[8] = {u, 0, u + 0.1875f, 0, u + 0.1875f, 0.75f, u, 0.75f};
    for (int k = 0; k < 4; ++k)
      quads.insert(quads.end(), {corners[2 * k], corners[2 * k + 1], uv[2 * k], uv[2 * k + 1]});
  }
  std::vector<uint8_t> picture(1024 * 768 * 3, 128), sheet(16 * 4 * 4, 255);
  // Closed before the card's display, which ends SDL's video.
  auto raw = std::make_unique<RawProgram>(quads, picture, sheet);
  if (!raw->IsOpen()) {
    std::printf("card frame on OpenGL: the raw program's window did not open\n");
    raw.reset();
    ShutdownGraphics();
    return;
  }

  // The four kinds of frame in turns, each round running every kind once,
  // so that a change in the machine's load falls on all of them alike; each
  // keeps its fastest run.
  card::Scene& scene = card::TheScene();
  auto cardFrames = [&] {
    SDL_GL_MakeCurrent(cardWindow, cardContext);
    for (int i = 0; i < frames; ++i) card::Frame();
  };
  double framework = 1e30, fromMemory = 1e30, drawing = 1e30, baseline = 1e30;
  GLFrameCounters counters{}, memoryCounters{};
  for (int round = 0; round < 5; ++round) {
    framework = std::min(framework, FastestSeconds(cardFrames, 1));
    counters = gl->LastFrameCounters();
    // The picture sent whole every frame (glDrawPixels), as before pixmaps
    // kept textures.
    gl->UsePixmapTextures(false);
    fromMemory = std::min(fromMemory, FastestSeconds(cardFrames, 1));
    memoryCounters = gl->LastFrameCounters();
    gl->UsePixmapTextures(true);
    drawing = std::min(drawing, FastestSeconds(
                                    [&] {
                                      SDL_GL_MakeCurrent(cardWindow, cardContext);
                                      for (int i = 0; i < frames; ++i) {
                                        Cls();
                                        DrawPixmap(scene.picture, 0, 0);
                                        for (const auto& sprite : sprites) {
                                          DrawImageArea(scene.snowimage, sprite[0], sprite[1], 3, 3,
                                                        sprite[2] * 3, 0, 3, 3, 0, 0, 0);
                                        }
                                        Flip(0);
                                      }
                                    },
                                    1));
    baseline = std::min(baseline, FastestSeconds([&] { raw->Frames(frames); }, 1));
  }
  std::printf(
      "drawing of a card frame (Cls, picture, 20000 sprites, Flip): %.1f fps   raw SDL2 + OpenGL: %.1f fps "
      "  ratio %.2f\n",
      frames / drawing, frames / baseline, drawing / baseline);
  std::printf("whole card frame, 20000 visible flakes: %.1f fps   raw SDL2 + OpenGL: %.1f fps   ratio %.2f\n",
              frames / framework, frames / baseline, framework / baseline);
  std::printf(
      "whole card frame, picture sent whole (glDrawPixels): %.1f fps   raw SDL2 + OpenGL: %.1f fps   "
      "ratio %.2f\n",
      frames / fromMemory, frames / baseline, fromMemory / baseline);
  auto print = [](const char* name, const GLFrameCounters& c) {
    std::printf(
        "GL work of one card frame, %s: %lld draw calls, %lld uploads, %lld bytes, %lld state changes\n",
        name, static_cast<long long>(c.drawCalls), static_cast<long long>(c.uploads),
        static_cast<long long>(c.uploadBytes), static_cast<long long>(c.stateChanges));
  };
  print("picture through its texture", counters);
  print("picture sent whole", memoryCounters);
  raw.reset();
  SDL_GL_MakeCurrent(cardWindow, cardContext);
  ShutdownGraphics();
}

// From the entry of main to the end of the first frame, as the card starts:
// the modules, the display, the pictures, the music decoded whole and
// started, one frame. Each start is a process of its own (this program run
// with "--first-frame"), so that nothing is warm from an earlier one; the
// baseline is the same start with the music decoded straight through on one
// thread, the two alternating. Each start also reports its processor time,
// all threads' and the main thread's: on a machine busy with other work the
// wall clock shows little of the decoding threads, while the work they add
// and the work they take off the main thread show there.
int FirstFrameChild(Clock::time_point start, bool straight) {
  if (straight) oggloader::SetDecodeThreads(1);
  card::InitModules();
  SelectGraphicsDriver(OpenGL2DDriver(), 2);
  if (!card::Start()) return 1;
  card::Frame();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double main = ThreadSeconds();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double all = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  std::printf("%.3f %.3f %.3f\n", wall * 1000, all * 1000, main * 1000);
  ShutdownGraphics();
  return 0;
}

// The floor under any start on this machine: a raw SDL2 program that opens
// the audio device and a 1024 x 768 OpenGL window, sends one picture-sized
// texture, draws it and presents, without the framework, the card's files
// or its music. With `fullScreen` it then takes the display at 1024 x 768 as
// the card does (the card opens with a depth, which asks for the display):
// on an X server without a window manager, as under Xvfb, SDL waits there
// about 100 ms for a manager to confirm the change.
int RawFirstFrameChild(Clock::time_point start, bool fullScreen) {
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) return 1;
  SDL_AudioSpec want{}, have{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  SDL_AudioDeviceID audio = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  SDL_Window* window = RawWindow();
  if (!window) return 1;
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (fullScreen) {
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 1;
    mode.w = 1024;
    mode.h = 768;
    if (SDL_SetWindowDisplayMode(window, &mode) != 0 ||
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
      return 1;
  }
  std::vector<uint8_t> picture(std::size_t(1024) * 768 * 4, 0x80);
  RawProjection();
  RawTexture(1024, 768, GL_NEAREST, picture.data());
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(0, 0);
  glTexCoord2f(1, 0);
  glVertex2f(1024, 0);
  glTexCoord2f(1, 1);
  glVertex2f(1024, 768);
  glTexCoord2f(0, 1);
  glVertex2f(0, 768);
  glEnd();
  SDL_GL_SwapWindow(window);
  glFinish();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double main = ThreadSeconds();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double all = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  std::printf("%.3f %.3f %.3f\n", wall * 1000, all * 1000, main * 1000);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  if (audio) SDL_CloseAudioDevice(audio);
  SDL_Quit();
  return 0;
}

struct StartTimes {
  double wall = 1e30, all = 1e30, main = 1e30;  // ms
};

// One start in a process of its own: "" the card, "straight" the card with
// the music decoded on one thread, "raw" the raw SDL2 program in a window,
// "raw-full" the same taking the display.
bool FirstFrame(const char* kind, StartTimes& best) {
  // popen's shell would read /proc/self as itself: name this program.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = 0;
  std::string command = "'" + std::string(self) + "' --first-frame " + kind;
  FILE* child = popen(command.c_str(), "r");
  if (!child) return false;
  StartTimes t;
  const bool read = std::fscanf(child, "%lf %lf %lf", &t.wall, &t.all, &t.main) == 3;
  if (pclose(child) != 0 || !read) return false;
  best.wall = std::min(best.wall, t.wall);
  best.all = std::min(best.all, t.all);
  best.main = std::min(best.main, t.main);
  return true;
}

void StartToFirstFrame() {
  if (!std::getenv("DISPLAY")) {
    std::printf("start to first frame: skipped (no display; run under xvfb-run)\n");
    return;
  }
  StartTimes best, baseline, raw, rawFull;
  for (int round = 0; round < 5; ++round) {
    if (!FirstFrame("", best) || !FirstFrame("straight", baseline) || !FirstFrame("raw", raw) ||
        !FirstFrame("raw-full", rawFull)) {
      std::printf("start to first frame: the card did not start\n");
      return;
    }
  }
  std::printf(
      "start to first frame: %.0f ms   music decoded on one thread: %.0f ms   ratio %.2f (%d decoding "
      "threads)\n",
      best.wall, baseline.wall, best.wall / baseline.wall, int(oggloader::DecodeThreads()));
  std::printf(
      "  against a raw SDL2 + OpenGL start (audio, window, one picture, present): %.0f ms   ratio %.2f\n",
      raw.wall, best.wall / raw.wall);
  std::printf("  against the same raw start taking the display as the card does: %.0f ms   ratio %.2f\n",
              rawFull.wall, best.wall / rawFull.wall);
  std::printf("  the card's own part, above that raw start: %.0f ms\n", best.wall - rawFull.wall);
  std::printf("  processor time, all threads: %.0f ms   one thread: %.0f ms   raw: %.0f ms\n", best.all,
              baseline.all, rawFull.all);
  std::printf("  processor time, main thread: %.0f ms   one thread: %.0f ms   raw: %.0f ms\n", best.main,
              baseline.main, rawFull.main);
}

}  // namespace

int main(int argc, char** argv) {
  auto start = Clock::now();
  StartRuntime(__builtin_frame_address(0), argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "--first-frame") == 0) {
    int status = 1;
    const bool full = argc > 2 && std::strcmp(argv[2], "raw-full") == 0;
    const bool raw = full || (argc > 2 && std::strcmp(argv[2], "raw") == 0);
    const bool straight = argc > 2 && std::strcmp(argv[2], "straight") == 0;
    RunGuarded([&] { status = raw ? RawFirstFrameChild(start, full) : FirstFrameChild(start, straight); });
    return status;
  }
  RunGuarded([&] {
    card::InitModules();
    UpdateFlakesCost();
    FrameCost();
    StartToFirstFrame();
  });
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
