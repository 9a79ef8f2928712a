// The 2D drawing layer: a drawing state per graphics object (colour, alpha,
// blend mode, clear colour, line width, rotation and scale, origin, handle,
// viewport, logical resolution, font) and the drawing commands, which turn
// into calls on the current 2D driver with the state applied.
//
// Every command acts on the current 2D graphics (made current when the
// graphics module selects it) and throws TNullObjectException when there is
// none. All drawing runs on the thread that owns the graphics.
//
// The contract of a 2D driver (TLith2DDriver)
//
// - A 2D driver is a graphics driver (graphics/Graphics.h states that
//   contract) whose contexts are TLith2DGraphics: CreateGraphics and
//   AttachGraphics wrap the driver's own context with
//   TLith2DGraphics::Create(context, this). SetGraphics(g) draws what it
//   has gathered, makes g's wrapped context current where it has one, then
//   calls g->MakeCurrent(), which sends the whole state again;
//   SetGraphics(Null) calls TLith2DGraphics::ClearCurrent().
// - Drawing state: the layer keeps the state in the TLith2DGraphics and
//   hands the driver only what it needs, through SetBlend, SetAlpha,
//   SetColor, SetClsColor, SetViewport (device pixels), SetTransform (the
//   2 x 2 matrix of rotation and scale), SetLineWidth and SetResolution (the
//   logical size that fills the device). MakeCurrent sends all of it again
//   (Validate), so a driver may forget its state when its context changes.
//   A driver keeps what it was told until told otherwise and applies it to
//   every later primitive and frame draw; it must not read the layer's
//   state itself.
// - Primitives get local points and a translation; each point (px, py)
//   reaches the device as (px*ix + py*iy + tx, px*jx + py*jy + ty) with the
//   matrix last given to SetTransform. Any argument values must have a
//   defined result: nothing may overflow on its way to the device or
//   allocate without bound (ovals bound their segments, viewports are cut to
//   the device).
// - Batching: a driver may gather draws and issue them later, but every
//   pixel must come out as if each draw were issued on its own and at once:
//   whatever was gathered is drawn before a state change takes effect,
//   before GrabPixmap reads the back buffer, before another context becomes
//   current, and before Flip.
// - Flip may happen after any command: Flip(sync) first draws what is
//   gathered, then presents (the graphics module runs the flip hooks before
//   and decides the pacing). The first MakeCurrent of a graphics clears and
//   flips both buffers.
// - Frames and images: CreateFrameFromPixmap makes the driver's form of one
//   image frame (TImageFrame, lith2d/Image.h) or Null when it cannot, such
//   as for a pixmap without pixels. A frame holds the driver that made it
//   and draws through that driver. Images rebuild their frames when the
//   graphics generation (GraphicsGeneration()) changed; a frame kept from
//   an older generation must not touch the resources of the new one (the
//   OpenGL frame draws nothing then). A frame hands its resources back to
//   its driver when it is freed.
// - The base class implements nothing: every operation throws
//   TNullMethodException.
// - The recording driver (lith2d/RecordingDriver.h) is the null back-end:
//   it draws nothing, keeps the image-frame draws, and is only ever chosen
//   on purpose; lith2d/testing/ builds a command log on it for tests.
#pragma once

#include <cstdint>

#include "graphics/Graphics.h"
#include "pixmap/Pixmap.h"
#include "runtime/Array.h"

namespace vrl {

class TImage;
class TImageFont;
class TImageFrame;
class TLith2DDriver;

inline constexpr int32_t BLEND_MASK = 1;
inline constexpr int32_t BLEND_SOLID = 2;
inline constexpr int32_t BLEND_ALPHA = 3;
inline constexpr int32_t BLEND_LIGHT = 4;
inline constexpr int32_t BLEND_SHADE = 5;

class TLith2DGraphics : public TGraphics {
  VRL_CLASS(TLith2DGraphics, TGraphics)
 public:
  Ref<TGraphicsDriver> Driver() override;
  void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags) override;
  /// Closes the wrapped graphics and lets go of it and of the driver.
  void Close() override;
  /// Re-reads the device size and sends the whole state to the driver.
  void Validate();
  /// Makes this the current graphics and its driver the current driver;
  /// the first time also clears and flips both buffers.
  void MakeCurrent();

  static void ClearCurrent();
  static TLith2DGraphics* Current();
  static Ref<TLith2DGraphics> Create(TGraphics* graphics, TLith2DDriver* driver);
  /// The driver's own context that this one wraps; Null once closed.
  TGraphics* Wrapped() const { return _graphics.get(); }

  /// Recomputes the matrix from rotation and scale and sends it.
  void UpdateTransform();
  /// Sends the logical viewport to the driver as device pixels.
  void SendViewport();

 private:
  /// The drawing commands below keep the state; these are the ones that
  /// read or write it.
  friend void SetColor(int32_t red, int32_t green, int32_t blue);
  friend void GetColor(int32_t& red, int32_t& green, int32_t& blue);
  friend void SetClsColor(int32_t red, int32_t green, int32_t blue);
  friend void GetClsColor(int32_t& red, int32_t& green, int32_t& blue);
  friend void SetBlend(int32_t blend);
  friend int32_t GetBlend();
  friend void SetAlpha(float alpha);
  friend float GetAlpha();
  friend void SetLineWidth(float width);
  friend float GetLineWidth();
  friend void SetDrawRotation(float degrees);
  friend float GetDrawRotation();
  friend void SetDrawScale(float x, float y);
  friend void GetDrawScale(float& x, float& y);
  friend void SetDrawTransform(float degrees, float scaleX, float scaleY);
  friend void SetDrawOrigin(float x, float y);
  friend void GetDrawOrigin(float& x, float& y);
  friend void SetDrawHandle(float x, float y);
  friend void GetDrawHandle(float& x, float& y);
  friend void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height);
  friend void GetViewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height);
  friend void SetLogicalResolution(float width, float height);
  friend float LogicalWidth();
  friend float LogicalHeight();
  friend float LogicalMouseX();
  friend float LogicalMouseY();
  friend float LogicalMouseXSpeed();
  friend float LogicalMouseYSpeed();
  friend void MoveLogicalMouse(float x, float y);
  friend void SetDrawFont(TImageFont* font);
  friend TImageFont* GetDrawFont();
  friend void Plot(float x, float y);
  friend void DrawRect(float x, float y, float width, float height);
  friend void DrawOval(float x, float y, float width, float height);
  friend void DrawLine(float x1, float y1, float x2, float y2, int32_t lastPixel);
  friend void DrawPoly(Array* xy);
  friend void DrawString(String* text, float x, float y);
  friend int32_t StringWidth(String* text);
  friend int32_t StringHeight();
  friend void DrawImageAt(TImage* image, float x, float y, int32_t frame);
  friend void DrawImageSized(TImage* image, float x, float y, float width, float height, int32_t frame);
  friend void DrawImageArea(TImage* image, float x, float y, float width, float height, float sx, float sy,
                            float sw, float sh, float hx, float hy, int32_t frame);
  friend void DrawImageTiled(TImage* image, float x, float y, int32_t frame);
  /// Tests of how the state is stored (tests/lith2d).
  friend class Lith2DGraphicsTestPeer;

  /// The drawing state. The commands set and read it and keep the driver
  /// told; the matrix (tform_ix to tform_jy) follows rotation and scale
  /// through UpdateTransform, the mouse scales follow the logical resolution.
  int32_t color_red = 255, color_green = 255, color_blue = 255;
  float color_alpha = 1.0f;
  int32_t clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
  float line_width = 1.0f;
  float tform_rot = 0;
  float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
  float tform_ix = 1.0f, tform_iy = 0, tform_jx = 0, tform_jy = 1.0f;
  int32_t viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
  float origin_x = 0, origin_y = 0;
  float handle_x = 0, handle_y = 0;  // stored negated
  Ref<TImageFont> image_font;
  int32_t blend_mode = BLEND_MASK;
  float vres_width = 0, vres_height = 0;
  float vres_mousexscale = 1.0f, vres_mouseyscale = 1.0f;
  int32_t g_width = 0, g_height = 0;  // the device size last read
  Ref<TGraphics> _graphics;
  Ref<TLith2DDriver> _driver;
  int32_t _setup = 0;  // 1 once the buffers were cleared
};

/// The abstract 2D driver; its contract is at the top of this file.
class TLith2DDriver : public TGraphicsDriver {
  VRL_CLASS(TLith2DDriver, TGraphicsDriver)
 public:
  virtual Ref<TImageFrame> CreateFrameFromPixmap(TPixmap* pixmap, int32_t flags);
  virtual void SetBlend(int32_t blend);
  virtual void SetAlpha(float alpha);
  virtual void SetColor(int32_t red, int32_t green, int32_t blue);
  virtual void SetClsColor(int32_t red, int32_t green, int32_t blue);
  virtual void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height);
  virtual void SetTransform(float ix, float iy, float jx, float jy);
  virtual void SetLineWidth(float width);
  virtual void Cls();
  virtual void Plot(float x, float y);
  virtual void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty);
  virtual void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty);
  virtual void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty);
  virtual void DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY);
  virtual void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y);
  virtual Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height);
  virtual void SetResolution(float width, float height);
};

TLith2DDriver* CurrentLith2DDriver();

/// Float to Int for coordinates and counts: truncates towards zero, clamps to
/// the Int range; NaN gives 0.
int32_t SaturatingInt(double value);

/// State commands.
void SetColor(int32_t red, int32_t green, int32_t blue);
void GetColor(int32_t& red, int32_t& green, int32_t& blue);
void SetClsColor(int32_t red, int32_t green, int32_t blue);
void GetClsColor(int32_t& red, int32_t& green, int32_t& blue);
void SetBlend(int32_t blend);
int32_t GetBlend();
void SetAlpha(float alpha);
float GetAlpha();
void SetLineWidth(float width);
float GetLineWidth();
void SetDrawRotation(float degrees);
float GetDrawRotation();
void SetDrawScale(float x, float y);
void GetDrawScale(float& x, float& y);
void SetDrawTransform(float degrees, float scaleX, float scaleY);
void SetDrawOrigin(float x, float y);
void GetDrawOrigin(float& x, float& y);
void SetDrawHandle(float x, float y);
void GetDrawHandle(float& x, float& y);
/// Any values are safe: the device rectangle saturates at the Int range.
void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height);
void GetViewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height);
/// Maps the logical size onto the whole device. Throws TRuntimeException when
/// the width or height is not a positive finite number (or gives no usable
/// mouse scale); without a device size the mouse maps one to one.
void SetLogicalResolution(float width, float height);
float LogicalWidth();
float LogicalHeight();
float LogicalMouseX();
float LogicalMouseY();
float LogicalMouseXSpeed();
float LogicalMouseYSpeed();
void MoveLogicalMouse(float x, float y);
void SetDrawFont(TImageFont* font);
TImageFont* GetDrawFont();
Ref<TImageFont> LoadImageFontSource(Object* url, int32_t size, int32_t style);

/// Drawing commands.
void Cls();
void Plot(float x, float y);
void DrawRect(float x, float y, float width, float height);
/// The driver bounds the number of segments and draws nothing for sizes that
/// are not finite.
void DrawOval(float x, float y, float width, float height);
void DrawLine(float x1, float y1, float x2, float y2, int32_t lastPixel = 1);
void DrawPoly(Array* xy);
void DrawString(String* text, float x, float y);
int32_t StringWidth(String* text);
int32_t StringHeight();
/// The image commands draw nothing for an image without a driver frame, such
/// as one of 0 x 0 pixels.
void DrawImageAt(TImage* image, float x, float y, int32_t frame = 0);
void DrawImageSized(TImage* image, float x, float y, float width, float height, int32_t frame = 0);
void DrawImageArea(TImage* image, float x, float y, float width, float height, float sx, float sy, float sw,
                   float sh, float hx = 0, float hy = 0, int32_t frame = 0);
/// Covers the viewport (its part on the logical screen) with copies of the
/// image, ignoring rotation and scale. Nothing for an empty image or a
/// position that is not finite.
void DrawImageTiled(TImage* image, float x, float y, int32_t frame = 0);
void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y);
Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height);

/// Module state used by the image functions.
void SetImageMaskColor(int32_t red, int32_t green, int32_t blue);
void GetImageMaskColor(int32_t& red, int32_t& green, int32_t& blue);
void SetAutoCentreHandle(int32_t on);
int32_t AutoCentreHandle();
void SetDefaultImageFlags(int32_t flags);
int32_t DefaultImageFlags();

namespace lith2d {
/// Registers the drawing, image and font classes and the built-in font data.
void Init();
}  // namespace lith2d

}  // namespace vrl
