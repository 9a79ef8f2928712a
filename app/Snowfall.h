// The snowfall: a pool of flakes that drift down with a sideways sway,
// settle where the settling grid marks a surface, paint themselves into the
// picture when they settle, and extend the grid so that later flakes settle
// on top of them. The pool starts empty and grows in random batches up to
// 20000 flakes; flakes are reset and reused, never freed.
//
// Every motion is a fixed step per frame, and the random draws come from the
// framework's generator in a fixed order, so a run is the same every time.
#pragma once

#include <cstdint>

#include "containers/List.h"
#include "lith2d/Image.h"
#include "pixmap/Pixmap.h"
#include "runtime/Array.h"

namespace vrl::card {

inline constexpr int32_t kMaxFlakes = 20000;

class snowflake : public Object {
  VRL_CLASS(snowflake, Object)
 public:
  /// Appends the new flake to the flakes list.
  snowflake();

  /// The flake's published fields; the snowfall functions below and the
  /// replay tool read and set them.
  float x = 0;
  float y = 0;      // negative while the flake waits above the display
  int32_t col = 0;  // grey level 224..255 it is painted with when it settles
  float dirx = 0;   // drift per frame, -1..1
  float diry = 0;   // fall speed per frame, 0.5..2
  float style = 0;  // sprite 0..3 of the flake sheet
  float sinus = 0;  // sway phase in degrees
};

/// The card's state that the snowfall works on.
struct Scene {
  Ref<TList> flakes;
  Ref<Array> grid;  // Int [W+1, H+1], indexed [x, y]; non-zero is a surface
  Ref<TPixmap> picture;
  Ref<TImage> snowimage;
  int32_t screenwidth = 0;
  int32_t screenheight = 0;
};

/// The scene the functions below act on (one per program).
Scene& TheScene();

void ResetFlake(snowflake* flake);
void AddFlake();
void AddFlakes(int32_t count);
/// Moves, settles, paints and draws every flake once, then spawns new ones.
/// Returns the number of flakes processed.
int32_t UpdateFlakes();
int32_t PackARGB(int32_t a, int32_t r, int32_t g, int32_t b);

void Init();

}  // namespace vrl::card
