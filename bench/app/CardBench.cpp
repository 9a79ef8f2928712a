// The card's costs, each against a baseline measured in the same run:
// - UpdateFlakes at 20000 flakes against a flat-array loop doing the same
//   arithmetic and random draws;
// - a whole card frame at 20000 flakes on OpenGL (needs a display: run under
//   xvfb-run) against raw SDL2 + OpenGL issuing the same GL work;
// - the time from start to the first frame, and the peak resident memory.
#include <GL/gl.h>
#include <SDL.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Card.h"
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

// The same motion as UpdateFlakes over plain structs, without the list, the
// grid lookups through the array object or drawing.
struct FlatFlake {
  float x, y;
  int32_t col;
  float dirx, diry, style, sinus;
};

void FlatReset(FlatFlake& f) {
  f.x = float(RandomReal(0, 1023));
  f.y = float(RandomReal(-768, -1));
  f.col = RandomInt(224, 255);
  f.dirx = float(RandomReal(-1, 1));
  f.diry = float(RandomReal(0.5, 2));
  f.style = float(RandomInt(0, 3));
  f.sinus = float(RandomReal(360, 0));
}

int FlatFrame(std::vector<FlatFlake>& flakes, const std::vector<int32_t>& grid) {
  int drawn = 0;
  for (FlatFlake& f : flakes) {
    f.sinus = float(f.sinus + std::fmod(RandomReal(3, 0), 360.0));
    f.x = float(double(f.x + f.dirx) + Sin(f.sinus) * 0.5);
    f.y = f.y + f.diry;
    if (f.y > 767) FlatReset(f);
    if (f.y < 0) FlatReset(f);
    if (f.y >= 0 && f.x >= 0 && f.x < 1024 && f.y < 768) {
      int32_t tx = std::clamp(int32_t(f.x), 1, 1022), ty = std::clamp(int32_t(f.y), 1, 766);
      RandomInt(-1, 1);
      if (grid[tx * 769 + ty] && RandomReal(1, 0) > 0.8f) FlatReset(f);
    }
    drawn += f.y > 1;
  }
  return drawn;
}

void UpdateFlakesCost() {
  card::InitModules();
  SelectGraphicsDriver(RecordingLith2DDriver(), 2);
  card::Start({.music = false});
  card::AddFlakes(card::kMaxFlakes);
  TRecordingLith2DDriver* driver = RecordingLith2DDriver();
  const int frames = 50;
  double framework = FastestSeconds(
      [&] {
        for (int i = 0; i < frames; ++i) {
          driver->Clear();
          card::UpdateFlakes();
        }
      },
      3);
  std::vector<FlatFlake> flat(card::kMaxFlakes);
  for (FlatFlake& f : flat) FlatReset(f);
  std::vector<int32_t> grid(1025 * 769);
  const int32_t* real = card::TheScene().grid->DataAs<int32_t>();
  grid.assign(real, real + grid.size());
  double baseline = FastestSeconds(
      [&] {
        for (int i = 0; i < frames; ++i) Keep(FlatFrame(flat, grid));
      },
      3);
  Report("UpdateFlakes, 20000 flakes (per flake)", framework, "flat-array loop", baseline,
         long(frames) * card::kMaxFlakes);
  ShutdownGraphics();
}

// Raw SDL2 + OpenGL: the same GL work as one card frame.
double RawFrames(int frames, const std::vector<float>& quads, const std::vector<uint8_t>& picture,
                 const std::vector<uint8_t>& sheet) {
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_Window* window =
      SDL_CreateWindow("raw", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768, SDL_WINDOW_OPENGL);
  if (!window) return -1;
  SDL_GLContext context = SDL_GL_CreateContext(window);
  SDL_GL_SetSwapInterval(0);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 1024, 768, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  GLuint texture;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, sheet.data());
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  double seconds = FastestSeconds(
      [&] {
        for (int i = 0; i < frames; ++i) {
          glClear(GL_COLOR_BUFFER_BIT);
          glDisable(GL_TEXTURE_2D);
          glDisable(GL_BLEND);
          glPixelZoom(1, -1);
          glRasterPos2i(0, 0);
          glDrawPixels(1024, 768, GL_RGB, GL_UNSIGNED_BYTE, picture.data());
          glPixelZoom(1, 1);
          glEnable(GL_BLEND);
          glEnable(GL_TEXTURE_2D);
          glEnableClientState(GL_VERTEX_ARRAY);
          glEnableClientState(GL_TEXTURE_COORD_ARRAY);
          glVertexPointer(2, GL_FLOAT, 16, quads.data());
          glTexCoordPointer(2, GL_FLOAT, 16, quads.data() + 2);
          glDrawArrays(GL_QUADS, 0, GLsizei(quads.size() / 4));
          glDisableClientState(GL_VERTEX_ARRAY);
          glDisableClientState(GL_TEXTURE_COORD_ARRAY);
          SDL_GL_SwapWindow(window);
        }
        glFinish();
      },
      3);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  return seconds;
}

void FrameCost(double startupSeconds) {
  if (!std::getenv("DISPLAY")) {
    std::printf("card frame on OpenGL: skipped (no display; run under xvfb-run)\n");
    return;
  }
  auto start = Clock::now();
  SelectGraphicsDriver(OpenGL2DDriver(), 2);
  card::Start({.music = false});
  card::Frame();
  double toFirstFrame = startupSeconds + std::chrono::duration<double>(Clock::now() - start).count();
  // Every flake visible: the worst case for drawing.
  card::AddFlakes(card::kMaxFlakes);
  for (auto* f : ListOf<card::snowflake>(card::TheScene().flakes)) {
    f->y = float(RandomReal(2, 760));
    f->diry = 0;
  }
  const int frames = 20;
  double framework = FastestSeconds(
      [&] {
        for (int i = 0; i < frames; ++i) card::Frame();
      },
      3);
  // The drawing alone: the same calls the card makes, without the simulation.
  std::vector<std::array<float, 3>> sprites(card::kMaxFlakes);
  for (auto& sprite : sprites) {
    sprite = {float(RandomReal(2, 1020)), float(RandomReal(2, 760)), float(RandomInt(0, 3))};
  }
  card::Scene& scene = card::TheScene();
  double drawing = FastestSeconds(
      [&] {
        for (int i = 0; i < frames; ++i) {
          Cls();
          DrawPixmap(scene.picture, 0, 0);
          for (const auto& sprite : sprites) {
            DrawImageArea(scene.snowimage, sprite[0], sprite[1], 3, 3, sprite[2] * 3, 0, 3, 3, 0, 0, 0);
          }
          Flip(0);
        }
      },
      3);
  std::vector<float> quads;
  for (int i = 0; i < card::kMaxFlakes; ++i) {
    float x = float(RandomReal(2, 1020)), y = float(RandomReal(2, 760)), u = float(RandomInt(0, 3)) * 0.1875f;
    const float corners[8] = {x, y, x + 3, y, x + 3, y + 3, x, y + 3};
    const float uv[8] = {u, 0, u + 0.1875f, 0, u + 0.1875f, 0.75f, u, 0.75f};
    for (int k = 0; k < 4; ++k)
      quads.insert(quads.end(), {corners[2 * k], corners[2 * k + 1], uv[2 * k], uv[2 * k + 1]});
  }
  std::vector<uint8_t> picture(1024 * 768 * 3, 128), sheet(16 * 4 * 4, 255);
  ShutdownGraphics();
  double baseline = RawFrames(frames, quads, picture, sheet);
  if (baseline > 0) {
    std::printf(
        "drawing of a card frame (Cls, picture, 20000 sprites, Flip): %.1f fps   raw SDL2 + OpenGL: %.1f fps "
        "  ratio %.2f\n",
        frames / drawing, frames / baseline, drawing / baseline);
    std::printf(
        "whole card frame, 20000 visible flakes: %.1f fps   raw SDL2 + OpenGL: %.1f fps   ratio %.2f\n",
        frames / framework, frames / baseline, framework / baseline);
  }
  std::printf("start to first frame: %.0f ms\n", toFirstFrame * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  auto start = Clock::now();
  StartRuntime(__builtin_frame_address(0), argc, argv);
  RunGuarded([&] {
    card::InitModules();
    double startup = std::chrono::duration<double>(Clock::now() - start).count();
    UpdateFlakesCost();
    FrameCost(startup);
  });
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
