// The recording 2D driver: the null back-end for programs and tools that run
// without a display (tools/card-replay, the benchmarks). It draws nothing.
// Its graphics objects have the size they were created with, it offers one
// mode (1024 x 768 x 32 at 60 Hz), GrabPixmap gives a transparent black
// pixmap, and it keeps the image-frame draws it is asked for, in order, until
// Clear, so that a tool can say what a frame drew.
//
// It is never chosen automatically: a program selects it on purpose
// (SelectGraphicsDriver(RecordingLith2DDriver(), flags)). Tests that need the
// rest of what the driver is told use the command log of
// lith2d/testing/LoggingDriver.h, which is built on this one.
#pragma once

#include <cstdint>
#include <vector>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"

namespace vrl {

class TRecordingLith2DDriver;

class TRecordingGraphics : public TGraphics {
  VRL_CLASS(TRecordingGraphics, TGraphics)
 public:
  Ref<TGraphicsDriver> Driver() override { return _driver; }
  void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags) override;
  void Close() override { _closed = true; }

 private:
  friend class TRecordingLith2DDriver;  // fills in the settings

  Ref<TGraphicsDriver> _driver;
  int32_t _width = 0, _height = 0, _depth = 0, _hertz = 0, _flags = 0;
  bool _closed = false;
};

/// One recorded image-frame draw: the arguments of TImageFrame::Draw.
struct RecordedDraw {
  float x0, y0, x1, y1, tx, ty, sx, sy, sw, sh;
  int32_t frame;  // which frame object (its creation number)
};

class TRecordingLith2DDriver : public TLith2DDriver {
  VRL_CLASS(TRecordingLith2DDriver, TLith2DDriver)
 public:
  Ref<Array> GraphicsModes() override;
  Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags) override;
  Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                int32_t flags) override;
  int32_t SetGraphics(TGraphics* graphics) override;
  int32_t Flip(int32_t sync) override;

  Ref<TImageFrame> CreateFrameFromPixmap(TPixmap* pixmap, int32_t flags) override;
  void SetBlend(int32_t blend) override;
  void SetAlpha(float alpha) override;
  void SetColor(int32_t red, int32_t green, int32_t blue) override;
  void SetClsColor(int32_t red, int32_t green, int32_t blue) override;
  void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetTransform(float ix, float iy, float jx, float jy) override;
  void SetLineWidth(float width) override;
  void Cls() override;
  void Plot(float x, float y) override;
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY) override;
  void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) override;
  Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetResolution(float width, float height) override;

  /// The image-frame draws since the last Clear, in order.
  const std::vector<RecordedDraw>& Draws() const { return _draws; }
  /// Forgets what was recorded.
  virtual void Clear() { _draws.clear(); }

 private:
  friend class TRecordingImageFrame;  // adds its draws

  std::vector<RecordedDraw> _draws;
  int32_t _framesMade = 0;
};

class TRecordingImageFrame : public TImageFrame {
  VRL_CLASS(TRecordingImageFrame, TImageFrame)
 public:
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;

 private:
  friend class TRecordingLith2DDriver;  // makes the frames

  Ref<TRecordingLith2DDriver> _driver;
  Ref<TPixmap> _pixmap;
  int32_t _number = 0;
};

/// The one recording driver of the program.
TRecordingLith2DDriver* RecordingLith2DDriver();

}  // namespace vrl
