// The software 2D driver "Software": draws the 2D layer's primitives, image
// frames and pixmaps with the processor into the frame buffer of the
// software graphics driver (swdriver/SoftGraphicsDriver.h), pixel for pixel
// as the OpenGL driver draws them (swdriver/SoftRaster.h gives the rules).
//
// Opaque copies and unscaled, unrotated image draws come out exactly as on
// OpenGL; alpha, light and shade blending within one level a channel.
// Rotated and scaled images sample as OpenGL's nearest and linear filters
// do, with the texel chosen at each pixel centre: where a centre falls on a
// texel edge within rounding, the two may take neighbouring texels. Frames
// made with IMAGEFLAG_MIPMAPPED keep halved pictures as OpenGL's mipmap
// levels and shrink from them as its mipmap filters do.
//
// Every draw is made at once, except that Cls waits for the next operation
// (which may make it unnecessary) with the viewport it was given, and small
// unscaled sprites wait a few draws while their pixels are fetched; both are
// done before anything reads or shows the buffer. Main thread only. It is
// never a default candidate: a program chooses it by name ("Software").
#pragma once

#include <cstdint>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "swdriver/SoftGraphicsDriver.h"
#include "swdriver/SoftRaster.h"

namespace vrl {

class TSoftLith2DDriver;

/// A frame's texture: the picture, its size rounded up to powers of two
/// with the last column and row repeated once into the padding, as the
/// OpenGL driver's textures are, so that samples at and past the edges
/// agree; mipmapped, also each level halved from the one before.
class TSoftImageFrame : public TImageFrame {
  VRL_CLASS(TSoftImageFrame, TImageFrame)
 public:
  /// Draws the sprites still waiting with its texture first.
  ~TSoftImageFrame() override;
  /// Draws nothing once the graphics generation has moved on.
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;
  /// Null for a pixmap without pixels.
  static Ref<TSoftImageFrame> CreateFromPixmap(TSoftLith2DDriver* driver, TPixmap* pixmap, int32_t flags);

  const soft::Texture& Texture() const { return _texture; }
  int32_t Generation() const { return _seq; }

 private:
  Ref<TSoftLith2DDriver> _driver;
  soft::Texture _texture;
  int32_t _seq = 0;
};

inline constexpr int32_t kMaxSoftOvalSegments = 4096;

class TSoftLith2DDriver : public TLith2DDriver {
  VRL_CLASS(TSoftLith2DDriver, TLith2DDriver)
 public:
  Ref<String> ToString() override;

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
  /// Nothing for a rectangle that is not finite; at most
  /// kMaxSoftOvalSegments segments.
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY) override;
  void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) override;
  Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetResolution(float width, float height) override;

 private:
  friend class TSoftImageFrame;  // maps its corners and draws into the raster

  /// Maps a local point with the matrix and the translation, then from
  /// logical to device pixels.
  soft::Point2 Map(float px, float py, float tx, float ty) const;
  soft::Point2 ToDevice(float x, float y) const { return {x * _scaleX, y * _scaleY}; }

  Ref<TSoftGraphics> _graphics;  // drawn into; Null when none is current
  soft::Raster _raster;
  float _ix = 1, _iy = 0, _jx = 0, _jy = 1;
  float _logicalWidth = 0, _logicalHeight = 0;
  float _scaleX = 1, _scaleY = 1;  // device pixels a logical one
  float _lineWidth = 1;
  uint32_t _clsColor = 0;
};

/// The software 2D driver, made on first use.
TSoftLith2DDriver* Software2DDriver();

namespace swdriver {
/// The back-end's entry among the 2D drivers of gldriver/GraphicsBackends.h:
/// initialises the software graphics and the 2D modules and registers the
/// classes. It never selects its driver.
void Init();
}  // namespace swdriver

}  // namespace vrl
