// A recording 2D driver for tests: besides the image-frame draws of the
// recording driver it keeps every other call it is given as one text line
// ("Cls", "DrawRect -5 -7 15 13 10 10", numbers printed with "%.9g"), counts
// the frames it made and the flips, and remembers the matrix last given to
// SetTransform. Test programs only: production code does not link it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "lith2d/RecordingDriver.h"

namespace vrl {

class TLoggingLith2DDriver : public TRecordingLith2DDriver {
  VRL_CLASS(TLoggingLith2DDriver, TRecordingLith2DDriver)
 public:
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

  /// Every call but the image-frame draws since the last Clear, in order.
  const std::vector<std::string>& Calls() const { return _calls; }
  /// Forgets the calls and the draws (the counters and the matrix stay).
  void Clear() override;
  /// Frames made and flips, since the start of the program.
  int32_t FramesMade() const { return _framesMade; }
  int32_t Flips() const { return _flips; }
  /// The matrix last given to SetTransform.
  void GetTransform(float& ix, float& iy, float& jx, float& jy) const;

 private:
  void Record(const char* name, std::initializer_list<double> values);

  std::vector<std::string> _calls;
  int32_t _framesMade = 0;
  int32_t _flips = 0;
  float _ix = 1, _iy = 0, _jx = 0, _jy = 1;
};

/// The one logging driver of the test program.
TLoggingLith2DDriver* LoggingLith2DDriver();

}  // namespace vrl
