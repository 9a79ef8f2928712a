// The software 2D driver against a raw SDL2 program in the same run (needs
// a display: run under xvfb-run):
// - the whole card frame at 20000 visible flakes on the "Software" driver,
//   simulation included;
// - the drawing of such a frame alone (Cls, the picture, 20000 sprites,
//   Flip);
// - the raw baseline: an SDL2 program that copies the picture into the
//   window surface, alpha-blends 20000 3 x 3 sprites into it by hand and
//   presents the surface.
// Each figure is frames per second; the ratio is the driver's rate over the
// raw program's.
#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Card.h"
#include "bench/BenchUtil.h"
#include "graphics/Graphics.h"
#include "lith2d/Lith2D.h"
#include "maths/Random.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "swdriver/SoftLith2DDriver.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

struct Sprite {
  int32_t x, y, style;
};

// The raw program: a window surface, the picture as a surface of the
// window's format, and a 12 x 3 ARGB sheet of four sprites. Its surface is
// shown by the window system directly, as the driver's is.
class RawProgram {
 public:
  RawProgram(TPixmap* picture, TPixmap* sheet) {
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    _window = SDL_CreateWindow("raw", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768, 0);
    _screen = _window ? SDL_GetWindowSurface(_window) : nullptr;
    if (!_screen) return;
    SDL_Surface* loaded = SDL_CreateRGBSurfaceWithFormatFrom(picture->pixels, picture->width, picture->height,
                                                             24, picture->pitch, SDL_PIXELFORMAT_RGB24);
    _image = SDL_ConvertSurface(loaded, _screen->format, 0);
    SDL_FreeSurface(loaded);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 12; ++x)
        _sheet[std::size_t(y) * 12 + std::size_t(x)] = static_cast<uint32_t>(sheet->ReadPixel(x, y));
  }
  ~RawProgram() {
    if (_image) SDL_FreeSurface(_image);
    if (_window) SDL_DestroyWindow(_window);
  }
  RawProgram(const RawProgram&) = delete;
  RawProgram& operator=(const RawProgram&) = delete;

  bool Ok() const { return _image != nullptr; }

  void Frame(const std::vector<Sprite>& sprites) {
    SDL_BlitSurface(_image, nullptr, _screen, nullptr);
    auto* pixels = static_cast<uint8_t*>(_screen->pixels);
    for (const Sprite& s : sprites) {
      for (int32_t y = 0; y < 3; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(pixels + std::ptrdiff_t(s.y + y) * _screen->pitch) + s.x;
        const uint32_t* texels = &_sheet[std::size_t(y) * 12 + std::size_t(s.style) * 3];
        for (int32_t x = 0; x < 3; ++x) {
          uint32_t t = texels[x], d = row[x], a = t >> 24, ia = 255 - a;
          uint32_t r = ((t >> 16 & 255) * a + (d >> 16 & 255) * ia + 127) / 255;
          uint32_t g = ((t >> 8 & 255) * a + (d >> 8 & 255) * ia + 127) / 255;
          uint32_t b = ((t & 255) * a + (d & 255) * ia + 127) / 255;
          row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
      }
    }
    SDL_UpdateWindowSurface(_window);
  }

 private:
  SDL_Window* _window = nullptr;
  SDL_Surface* _screen = nullptr;
  SDL_Surface* _image = nullptr;
  std::array<uint32_t, 36> _sheet{};
};

void FrameCost() {
  if (!std::getenv("DISPLAY")) {
    std::printf("card frame on the software driver: skipped (no display; run under xvfb-run)\n");
    return;
  }
  SelectGraphicsDriver(Software2DDriver(), 2);
  if (!card::Start({.music = false})) {
    std::printf("card frame on the software driver: the display could not be opened\n");
    return;
  }
  card::Frame();
  // Every flake visible: the worst case for drawing.
  card::AddFlakes(card::kMaxFlakes);
  for (auto* f : ListOf<card::snowflake>(card::TheScene().flakes)) {
    f->y = float(RandomReal(2, 760));
    f->diry = 0;
  }
  std::vector<Sprite> sprites(card::kMaxFlakes);
  for (Sprite& s : sprites) s = {RandomInt(2, 1018), RandomInt(2, 762), RandomInt(0, 3)};
  card::Scene& scene = card::TheScene();
  Ref<TPixmap> sheet = scene.snowimage->Lock(0, 1, 0);
  RawProgram raw(scene.picture, sheet);
  if (!raw.Ok()) {
    std::printf("raw SDL2 baseline: no window surface\n");
    return;
  }
  // The three are measured in turns, so that a busy machine slows each of
  // them alike; each keeps its fastest round.
  const int frames = 20, rounds = 7;
  double whole = 1e30, drawing = 1e30, baseline = 1e30;
  for (int round = 0; round < rounds; ++round) {
    whole = std::min(whole, FastestSeconds(
                                [&] {
                                  for (int i = 0; i < frames; ++i) card::Frame();
                                },
                                1));
    drawing = std::min(drawing, FastestSeconds(
                                    [&] {
                                      for (int i = 0; i < frames; ++i) {
                                        Cls();
                                        DrawPixmap(scene.picture, 0, 0);
                                        for (const Sprite& s : sprites) {
                                          DrawImageArea(scene.snowimage, float(s.x), float(s.y), 3, 3,
                                                        float(s.style * 3), 0, 3, 3, 0, 0, 0);
                                        }
                                        Flip(0);
                                      }
                                    },
                                    1));
    baseline = std::min(baseline, FastestSeconds(
                                      [&] {
                                        for (int i = 0; i < frames; ++i) raw.Frame(sprites);
                                      },
                                      1));
  }
  std::printf(
      "drawing of a card frame on Software (Cls, picture, 20000 sprites, Flip): %.1f fps   raw SDL2: %.1f "
      "fps   "
      "ratio %.2f\n",
      frames / drawing, frames / baseline, baseline / drawing);
  std::printf(
      "whole card frame on Software, 20000 visible flakes: %.1f fps   raw SDL2: %.1f fps   ratio %.2f\n",
      frames / whole, frames / baseline, baseline / whole);
  std::printf("of a whole card frame, the simulation (whole - drawing): %.2f ms, the drawing: %.2f ms\n",
              (whole - drawing) * 1000 / frames, drawing * 1000 / frames);
  ShutdownGraphics();
}

}  // namespace

int main(int argc, char** argv) {
  StartRuntime(__builtin_frame_address(0), argc, argv);
  RunGuarded([&] {
    card::InitModules();
    FrameCost();
  });
  return 0;
}
