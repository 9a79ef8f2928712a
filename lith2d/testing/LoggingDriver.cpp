#include "lith2d/testing/LoggingDriver.h"

#include <cstdio>
#include <utility>

#include "runtime/ClassRecord.h"

namespace vrl {

VRL_CLASS_RECORD(TLoggingLith2DDriver, "TLoggingLith2DDriver")

void TLoggingLith2DDriver::Record(const char* name, std::initializer_list<double> values) {
  std::string line = name;
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, " %.9g", v);
    line += text;
  }
  _calls.push_back(std::move(line));
}

void TLoggingLith2DDriver::Clear() {
  _calls.clear();
  Super::Clear();
}

void TLoggingLith2DDriver::GetTransform(float& ix, float& iy, float& jx, float& jy) const {
  ix = _ix;
  iy = _iy;
  jx = _jx;
  jy = _jy;
}

int32_t TLoggingLith2DDriver::Flip(int32_t sync) {
  ++_flips;
  Record("Flip", {double(sync)});
  return Super::Flip(sync);
}

Ref<TImageFrame> TLoggingLith2DDriver::CreateFrameFromPixmap(TPixmap* pixmap, int32_t flags) {
  ++_framesMade;
  return Super::CreateFrameFromPixmap(pixmap, flags);
}

void TLoggingLith2DDriver::SetBlend(int32_t blend) { Record("SetBlend", {double(blend)}); }
void TLoggingLith2DDriver::SetAlpha(float alpha) { Record("SetAlpha", {alpha}); }
void TLoggingLith2DDriver::SetColor(int32_t r, int32_t g, int32_t b) {
  Record("SetColor", {double(r), double(g), double(b)});
}
void TLoggingLith2DDriver::SetClsColor(int32_t r, int32_t g, int32_t b) {
  Record("SetClsColor", {double(r), double(g), double(b)});
}
void TLoggingLith2DDriver::SetViewport(int32_t x, int32_t y, int32_t w, int32_t h) {
  Record("SetViewport", {double(x), double(y), double(w), double(h)});
}
void TLoggingLith2DDriver::SetTransform(float a, float b, float c, float d) {
  _ix = a;
  _iy = b;
  _jx = c;
  _jy = d;
  Record("SetTransform", {a, b, c, d});
}
void TLoggingLith2DDriver::SetLineWidth(float width) { Record("SetLineWidth", {width}); }
void TLoggingLith2DDriver::Cls() { Record("Cls", {}); }
void TLoggingLith2DDriver::Plot(float x, float y) { Record("Plot", {x, y}); }
void TLoggingLith2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawLine", {x0, y0, x1, y1, tx, ty});
}
void TLoggingLith2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawRect", {x0, y0, x1, y1, tx, ty});
}
void TLoggingLith2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  Record("DrawOval", {x0, y0, x1, y1, tx, ty});
}
void TLoggingLith2DDriver::DrawPoly(Array* xy, float hx, float hy, float ox, float oy) {
  Record("DrawPoly", {double(xy ? xy->Length() : 0), hx, hy, ox, oy});
}
void TLoggingLith2DDriver::DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) {
  Record("DrawPixmap",
         {double(pixmap ? pixmap->width : 0), double(pixmap ? pixmap->height : 0), double(x), double(y)});
}
Ref<TPixmap> TLoggingLith2DDriver::GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) {
  Record("GrabPixmap", {double(x), double(y), double(width), double(height)});
  return Super::GrabPixmap(x, y, width, height);
}
void TLoggingLith2DDriver::SetResolution(float width, float height) {
  Record("SetResolution", {width, height});
}

TLoggingLith2DDriver* LoggingLith2DDriver() {
  static auto* driver = new Ref<TLoggingLith2DDriver>(New<TLoggingLith2DDriver>());
  return driver->get();
}

}  // namespace vrl
