// Pixel-exact collision layers: images and rectangles placed exactly as the
// drawing commands would place them (origin, image handle, rotation and
// scale), recorded as quads in 32 layers chosen by bit masks, without
// drawing anything. A new shape is tested against the quads of some layers
// and may then be written into others; the test scan-converts the two quads
// as textured polygons and compares the solid pixels of their masks line by
// line.
//
// The placement reads the drawing origin of the current 2D graphics (0, 0
// without one) and the collision transform, a copy of the rotation and
// scale matrix that every transform update of the drawing layer leaves here;
// it is all zero until the first update, so every quad collapses to its
// origin point and nothing collides before a graphics was ever current.
//
// Any coordinates are safe: a quad with a corner that is not finite never
// collides, and the test only looks at the pixels inside the collision field
// (kCollisionField pixels either way of the origin on both axes), so the work
// of one test is bounded whatever the sizes and scales.
//
// All of this runs on the thread that owns the graphics; nothing is locked.
#pragma once

#include <cstdint>

#include "pixmap/Pixmap.h"
#include "runtime/Array.h"
#include "runtime/Object.h"

namespace vrl {

class TImage;

/// Pixels further than this from the origin on either axis never collide.
inline constexpr int32_t kCollisionField = 8192;

/// One shape in a collision layer (or being tested).
class TQuad : public Object {
  VRL_CLASS(TQuad, Object)
 public:
  /// Stores the four corners with the texture coordinates (0, 0), (1, 0),
  /// (1, 1), (0, 1) and sets the bounding box around them.
  void SetCoords(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3);

  Ref<TQuad> link;  // the next quad of its list
  Ref<Object> id;   // reported on a hit
  /// Whose alpha decides which pixels are solid: a pixmap of four bytes a
  /// pixel, or Null for a solid shape.
  Ref<TPixmap> mask;
  int32_t frame = 0;
  float minx = 0, miny = 0, maxx = 0, maxy = 0;
  Ref<Array> xyuv;  // 16 Floats: x, y, u, v of each corner
};

/// Returns the quads of the layers whose bits are set to the pool; 0 means
/// all 32 layers.
void ClearCollisionLayers(int32_t mask);
/// Tests the image, placed as DrawImageAt would place it, against the layers
/// of collidemask and returns the ids of the quads it touches (an empty array
/// for none); then records it, with `id`, in every layer of writemask.
Ref<Array> CollideImageLayers(TImage* image, float x, float y, int32_t frame, int32_t collidemask,
                              int32_t writemask, Object* id);
/// The same for a solid rectangle placed as DrawRect would place it, with a
/// drawing handle of (0, 0).
Ref<Array> CollideRectLayers(float x, float y, float width, float height, int32_t collidemask,
                             int32_t writemask, Object* id);
/// 1 when the two images share a pixel that is solid in both, else 0. Uses
/// (and empties) layer 31.
int32_t ImagesOverlap(TImage* image1, float x1, float y1, int32_t frame1, TImage* image2, float x2, float y2,
                      int32_t frame2);
/// The same with a rotation and scale for each image, set in turn through the
/// current 2D graphics (TNullObjectException without one); the rotation and
/// scale in force before are restored afterwards.
int32_t ImagesOverlapTransformed(TImage* image1, float x1, float y1, int32_t frame1, float rot1, float sx1,
                                 float sy1, TImage* image2, float x2, float y2, int32_t frame2, float rot2,
                                 float sx2, float sy2);

/// The collision transform. The drawing layer sets it on every transform
/// update; tests may set it to put the layers in a known state.
void SetCollisionTransform(float ix, float iy, float jx, float jy);
void GetCollisionTransform(float& ix, float& iy, float& jx, float& jy);

/// The number of quads in a layer (0 to 31) and in the pool.
int32_t CollisionLayerCount(int32_t layer);
int32_t CollisionPoolCount();

}  // namespace vrl
