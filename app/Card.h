// The card: its start-up and the body of its frame loop, shared by the
// program (app/Main.cpp) and the replay tool, which runs the same code on
// the recording driver.
#pragma once

#include <cstdint>

#include "app/Snowfall.h"
#include "audio/AudioDriver.h"

namespace vrl::card {

/// The four assets, registered under these names before anything else runs.
inline constexpr const char16_t* kPictureUrl = u"incbin::image.jpg";
inline constexpr const char16_t* kMatteUrl = u"incbin::matte.png";
inline constexpr const char16_t* kSnowUrl = u"incbin::snow.png";
inline constexpr const char16_t* kMusicUrl = u"incbin::Palewind-Silent night (piano).ogg";

/// Registers the embedded assets and initialises every module the card uses,
/// in the card's order (the graphics modules last, so that the OpenGL 2D
/// driver is the one in force).
void InitModules();

/// Start-up after the modules: the flakes list, the display, the grid from
/// the matte, the sprites, the looping music, and alpha blending. False, with
/// nothing else done, when the display cannot be opened: the card would
/// otherwise run invisibly on a 0 x 0 screen. The program itself takes no
/// options; tests use them to run the card without music or on an audio
/// driver chosen by name (false, with nothing else done, when that driver
/// does not start).
struct StartOptions {
  bool music = true;
  const char16_t* audioDriver = nullptr;
};
bool Start(const StartOptions& options = {});

/// Sets the grid from the matte: a cell is a surface when the matte's red
/// component there is above 192. The spare column and row stay 0.
void BuildGrid(TPixmap* matte);

/// One frame: clear, draw the picture, move and draw the flakes, flip.
void Frame();

/// The music started at start-up (Null when it could not be loaded).
TSound* Music();

}  // namespace vrl::card
