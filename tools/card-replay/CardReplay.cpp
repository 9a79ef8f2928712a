// card-replay FRAMES OUTDIR: runs the card's start-up with its embedded
// assets on the recording 2D driver (no display, no audio), runs FRAMES
// frames of its loop body, and writes
//   OUTDIR/picture.png  the picture after the frames,
//   OUTDIR/flakes.txt   one line per flake: x y col dirx diry style sinus,
//   OUTDIR/draws.txt    one line per image-frame draw of the last frame:
//                       x0 y0 x1 y1 tx ty sx sy sw sh.
// Floats are printed with "%.9g".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Card.h"
#include "graphics/Graphics.h"
#include "lith2d/RecordingDriver.h"
#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

bool WriteFlakes(const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return false;
  for (card::snowflake* f : ListOf<card::snowflake>(card::TheScene().flakes)) {
    std::fprintf(out, "%.9g %.9g %d %.9g %.9g %.9g %.9g\n", f->x, f->y, f->col, f->dirx, f->diry, f->style,
                 f->sinus);
  }
  return std::fclose(out) == 0;
}

bool WriteDraws(const std::string& path, const std::vector<RecordedDraw>& draws) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return false;
  for (const RecordedDraw& d : draws) {
    std::fprintf(out, "%.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", d.x0, d.y0, d.x1, d.y1, d.tx,
                 d.ty, d.sx, d.sy, d.sw, d.sh);
  }
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[1]) < 0) {
    std::fprintf(stderr, "usage: card-replay FRAMES OUTDIR\n");
    return 2;
  }
  int frames = std::atoi(argv[1]);
  std::string dir = argv[2];
  StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 0;
  RunGuarded([&] {
    card::InitModules();
    TRecordingLith2DDriver* driver = RecordingLith2DDriver();
    SelectGraphicsDriver(driver, 2);
    if (!card::Start({.music = false})) {
      std::fprintf(stderr, "card-replay: the recording display could not be opened\n");
      status = 1;
      return;
    }
    for (int i = 0; i < frames; ++i) {
      driver->Clear();
      card::Frame();
    }
    bool ok = SavePixmapPNG(card::TheScene().picture, String::FromUtf8(dir + "/picture.png"), 6) == 1;
    ok = WriteFlakes(dir + "/flakes.txt") && ok;
    ok = WriteDraws(dir + "/draws.txt", driver->Draws()) && ok;
    if (!ok) {
      std::fprintf(stderr, "card-replay: could not write into %s\n", dir.c_str());
      status = 1;
    }
  });
  return status;
}
