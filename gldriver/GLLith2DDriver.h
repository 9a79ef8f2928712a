// The OpenGL 2D driver: draws the 2D layer's primitives, textured image
// frames and pixmaps with fixed-function OpenGL on the contexts of the
// OpenGL graphics driver.
//
// It caches the blend mode, the bound texture, the texture switch and the
// colour, so repeated identical settings issue no GL calls, and it gathers
// consecutive textured quads of one texture into one draw call; the batch is
// drawn before anything else touches the GL state, so every pixel comes out
// as if each quad were drawn on its own. Main thread only.
//
// DrawPixmap keeps a texture of each pixmap it draws (attached to the
// pixmap, see pixmap/Pixmap.h) and copies into it only what the pixmap's
// change marks say was written since the last draw; the texture is drawn
// 1:1 without filtering or blending, so the screen shows exactly the pixels
// of drawing the whole pixmap from memory. The texture belongs to the
// context it was made in: it is deleted when the pixmap dies (at the next
// draw or flip in that context) or when the context closes, and a pixmap
// drawn in another context gets a new one there.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "gldriver/GLGraphicsDriver.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"

namespace vrl {

class TGLLith2DDriver;
class GLPixmapTexture;

/// What the 2D driver sent to OpenGL during one frame.
struct GLFrameCounters {
  /// Calls that draw: glBegin/glEnd blocks, glDrawArrays, glDrawPixels
  /// (glClear is not one).
  int64_t drawCalls = 0;
  /// Calls that hand pixels to GL (glTexImage2D with data, glTexSubImage2D,
  /// glDrawPixels) and the bytes they read.
  int64_t uploads = 0;
  int64_t uploadBytes = 0;
  /// Other calls that change GL state: enables, blend and alpha functions,
  /// texture bindings and parameters, colours, matrices, pixel storage,
  /// vertex arrays, scissor and viewport.
  int64_t stateChanges = 0;
};

class TGLImageFrame : public TImageFrame {
  VRL_CLASS(TGLImageFrame, TImageFrame)
 public:
  /// Hands the texture to its driver for deletion (DeferTextureDeletion).
  ~TGLImageFrame() override;
  /// Draws through the driver that made the frame; nothing once the graphics
  /// generation has moved on (the texture died with its context).
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;
  /// A texture of the pixmap for the driver, its size rounded up to powers of
  /// two with the edges bled into the padding. Null when no GL context is
  /// current or the pixmap has no pixels (a 0 x 0 image draws nothing).
  static Ref<TGLImageFrame> CreateFromPixmap(TGLLith2DDriver* driver, TPixmap* pixmap, int32_t flags);

  /// The GL texture name, 0 when none.
  int32_t TextureName() const { return _name; }
  /// The graphics generation the texture was made in.
  int32_t Generation() const { return _seq; }
  /// The far corner of the image in texture coordinates (the near one is
  /// 0, 0), and the size of one texel.
  float U1() const { return _u1; }
  float V1() const { return _v1; }
  float UScale() const { return _uscale; }
  float VScale() const { return _vscale; }

 private:
  Ref<TGLLith2DDriver> _driver;  // the driver that made the frame
  float _u0 = 0, _v0 = 0, _u1 = 0, _v1 = 0;
  float _uscale = 0, _vscale = 0;
  int32_t _name = 0;
  int32_t _seq = 0;
};

inline constexpr int32_t kMaxOvalSegments = 4096;

class TGLLith2DDriver : public TLith2DDriver {
  VRL_CLASS(TGLLith2DDriver, TLith2DDriver)
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
  /// A viewport reaching past the device scissors at the device's edges.
  void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetTransform(float ix, float iy, float jx, float jy) override;
  void SetLineWidth(float width) override;
  void Cls() override;
  void Plot(float x, float y) override;
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override;
  /// Nothing for a rectangle that is not finite; at most kMaxOvalSegments
  /// segments, more than a display can tell apart.
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY) override;
  void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) override;
  Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetResolution(float width, float height) override;

  /// The driver itself while the OpenGL graphics driver exists.
  Ref<TGLLith2DDriver> Create();
  void ResetGLContext(TGraphics* graphics);

  /// Draws whatever quads are gathered. Code that draws with OpenGL itself
  /// calls it (BeginRaw2D does) before it touches the GL state.
  void FlushBatch();
  /// The counts of the frame being drawn, since the last Flip.
  const GLFrameCounters& FrameCounters() const { return _frame; }
  /// The counts of the last frame that Flip presented.
  const GLFrameCounters& LastFrameCounters() const { return _lastFrame; }
  /// Whether DrawPixmap keeps textures of pixmaps (the default); without,
  /// every DrawPixmap sends the whole pixmap with glDrawPixels. The screen
  /// shows the same pixels either way. Pixmaps wider or taller than the GL
  /// implementation's textures are always drawn the second way.
  void UsePixmapTextures(bool use) { _pixmapTextures = use; }
  /// The GL texture of the pixmap for the current context, 0 when none.
  int32_t PixmapTextureName(TPixmap* pixmap) const;
  /// Deletes the pixmap textures of a context that is closing, with that
  /// context current (the graphics driver's closing hook calls it); their
  /// pixmaps get new textures where they are drawn next.
  void ReleaseContext(GLWindowRecord* record);
  /// Notes a texture name to delete at the next texture creation, when it
  /// belongs to the generation of the last creation; older names died with
  /// their context and are dropped.
  void DeferTextureDeletion(int32_t name, int32_t generation);

 private:
  /// The batching protocol: a frame maps its corners with the driver's
  /// matrix, gathers its quad into the driver's batch and makes its texture
  /// through the driver, so that the cached GL state stays the driver's.
  friend class TGLImageFrame;
  friend class GLPixmapTexture;  // leaves its texture to be deleted when its pixmap dies

  int32_t DeviceHeight() const;
  /// Maps a local point with the matrix of SetTransform and the translation.
  void MapPoint(float px, float py, float tx, float ty, float& x, float& y) const;
  /// Gathers a textured quad; a quad of another texture draws the batch
  /// first.
  void TexturedQuad(int32_t texture, const float* corners, float u0, float v0, float u1, float v1);
  void BindTexture(int32_t texture);
  void DisableTexturing();
  /// Allocates a texture of tw x th (and its mipmap levels) without data and
  /// leaves it bound; deletes the deferred names of this generation first.
  uint32_t CreateTexture(int32_t tw, int32_t th, int32_t flags);
  /// Deletes texture names, forgetting the binding when it is among them.
  void DeleteTextures(const uint32_t* names, int32_t count);

  void DrawPixmapFromMemory(TPixmap* pixmap, int32_t x, int32_t y);
  /// The pixmap's texture for the current context, made or brought up to
  /// date; nullptr when it cannot have one.
  GLPixmapTexture* PixmapTexture(TPixmap* pixmap);
  /// Copies a rectangle of the pixmap into the bound texture at the same
  /// place.
  void UploadPixmapArea(TPixmap* pixmap, const PixmapArea& area);
  /// Deletes the textures of dropped pixmaps that belong to the record.
  void DeletePendingTextures(GLWindowRecord* record);

  int32_t _blend = 0;
  int32_t _boundTexture = 0;
  bool _texturing = false;
  uint8_t _color[4] = {255, 255, 255, 255};
  float _ix = 1, _iy = 0, _jx = 0, _jy = 1;
  int32_t _batchTexture = 0;
  std::vector<float> _batch;  // x, y, u, v for each vertex
  /// Textures whose frames were dropped, and the generation they belong to.
  std::vector<uint32_t> _deferred;
  int32_t _deferredGeneration = 0;

  GLFrameCounters _frame, _lastFrame;
  /// The projection's logical size and the viewport's size in pixels, to
  /// place a pixmap in window pixels whatever the logical resolution.
  float _orthoWidth = 0, _orthoHeight = 0;
  int32_t _viewWidth = 0, _viewHeight = 0;
  /// What the context's textures can be (read in ResetGLContext).
  int32_t _maxTextureSize = 0;
  bool _anyTextureSize = false;  // sizes other than powers of two
  bool _pixmapTextures = true;
  std::vector<GLPixmapTexture*> _pixmapTextureList;  // the live ones; the pixmaps own them
  std::vector<std::pair<GLWindowRecord*, uint32_t>> _pendingDeletions;
  /// The buffer each window's context draws the sprite batches from, and
  /// the size of its store in bytes.
  struct VertexBuffer {
    GLWindowRecord* record;
    uint32_t name;
    std::size_t bytes;
  };
  std::vector<VertexBuffer> _vertexBuffers;
  std::vector<PixmapArea> _areas;
  std::vector<uint8_t> _converted;  // rows of a pixmap in another format, as RGBA
};

/// The OpenGL 2D driver, made on first use.
TGLLith2DDriver* OpenGL2DDriver();

/// Raw helpers for programs that draw with OpenGL themselves.
void BeginRaw2D();
void EndRaw2D();
int32_t NextPow2(int32_t n);
/// Rounds the size up to powers of two the implementation accepts; throws
/// the runtime error "Unable to calculate tex size" when even 1 x 1 is not.
void FitTextureSize(int32_t& width, int32_t& height);
int32_t TextureFromPixmap(TPixmap* pixmap, int32_t mipmapped);
void GLRectAt(int32_t x, int32_t y, int32_t width, int32_t height);
void GLTextAt(String* text, int32_t x, int32_t y);
void GLPixmapAt(TPixmap* pixmap, int32_t x, int32_t y);

namespace gl2d {
/// Initialises every graphics back-end of the program in the order of
/// gldriver/GraphicsBackends.h, which makes the OpenGL 2D driver the default.
void Init();
/// The OpenGL 2D back-end's entry of that table: initialises the OpenGL
/// graphics and the 2D modules, registers the classes and selects the driver.
void InitBackend();
}  // namespace gl2d

}  // namespace vrl
