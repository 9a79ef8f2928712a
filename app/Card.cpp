#include "app/Card.h"

#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "audio/drivers/AudioDrivers.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "input/Joystick.h"
#include "input/PolledInput.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "maths/Random.h"
#include "os/ModulePaths.h"
#include "os/Process.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "system/SystemDriver.h"

#include "RegisterCardAssets.h"  // generated: the four assets

namespace vrl::card {

namespace {
Ref<TSound>& MusicRef() {
  static auto* music = new Ref<TSound>;
  return *music;
}
}  // namespace

void InitModules() {
  RegisterCardAssets();
  runtime::Init();
  stream::Init();
  ramstream::Init();
  pixmap::Init();
  pixmaploaders::Init();
  audio::Init();
  // The chain asks the loader registered last first: WAV, then Ogg.
  oggloader::Init();
  wavloader::Init();
  audiodrivers::Init();
  system::Init();
  input::Init();
  joystick::Init();
  process::Init();
  modulepaths::Init();
  glgraphics::Init();
  gl2d::Init();
  card::Init();
}

void BuildGrid(TPixmap* matte) {
  Scene& s = TheScene();
  int32_t* grid = s.grid->DataAs<int32_t>();
  const int32_t rows = s.screenheight + 1;
  for (int32_t y = 0; y < s.screenheight; ++y) {
    for (int32_t x = 0; x < s.screenwidth; ++x) {
      int32_t v = ReadPixel(matte, x, y);
      int32_t& cell = grid[x * rows + y];
      cell = 0;
      if ((v & 0xFF0000) / 65536 > 192) cell = 1;
    }
  }
}

bool Start(const StartOptions& options) {
  if (options.audioDriver != nullptr && UseAudioDriver(String::FromUnits(options.audioDriver)) == 0)
    return false;
  // The music's decode begins now on other threads and overlaps the display
  // and the pictures; its load below takes the samples (the same as its own
  // decode would give).
  if (options.music) oggloader::PrefetchAudioSample(String::FromUnits(kMusicUrl));
  Scene& s = TheScene();
  s.flakes = CreateList();
  if (OpenGraphics(1024, 768, 32, 60, 0).IsNull()) return false;
  s.screenwidth = CurrentGraphicsWidth();
  s.screenheight = CurrentGraphicsHeight();
  s.grid = Array::New("i", {s.screenwidth + 1, s.screenheight + 1});
  s.picture = LoadPixmap(String::FromUnits(kPictureUrl));
  Ref<TPixmap> matte = LoadPixmap(String::FromUnits(kMatteUrl));
  s.snowimage = LoadImageSource(String::FromUnits(kSnowUrl), -1);
  BuildGrid(matte);
  if (options.music) {
    MusicRef() = LoadSoundSource(String::FromUnits(kMusicUrl), SOUNDFLAG_LOOP);
    StartSound(MusicRef());
  }
  AddFlakes(0);
  SetBlend(BLEND_ALPHA);
  return true;
}

void Frame() {
  Scene& s = TheScene();
  Cls();
  DrawPixmap(s.picture, 0, 0);
  UpdateFlakes();
  Flip(0);
}

TSound* Music() { return MusicRef().get(); }

}  // namespace vrl::card
