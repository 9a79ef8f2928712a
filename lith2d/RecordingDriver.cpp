#include "lith2d/RecordingDriver.h"

#include <cstdio>

#include "runtime/ClassRecord.h"

namespace vrl {

VRL_CLASS_RECORD(TRecordingGraphics, "TRecordingGraphics")
VRL_CLASS_RECORD(TRecordingLith2DDriver, "TRecordingLith2DDriver")
VRL_CLASS_RECORD(TRecordingImageFrame, "TRecordingImageFrame")

void TRecordingGraphics::GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz,
                                     int32_t& flags) {
  width = _width;
  height = _height;
  depth = _depth;
  hertz = _hertz;
  flags = _flags;
}

void TRecordingLith2DDriver::Record(const char* name, std::initializer_list<double> values) {
  std::string line = name;
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, " %.9g", v);
    line += text;
  }
  calls.push_back(std::move(line));
}

Ref<Array> TRecordingLith2DDriver::GraphicsModes() {
  Ref<Array> modes = Array::New(":TGraphicsMode", 1);
  Ref<TGraphicsMode> mode = New<TGraphicsMode>();
  mode->width = 1024;
  mode->height = 768;
  mode->depth = 32;
  mode->hertz = 60;
  modes->SetObject(0, mode);
  return modes;
}

Ref<TGraphics> TRecordingLith2DDriver::AttachGraphics(int32_t, int32_t) { return Ref<TGraphics>(); }

Ref<TGraphics> TRecordingLith2DDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth,
                                                      int32_t hertz, int32_t flags) {
  Ref<TRecordingGraphics> inner = New<TRecordingGraphics>();
  inner->_driver = this;
  inner->_width = width;
  inner->_height = height;
  inner->_depth = depth;
  inner->_hertz = hertz;
  inner->_flags = flags;
  return TLith2DGraphics::Create(inner, this);
}

int32_t TRecordingLith2DDriver::SetGraphics(TGraphics* graphics) {
  auto* g = CastRaw<TLith2DGraphics>(graphics);
  if (!g) {
    TLith2DGraphics::ClearCurrent();
    return 0;
  }
  g->MakeCurrent();
  return 0;
}

int32_t TRecordingLith2DDriver::Flip(int32_t sync) {
  ++flips;
  Record("Flip", {double(sync)});
  return 0;
}

Ref<TImageFrame> TRecordingLith2DDriver::CreateFrameFromPixmap(TPixmap* pixmap, int32_t) {
  Ref<TRecordingImageFrame> frame = New<TRecordingImageFrame>();
  frame->_driver = this;
  frame->_pixmap = pixmap;
  frame->_number = ++framesMade;
  return frame;
}

void TRecordingLith2DDriver::SetBlend(int32_t blend) { Record("SetBlend", {double(blend)}); }
void TRecordingLith2DDriver::SetAlpha(float alpha) { Record("SetAlpha", {alpha}); }
void TRecordingLith2DDriver::SetColor(int32_t r, int32_t g, int32_t b) {
  Record("SetColor", {double(r), double(g), double(b)});
}
void TRecordingLith2DDriver::SetClsColor(int32_t r, int32_t g, int32_t b) {
  Record("SetClsColor", {double(r), double(g), double(b)});
}
void TRecordingLith2DDriver::SetViewport(int32_t x, int32_t y, int32_t w, int32_t h) {
  Record("SetViewport", {double(x), double(y), double(w), double(h)});
}
void TRecordingLith2DDriver::SetTransform(float a, float b, float c, float d) {
  ix = a;
  iy = b;
  jx = c;
  jy = d;
  Record("SetTransform", {a, b, c, d});
}
void TRecordingLith2DDriver::SetLineWidth(float width) { Record("SetLineWidth", {width}); }
void TRecordingLith2DDriver::Cls() { Record("Cls", {}); }
void TRecordingLith2DDriver::Plot(float x, float y) { Record("Plot", {x, y}); }
void TRecordingLith2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawLine", {x0, y0, x1, y1, tx, ty});
}
void TRecordingLith2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawRect", {x0, y0, x1, y1, tx, ty});
}
void TRecordingLith2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawOval", {x0, y0, x1, y1, tx, ty});
}
void TRecordingLith2DDriver::DrawPoly(Array* xy, float hx, float hy, float ox, float oy) {
  Record("DrawPoly", {double(xy ? xy->Length() : 0), hx, hy, ox, oy});
}
void TRecordingLith2DDriver::DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) {
  Record("DrawPixmap",
         {double(pixmap ? pixmap->width : 0), double(pixmap ? pixmap->height : 0), double(x), double(y)});
}
Ref<TPixmap> TRecordingLith2DDriver::GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) {
  Record("GrabPixmap", {double(x), double(y), double(width), double(height)});
  Ref<TPixmap> pixmap = NewPixmap(width, height, PIXFMT_RGBA32, 4);
  pixmap->ClearPixels(0);
  return pixmap;
}
void TRecordingLith2DDriver::SetResolution(float width, float height) {
  Record("SetResolution", {width, height});
}

void TRecordingImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                                float sy, float sw, float sh) {
  _driver->draws.push_back({x0, y0, x1, y1, tx, ty, sx, sy, sw, sh, _number});
}

TRecordingLith2DDriver* RecordingLith2DDriver() {
  static auto* driver = new Ref<TRecordingLith2DDriver>(New<TRecordingLith2DDriver>());
  return driver->get();
}

}  // namespace vrl
