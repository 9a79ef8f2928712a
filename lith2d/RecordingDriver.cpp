#include "lith2d/RecordingDriver.h"

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

int32_t TRecordingLith2DDriver::Flip(int32_t) { return 0; }

Ref<TImageFrame> TRecordingLith2DDriver::CreateFrameFromPixmap(TPixmap* pixmap, int32_t) {
  Ref<TRecordingImageFrame> frame = New<TRecordingImageFrame>();
  frame->_driver = this;
  frame->_pixmap = pixmap;
  frame->_number = ++_framesMade;
  return frame;
}

// The drawing state and the primitives draw nothing here.
void TRecordingLith2DDriver::SetBlend(int32_t) {}
void TRecordingLith2DDriver::SetAlpha(float) {}
void TRecordingLith2DDriver::SetColor(int32_t, int32_t, int32_t) {}
void TRecordingLith2DDriver::SetClsColor(int32_t, int32_t, int32_t) {}
void TRecordingLith2DDriver::SetViewport(int32_t, int32_t, int32_t, int32_t) {}
void TRecordingLith2DDriver::SetTransform(float, float, float, float) {}
void TRecordingLith2DDriver::SetLineWidth(float) {}
void TRecordingLith2DDriver::Cls() {}
void TRecordingLith2DDriver::Plot(float, float) {}
void TRecordingLith2DDriver::DrawLine(float, float, float, float, float, float) {}
void TRecordingLith2DDriver::DrawRect(float, float, float, float, float, float) {}
void TRecordingLith2DDriver::DrawOval(float, float, float, float, float, float) {}
void TRecordingLith2DDriver::DrawPoly(Array*, float, float, float, float) {}
void TRecordingLith2DDriver::DrawPixmap(TPixmap*, int32_t, int32_t) {}
Ref<TPixmap> TRecordingLith2DDriver::GrabPixmap(int32_t, int32_t, int32_t width, int32_t height) {
  Ref<TPixmap> pixmap = NewPixmap(width, height, PIXFMT_RGBA32, 4);
  pixmap->ClearPixels(0);
  return pixmap;
}
void TRecordingLith2DDriver::SetResolution(float, float) {}

void TRecordingImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                                float sy, float sw, float sh) {
  _driver->_draws.push_back({x0, y0, x1, y1, tx, ty, sx, sy, sw, sh, _number});
}

TRecordingLith2DDriver* RecordingLith2DDriver() {
  static auto* driver = new Ref<TRecordingLith2DDriver>(New<TRecordingLith2DDriver>());
  return driver->get();
}

}  // namespace vrl
