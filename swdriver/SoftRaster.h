// The renderer of the software 2D driver: fills, textured quads, lines,
// points and pixel copies into a 32-bit frame buffer (0xAARRGGBB, one
// uint32_t a pixel, alpha kept at 255), with the blend modes of the 2D layer.
//
// The rules are the OpenGL driver's, so that both draw the same pictures:
// - a pixel belongs to a shape when its centre is inside; a centre on the
//   left or top edge is inside, one on the right or bottom edge is not;
// - a colour reaches the buffer as colour x texel (each channel x / 255,
//   rounded), then blends: mask writes it where its alpha is at least 128,
//   solid writes it, alpha mixes src x a + dst x (255 - a), light adds
//   src x a to the buffer (saturating), shade multiplies the buffer by it;
// - textures clamp at their edges; unfiltered ones take the nearest texel,
//   filtered ones mix the four nearest with 8-bit weights.
// Everything is cut to the clip rectangle (the viewport). All arithmetic on
// colours is integer; the blend mode is chosen once a primitive.
#pragma once

#include <cstdint>
#include <vector>

namespace vrl::soft {

/// One picture of a texture: width x height texels, rows packed,
/// 0xAARRGGBB.
struct TextureLevel {
  std::vector<uint32_t> texels;
  int32_t width = 0;
  int32_t height = 0;
};

/// A texture: its picture and, when mipmapped, the halved pictures down to
/// 1 x 1. A draw that shrinks the texture samples the levels as OpenGL's
/// nearest-mipmap-nearest (unfiltered) or linear-mipmap-linear (filtered)
/// minification does, the level chosen from the texels a pixel spans.
struct Texture {
  std::vector<uint32_t> texels;
  int32_t width = 0;
  int32_t height = 0;
  bool filtered = false;
  std::vector<TextureLevel> mipmaps;  // levels 1, 2, ...
};

struct Point2 {
  float x = 0;
  float y = 0;
};

/// Rounded x * y / 255 for bytes, exact for every pair.
inline uint32_t Mul255(uint32_t x, uint32_t y) {
  uint32_t t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

class Raster {
 public:
  /// Draws into `pixels`, `stride` pixels a row; the clip becomes the whole
  /// buffer.
  void Attach(uint32_t* pixels, int32_t width, int32_t height, int32_t stride);
  int32_t Width() const { return _width; }
  int32_t Height() const { return _height; }

  /// One of the 2D layer's blend modes; any other value draws like solid.
  void SetBlend(int32_t blend) { _blend = blend; }
  int32_t Blend() const { return _blend; }
  void SetColor(uint8_t red, uint8_t green, uint8_t blue);
  void SetAlpha(uint8_t alpha) { _a = alpha; }
  /// The clip rectangle, cut to the buffer (empty when they do not meet).
  void SetClip(int64_t x, int64_t y, int64_t width, int64_t height);
  /// True when the clip is the whole buffer.
  bool ClipIsWhole() const;

  /// Fills the clip rectangle with the colour (alpha ignored). The fill
  /// waits for the next operation, which a pixel copy covering the whole
  /// rectangle makes unnecessary (the card clears, then covers the screen
  /// with its picture).
  void Clear(uint32_t rgb);
  /// Does the waiting fill and draws the waiting sprites; called before the
  /// buffer is read or shown.
  void Flush();
  /// Fills the convex polygon with the colour.
  void FillPolygon(const Point2* points, int32_t count);
  /// The pixel holding the point (x, y).
  void DrawPoint(float x, float y);
  /// A line from a to b that leaves out b's pixel, `width` pixels thick.
  void DrawLine(float ax, float ay, float bx, float by, float width);
  /// The parallelogram corners[0], [1], [2], [3] (clockwise from the first
  /// corner of the source rectangle) textured with the texel rectangle
  /// (s0, t0)-(s1, t1). An upright, unscaled quad of a few pixels (a sprite)
  /// may wait, its pixels' memory fetched meanwhile, until a later call
  /// draws it in turn: the texture must stay alive and unchanged until the
  /// next Flush or draw of another kind.
  void TexturedQuad(const Point2* corners, float s0, float t0, float s1, float t1, const Texture& texture);
  /// Copies rows of pixels with their top-left corner at (x, y), ignoring
  /// colour and blend. `format` is 4 (RGB bytes), 6 (RGBA bytes) or 5
  /// (BGRA bytes, the buffer's own order).
  void CopyPixels(const uint8_t* rows, int32_t pitch, int32_t format, int32_t width, int32_t height,
                  int64_t x, int64_t y);
  /// Reads a rectangle as RGBA bytes with alpha 255; what lies outside the
  /// buffer reads as 0.
  void ReadPixels(int64_t x, int64_t y, int32_t width, int32_t height, uint8_t* rgba, int32_t pitch);

 private:
  /// An upright, unscaled sprite queued to be drawn: its pixel rows are
  /// prefetched when it is queued and drawn a few sprites later, so that the
  /// memory of scattered sprites arrives while the program goes on rather
  /// than each draw waiting for it.
  struct PendingBlit {
    void (*draw)(const PendingBlit&);
    uint32_t* target;        // its first pixel
    const uint32_t* source;  // that pixel's texel
    int32_t width, height;
    int32_t stride, pitch;  // pixels a row of the buffer, texels a row of the texture
    uint32_t r, g, b, a;    // the tint
  };
  static constexpr int32_t kMaxPendingBlits = 8;
  static constexpr int32_t kMaxBlitSide = 16;
  template <int Mode, bool Tinted>
  static void DrawBlit(const PendingBlit& blit);
  void QueueBlit(const PendingBlit& blit);
  void DrawPendingBlits();
  /// The waiting fill alone.
  void FlushClear();

  template <int Mode, bool Tinted>
  void TexturedQuadIn(const Point2* corners, float s0, float t0, float s1, float t1, const Texture& texture);
  template <int Mode>
  void FillPolygonIn(const Point2* points, int32_t count);
  /// The spans of a convex polygon, row by row: calls fill(y, x0, x1) for
  /// the pixels x0 <= x < x1 of row y inside it and the clip.
  /// One pixel in the colour and blend (mask already decided).
  void PutColour(uint32_t& d) const;
  template <class Fill>
  void Scan(const Point2* points, int32_t count, Fill&& fill) const;

  uint32_t* _pixels = nullptr;
  int32_t _width = 0, _height = 0, _stride = 0;
  int32_t _clipX0 = 0, _clipY0 = 0, _clipX1 = 0, _clipY1 = 0;
  bool _clearPending = false;
  uint32_t _clearValue = 0;
  int32_t _clearX0 = 0, _clearY0 = 0, _clearX1 = 0, _clearY1 = 0;
  int32_t _blend = 2;
  uint32_t _r = 255, _g = 255, _b = 255, _a = 255;
  PendingBlit _blits[kMaxPendingBlits] = {};
  int32_t _blitFirst = 0, _blitCount = 0;
};

}  // namespace vrl::soft
