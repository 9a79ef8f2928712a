// Images: the drawable form of one or more pixmaps of equal size. Each frame
// keeps the pixmap it was given and, on first draw, a driver frame made from
// it by the current 2D driver; the driver frame is rebuilt after a write lock
// or SetPixmap, and after the graphics were replaced (GraphicsGeneration()).
#pragma once

#include <cstdint>

#include "pixmap/Pixmap.h"
#include "runtime/Array.h"
#include "runtime/Object.h"

namespace vrl {

inline constexpr int32_t IMAGEFLAG_MASKED = 1;
inline constexpr int32_t IMAGEFLAG_FILTERED = 2;
inline constexpr int32_t IMAGEFLAG_MIPMAPPED = 4;
inline constexpr int32_t IMAGEFLAG_DYNAMIC = 8;

/// A driver's form of one image frame. It holds the driver that made it and
/// draws through that driver (lith2d/Lith2D.h states the contract).
class TImageFrame : public Object {
  VRL_CLASS(TImageFrame, Object)
 public:
  /// Draws the source rectangle (sx, sy, sw, sh), in pixels of the frame, onto
  /// the local rectangle (x0, y0)-(x1, y1), mapped with the driver's matrix
  /// and translated by (tx, ty).
  virtual void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
                    float sh);
};

class TImage : public Object {
  VRL_CLASS(TImage, Object)
 public:
  int32_t _pad() { return 0; }
  /// The driver frame, made or rebuilt when needed; Null when the driver
  /// could not make one.
  Ref<TImageFrame> Frame(int32_t index);
  /// The frame's pixmap (a new blank RGBA32 one if it has none); locking for
  /// writing makes the next draw rebuild the driver frame.
  Ref<TPixmap> Lock(int32_t index, int32_t read, int32_t write);
  /// Alpha-less pixmaps of a masked image are colour keyed with the mask
  /// colour.
  void SetPixmap(int32_t index, TPixmap* pixmap);

  static Ref<TImage> Create(int32_t width, int32_t height, int32_t frames, int32_t flags, int32_t maskRed,
                            int32_t maskGreen, int32_t maskBlue);
  /// `url` may be a pixmap itself. Null when no picture loader reads it.
  static Ref<TImage> Load(Object* url, int32_t flags, int32_t maskRed, int32_t maskGreen, int32_t maskBlue);
  /// Cells of cellWidth x cellHeight, left to right then top to bottom.
  static Ref<TImage> LoadAnim(Object* url, int32_t cellWidth, int32_t cellHeight, int32_t first,
                              int32_t count, int32_t flags, int32_t maskRed, int32_t maskGreen,
                              int32_t maskBlue);

  int32_t Width() const { return width; }
  int32_t Height() const { return height; }
  int32_t Flags() const { return flags; }
  int32_t FrameCount() const { return pixmaps->Length(); }
  /// The image handle: the point of the image placed at the drawing
  /// position.
  float HandleX() const { return handle_x; }
  float HandleY() const { return handle_y; }
  void SetHandle(float x, float y) {
    handle_x = x;
    handle_y = y;
  }
  /// The graphics generation the frame's driver frame was made in, 0 when it
  /// must be made again.
  int32_t FrameGeneration(int32_t index) const;

 private:
  void CheckIndex(int32_t index) const;

  int32_t width = 0, height = 0;
  int32_t flags = 0;
  int32_t mask_r = 0, mask_g = 0, mask_b = 0;
  float handle_x = 0, handle_y = 0;
  Ref<Array> pixmaps;  // of TPixmap
  Ref<Array> frames;   // of TImageFrame
  Ref<Array> seqs;     // of Int: the generation each frame was made in
};

/// Module functions (they use the mask colour, default flags and automatic
/// centring of lith2d/Lith2D.h).
Ref<TImage> LoadImageSource(Object* url, int32_t flags = -1);
Ref<TImage> LoadImageStrip(Object* url, int32_t cellWidth, int32_t cellHeight, int32_t first, int32_t count,
                           int32_t flags = -1);
Ref<TImage> NewImage(int32_t width, int32_t height, int32_t frames = 1, int32_t flags = -1);
void SetImageHandlePoint(TImage* image, float x, float y);
void CentreImageHandle(TImage* image);
int32_t ImageWidthOf(TImage* image);
int32_t ImageHeightOf(TImage* image);
Ref<TPixmap> LockImagePixmap(TImage* image, int32_t frame = 0, int32_t read = 1, int32_t write = 1);
void UnlockImagePixmap(TImage* image, int32_t frame = 0);
/// Copies the back buffer at (x, y) into the frame.
void GrabImageFrame(TImage* image, int32_t x, int32_t y, int32_t frame = 0);

}  // namespace vrl
