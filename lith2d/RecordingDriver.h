// A 2D driver that draws nothing and records what it is asked to do, for
// tests and tools that run without a display. Its graphics objects have the
// size they were created with; GrabPixmap gives a transparent black pixmap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"

namespace vrl {

class TRecordingGraphics : public TGraphics {
  VRL_CLASS(TRecordingGraphics, TGraphics)
  Ref<TGraphicsDriver> Driver() override { return _driver; }
  void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags) override;
  void Close() override { _closed = true; }

  Ref<TGraphicsDriver> _driver;
  int32_t _width = 0, _height = 0, _depth = 0, _hertz = 0, _flags = 0;
  bool _closed = false;
};

// One recorded image-frame draw.
struct RecordedDraw {
  float x0, y0, x1, y1, tx, ty, sx, sy, sw, sh;
  int32_t frame;  // which frame object (its creation number)
};

class TRecordingLith2DDriver : public TLith2DDriver {
  VRL_CLASS(TRecordingLith2DDriver, TLith2DDriver)
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

  // Everything but image-frame draws, one text line per call ("Cls",
  // "DrawRect -5 -7 15 13 10 10", ...); image-frame draws go to `draws`.
  std::vector<std::string> calls;
  std::vector<RecordedDraw> draws;
  int32_t framesMade = 0;
  int32_t flips = 0;
  float ix = 1, iy = 0, jx = 0, jy = 1;

  void Record(const char* name, std::initializer_list<double> values);
  void Clear() {
    calls.clear();
    draws.clear();
  }
};

class TRecordingImageFrame : public TImageFrame {
  VRL_CLASS(TRecordingImageFrame, TImageFrame)
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;

  Ref<TRecordingLith2DDriver> _driver;
  Ref<TPixmap> _pixmap;
  int32_t _number = 0;
};

// The one recording driver of the program.
TRecordingLith2DDriver* RecordingLith2DDriver();

}  // namespace vrl
