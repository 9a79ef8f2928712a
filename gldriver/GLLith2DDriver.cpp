#include "gldriver/GLLith2DDriver.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "gldriver/GraphicsBackends.h"
#include "maths/Maths.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TGLImageFrame::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGLImageFrame>("TGLImageFrame", [](auto& d) {
    d.template Field<&TGLImageFrame::_u0>("u0");
    d.template Field<&TGLImageFrame::_v0>("v0");
    d.template Field<&TGLImageFrame::_u1>("u1");
    d.template Field<&TGLImageFrame::_v1>("v1");
    d.template Field<&TGLImageFrame::_uscale>("uscale");
    d.template Field<&TGLImageFrame::_vscale>("vscale");
    d.template Field<&TGLImageFrame::_name>("name");
    d.template Field<&TGLImageFrame::_seq>("seq");
    d.template Method<&TGLImageFrame::Draw>("Draw");
    d.template Function<&TGLImageFrame::CreateFromPixmap>("CreateFromPixmap");
  });
  return record;
}

const ClassRecord& TGLLith2DDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGLLith2DDriver>("TGLLith2DDriver", [](auto& d) {
    d.template Method<&TGLLith2DDriver::Create>("Create");
    d.template Method<&TGLLith2DDriver::ResetGLContext>("ResetGLContext");
  });
  return record;
}

namespace {

Ref<TPixmap> AsRgba(TPixmap* pixmap) {
  return pixmap->format == PIXFMT_RGBA32 ? Ref<TPixmap>(pixmap) : pixmap->Convert(PIXFMT_RGBA32);
}

// Uploads the RGBA pixmap into the bound texture, level by level.
void UploadTexture(Ref<TPixmap> pixmap, int32_t flags, GLFrameCounters& counters) {
  bool mipmapped = flags & IMAGEFLAG_MIPMAPPED;
  for (int32_t level = 0;; ++level) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, pixmap->pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, pixmap->width, pixmap->height, GL_RGBA, GL_UNSIGNED_BYTE,
                    pixmap->pixels);
    counters.stateChanges += 2;
    counters.uploads += 1;
    counters.uploadBytes += int64_t(pixmap->width) * pixmap->height * 4;
    int32_t w = pixmap->width, h = pixmap->height;
    if (!mipmapped || (w == 1 && h == 1)) break;
    pixmap = ScalePixmap(pixmap, w > 1 ? w / 2 : 1, h > 1 ? h / 2 : 1);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  counters.stateChanges += 1;
}

void Ortho(float width, float height) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}
constexpr int64_t kOrthoCalls = 5;

// Sizes of textures other than powers of two are core from OpenGL 2.0.
bool AnyTextureSize() {
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version && version[0] >= '2' && version[0] <= '9') return true;
  const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  return extensions && std::strstr(extensions, "GL_ARB_texture_non_power_of_two");
}

// OpenGL 1.5's buffer objects, looked up once; null where the context has
// none (the batches are then drawn from client memory).
struct BufferCalls {
  PFNGLGENBUFFERSPROC gen = nullptr;
  PFNGLBINDBUFFERPROC bind = nullptr;
  PFNGLBUFFERDATAPROC data = nullptr;
  PFNGLBUFFERSUBDATAPROC subData = nullptr;
  PFNGLDELETEBUFFERSPROC erase = nullptr;
};

// The sprite batches are drawn in whole numbers of this many quads.
constexpr std::size_t kQuadStep = 1024;

const BufferCalls* Buffers() {
  static const BufferCalls calls = [] {
    BufferCalls c;
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    bool core = version && (version[0] > '1' || (version[0] == '1' && version[2] >= '5'));
    if (!core) return c;
    c.gen = reinterpret_cast<PFNGLGENBUFFERSPROC>(SDL_GL_GetProcAddress("glGenBuffers"));
    c.bind = reinterpret_cast<PFNGLBINDBUFFERPROC>(SDL_GL_GetProcAddress("glBindBuffer"));
    c.data = reinterpret_cast<PFNGLBUFFERDATAPROC>(SDL_GL_GetProcAddress("glBufferData"));
    c.subData = reinterpret_cast<PFNGLBUFFERSUBDATAPROC>(SDL_GL_GetProcAddress("glBufferSubData"));
    c.erase = reinterpret_cast<PFNGLDELETEBUFFERSPROC>(SDL_GL_GetProcAddress("glDeleteBuffers"));
    if (!c.gen || !c.bind || !c.data || !c.subData || !c.erase) c = {};
    return c;
  }();
  return calls.gen ? &calls : nullptr;
}

}  // namespace

// The texture DrawPixmap keeps of a pixmap, owned by the pixmap.
class GLPixmapTexture final : public PixmapAttachment {
 public:
  explicit GLPixmapTexture(TGLLith2DDriver* driver) : _driver(driver) {
    _driver->_pixmapTextureList.push_back(this);
  }
  GLPixmapTexture(const GLPixmapTexture&) = delete;
  GLPixmapTexture& operator=(const GLPixmapTexture&) = delete;
  // The pixmap is being freed, maybe while another context is current or
  // none: the name is deleted later, in its own context.
  ~GLPixmapTexture() override {
    auto& list = _driver->_pixmapTextureList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (record && name) _driver->_pendingDeletions.emplace_back(record, name);
  }

  GLWindowRecord* record = nullptr;  // the context the texture was made in; nullptr: none
  GLuint name = 0;
  // What the texture was made from and what it holds.
  uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0, pitch = 0, format = 0;
  uint64_t uploaded = 0;  // the pixmap's change count at the last upload

 private:
  TGLLith2DDriver* _driver;  // the singleton, which outlives every pixmap
};

// ---------------------------------------------------------------------------
// TGLImageFrame

TGLImageFrame::~TGLImageFrame() {
  if (!_driver.IsNull()) _driver->DeferTextureDeletion(_name, _seq);
}

void TGLImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
                         float sw, float sh) {
  // A texture of an earlier context is gone with it; the image rebuilds its
  // frame on its next draw.
  if (_name == 0 || _seq != GraphicsGeneration()) return;
  TGLLith2DDriver& driver = *_driver;
  const float local[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  float corners[8];
  for (std::size_t i = 0; i < 4; ++i) {
    driver.MapPoint(local[2 * i], local[2 * i + 1], tx, ty, corners[2 * i], corners[2 * i + 1]);
  }
  driver.TexturedQuad(_name, corners, sx * _uscale, sy * _vscale, (sx + sw) * _uscale, (sy + sh) * _vscale);
}

Ref<TGLImageFrame> TGLImageFrame::CreateFromPixmap(TGLLith2DDriver* driver, TPixmap* pixmap, int32_t flags) {
  if (!driver || !pixmap) ThrowNullObjectException();
  if (!CurrentGLRecord() || pixmap->width <= 0 || pixmap->height <= 0) return Ref<TGLImageFrame>();
  int32_t tw = pixmap->width, th = pixmap->height;
  FitTextureSize(tw, th);
  int32_t w = std::min(pixmap->width, tw), h = std::min(pixmap->height, th);
  Ref<TPixmap> source(pixmap);
  if (pixmap->width > tw || pixmap->height > th) source = ScalePixmap(pixmap, w, h);
  Ref<TPixmap> texels;
  if (w < tw || h < th) {
    // The texture's padding repeats the last column and row, so filtering at
    // the image's edges does not pull in black.
    texels = NewPixmap(tw, th, PIXFMT_RGBA32, 4);
    texels->ClearPixels(0);
    texels->Paste(source, 0, 0);
    if (w < tw) texels->Paste(source->Window(w - 1, 0, 1, h), w, 0);
    if (h < th) texels->Paste(source->Window(0, h - 1, w, 1), 0, h);
    if (w < tw && h < th) texels->Paste(source->Window(w - 1, h - 1, 1, 1), w, h);
  } else {
    texels = AsRgba(source);
  }
  Ref<TGLImageFrame> frame = New<TGLImageFrame>();
  frame->_driver = driver;
  frame->_name = static_cast<int32_t>(driver->CreateTexture(tw, th, flags));
  UploadTexture(texels, flags, driver->_frame);
  frame->_uscale = 1.0f / static_cast<float>(tw);
  frame->_vscale = 1.0f / static_cast<float>(th);
  frame->_u1 = static_cast<float>(w) * frame->_uscale;
  frame->_v1 = static_cast<float>(h) * frame->_vscale;
  frame->_seq = GraphicsGeneration();
  return frame;
}

// ---------------------------------------------------------------------------
// TGLLith2DDriver: graphics

Ref<String> TGLLith2DDriver::ToString() { return Ref<String>(u"OpenGL"_vs); }

Ref<Array> TGLLith2DDriver::GraphicsModes() { return OpenGLGraphicsDriver()->GraphicsModes(); }

Ref<TGraphics> TGLLith2DDriver::AttachGraphics(int32_t widget, int32_t flags) {
  Ref<TGraphics> graphics = OpenGLGraphicsDriver()->AttachGraphics(widget, flags);
  if (graphics.IsNull()) return graphics;
  return TLith2DGraphics::Create(graphics, this);
}

Ref<TGraphics> TGLLith2DDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                               int32_t flags) {
  Ref<TGraphics> graphics = OpenGLGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
  if (graphics.IsNull()) return graphics;
  return TLith2DGraphics::Create(graphics, this);
}

int32_t TGLLith2DDriver::SetGraphics(TGraphics* graphics) {
  FlushBatch();
  auto* g = CastRaw<TLith2DGraphics>(graphics);
  if (!g) {
    TLith2DGraphics::ClearCurrent();
    OpenGLGraphicsDriver()->SetGraphics(nullptr);
    return 0;
  }
  OpenGLGraphicsDriver()->SetGraphics(g->Wrapped());
  ResetGLContext(g);
  g->MakeCurrent();
  return 0;
}

namespace {

// Mesa's software rasteriser makes a block of a few hundred KB for each large
// draw of quads and frees it again, among the other blocks of the frame; the
// holes this leaves in the heap are touched pages that malloc keeps. Every
// few seconds the free pages go back to the system, so that a long run does
// not grow by megabytes of them. (Mapping such blocks instead, with a fixed
// mmap threshold, costs a third of the frame rate in page faults.)
void ReturnFreePages() {
#if defined(__GLIBC__)
  static uint64_t next = 0;
  const uint64_t now = SDL_GetTicks64();
  if (now < next) return;
  next = now + 4000;
  malloc_trim(0);
#endif
}

}  // namespace

int32_t TGLLith2DDriver::Flip(int32_t sync) {
  FlushBatch();
  DeletePendingTextures(CurrentGLRecord());
  _lastFrame = _frame;
  _frame = {};
  ReturnFreePages();
  return OpenGLGraphicsDriver()->Flip(sync);
}

Ref<TGLLith2DDriver> TGLLith2DDriver::Create() {
  return OpenGLGraphicsDriver() ? Ref<TGLLith2DDriver>(this) : Ref<TGLLith2DDriver>();
}

void TGLLith2DDriver::ResetGLContext(TGraphics* graphics) {
  int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  if (graphics) graphics->GetSettings(width, height, depth, hertz, flags);
  _batch.clear();
  _batchTexture = 0;
  _blend = 0;
  _boundTexture = 0;
  _texturing = false;
  glDisable(GL_TEXTURE_2D);
  // The cached colour is kept across contexts: give it to this one, so that
  // a SetColor or SetAlpha equal to the cache can skip the GL call.
  glColor4ubv(_color);
  Ortho(static_cast<float>(width), static_cast<float>(height));
  glViewport(0, 0, width, height);
  _frame.stateChanges += 3 + kOrthoCalls;
  _orthoWidth = static_cast<float>(width);
  _orthoHeight = static_cast<float>(height);
  _viewWidth = width;
  _viewHeight = height;
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  _maxTextureSize = maxSize;
  _anyTextureSize = AnyTextureSize();
}

Ref<TImageFrame> TGLLith2DDriver::CreateFrameFromPixmap(TPixmap* pixmap, int32_t flags) {
  return TGLImageFrame::CreateFromPixmap(this, pixmap, flags);
}

// ---------------------------------------------------------------------------
// State

void TGLLith2DDriver::SetBlend(int32_t blend) {
  if (blend == _blend) return;
  FlushBatch();
  _blend = blend;
  _frame.stateChanges += blend >= BLEND_MASK && blend <= BLEND_SHADE && blend != BLEND_SOLID ? 3 : 2;
  switch (blend) {
    case BLEND_MASK:
      glEnable(GL_ALPHA_TEST);
      glAlphaFunc(GL_GEQUAL, 0.5f);
      glDisable(GL_BLEND);
      break;
    case BLEND_ALPHA:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glDisable(GL_ALPHA_TEST);
      break;
    case BLEND_LIGHT:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE);
      glDisable(GL_ALPHA_TEST);
      break;
    case BLEND_SHADE:
      glEnable(GL_BLEND);
      glBlendFunc(GL_DST_COLOR, GL_ZERO);
      glDisable(GL_ALPHA_TEST);
      break;
    default:
      glDisable(GL_BLEND);
      glDisable(GL_ALPHA_TEST);
      break;
  }
}

void TGLLith2DDriver::SetAlpha(float alpha) {
  if (alpha > 1.0f) alpha = 1.0f;
  if (!(alpha >= 0.0f)) alpha = 0.0f;
  auto a = static_cast<uint8_t>(static_cast<int32_t>(alpha * 255.0f));
  if (a == _color[3]) return;
  FlushBatch();
  _color[3] = a;
  glColor4ubv(_color);
  ++_frame.stateChanges;
}

void TGLLith2DDriver::SetColor(int32_t red, int32_t green, int32_t blue) {
  auto clamp = [](int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
  uint8_t r = clamp(red), g = clamp(green), b = clamp(blue);
  if (r == _color[0] && g == _color[1] && b == _color[2]) return;
  FlushBatch();
  _color[0] = r;
  _color[1] = g;
  _color[2] = b;
  glColor4ubv(_color);
  ++_frame.stateChanges;
}

void TGLLith2DDriver::SetClsColor(int32_t red, int32_t green, int32_t blue) {
  auto unit = [](int32_t v) { return static_cast<float>(std::clamp(v, 0, 255)) / 255.0f; };
  glClearColor(unit(red), unit(green), unit(blue), 1.0f);
  ++_frame.stateChanges;
}

int32_t TGLLith2DDriver::DeviceHeight() const {
  GLWindowRecord* record = CurrentGLRecord();
  return record ? record->height : 0;
}

void TGLLith2DDriver::SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
  FlushBatch();
  GLWindowRecord* record = CurrentGLRecord();
  int32_t deviceWidth = record ? record->width : 0, deviceHeight = DeviceHeight();
  if (x == 0 && y == 0 && width == deviceWidth && height == deviceHeight) {
    glDisable(GL_SCISSOR_TEST);
    ++_frame.stateChanges;
    return;
  }
  // The scissor box is the viewport cut to the device (empty when they do
  // not meet), so that no value overflows on its way to GL.
  int64_t left = std::clamp<int64_t>(x, 0, deviceWidth);
  int64_t right = std::clamp<int64_t>(int64_t(x) + std::max(width, 0), left, deviceWidth);
  int64_t top = std::clamp<int64_t>(y, 0, deviceHeight);
  int64_t bottom = std::clamp<int64_t>(int64_t(y) + std::max(height, 0), top, deviceHeight);
  _frame.stateChanges += 2;
  glEnable(GL_SCISSOR_TEST);
  glScissor(static_cast<GLint>(left), static_cast<GLint>(deviceHeight - bottom),
            static_cast<GLsizei>(right - left), static_cast<GLsizei>(bottom - top));
}

void TGLLith2DDriver::SetTransform(float ix, float iy, float jx, float jy) {
  _ix = ix;
  _iy = iy;
  _jx = jx;
  _jy = jy;
}

void TGLLith2DDriver::SetLineWidth(float width) {
  FlushBatch();
  glLineWidth(width);
  ++_frame.stateChanges;
}

void TGLLith2DDriver::SetResolution(float width, float height) {
  FlushBatch();
  Ortho(width, height);
  _frame.stateChanges += kOrthoCalls;
  _orthoWidth = width;
  _orthoHeight = height;
}

// ---------------------------------------------------------------------------
// Drawing

void TGLLith2DDriver::MapPoint(float px, float py, float tx, float ty, float& x, float& y) const {
  x = px * _ix + py * _iy + tx;
  y = px * _jx + py * _jy + ty;
}

void TGLLith2DDriver::BindTexture(int32_t texture) {
  if (texture == _boundTexture) return;
  FlushBatch();
  _boundTexture = texture;
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
  ++_frame.stateChanges;
}

void TGLLith2DDriver::DisableTexturing() {
  if (!_texturing) return;
  FlushBatch();
  _texturing = false;
  glDisable(GL_TEXTURE_2D);
  ++_frame.stateChanges;
}

void TGLLith2DDriver::TexturedQuad(int32_t texture, const float* corners, float u0, float v0, float u1,
                                   float v1) {
  if (texture != _batchTexture) FlushBatch();
  BindTexture(texture);
  if (!_texturing) {
    FlushBatch();
    _texturing = true;
    glEnable(GL_TEXTURE_2D);
    ++_frame.stateChanges;
  }
  _batchTexture = texture;
  const float uv[8] = {u0, v0, u1, v0, u1, v1, u0, v1};
  for (std::size_t i = 0; i < 4; ++i) {
    _batch.insert(_batch.end(), {corners[2 * i], corners[2 * i + 1], uv[2 * i], uv[2 * i + 1]});
  }
}

void TGLLith2DDriver::FlushBatch() {
  if (_batch.empty()) return;
  // The batch is drawn as quads, the GL's fast path for them (the same quads
  // as indexed triangles draw at half the rate on Mesa's software
  // rasteriser). A large batch is padded with empty quads to a whole number
  // of kQuadStep: the GL makes blocks for each draw sized by its count, and
  // large counts that change every frame (the visible flakes) fragment the
  // heap over a long run; a few sizes do not, and small blocks come from
  // malloc's bins. An empty quad has its four corners on one point and
  // covers no pixel.
  const std::size_t quads = _batch.size() / 16;
  const std::size_t padded = quads <= kQuadStep ? quads : (quads + kQuadStep - 1) / kQuadStep * kQuadStep;
  _batch.resize(padded * 16, -16.0f);
  // The vertices go through a buffer of the window's context, into a store
  // of a size that settles at once, so that the GL does not copy them from
  // client memory into new blocks either.
  const BufferCalls* gl = Buffers();
  GLWindowRecord* record = CurrentGLRecord();
  VertexBuffer* buffer = nullptr;
  if (gl && record && record->kind != 0) {
    auto found = std::find_if(_vertexBuffers.begin(), _vertexBuffers.end(),
                              [&](const VertexBuffer& b) { return b.record == record; });
    if (found == _vertexBuffers.end()) {
      GLuint name = 0;
      gl->gen(1, &name);
      if (name) found = _vertexBuffers.insert(_vertexBuffers.end(), {record, name, 0});
    }
    if (found != _vertexBuffers.end()) buffer = &*found;
  }
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  const void* positions = _batch.data();
  const void* coords = _batch.data() + 2;
  if (buffer) {
    const std::size_t bytes = _batch.size() * sizeof(float);
    // Grown in powers of two, so the sizes settle at once.
    std::size_t size = std::max<std::size_t>(buffer->bytes, 64 << 10);
    while (size < bytes) size *= 2;
    buffer->bytes = size;
    gl->bind(GL_ARRAY_BUFFER, buffer->name);
    gl->data(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(size), nullptr, GL_STREAM_DRAW);
    gl->subData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), _batch.data());
    // With a buffer bound, GL takes offsets into it in place of pointers.
    positions = nullptr;
    coords = reinterpret_cast<const void*>(2 * sizeof(float));  // NOLINT(performance-no-int-to-ptr)
  }
  glVertexPointer(2, GL_FLOAT, 4 * sizeof(float), positions);
  glTexCoordPointer(2, GL_FLOAT, 4 * sizeof(float), coords);
  glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(padded * 4));
  if (buffer) {
    gl->bind(GL_ARRAY_BUFFER, 0);
    _frame.stateChanges += 2;
  }
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  _frame.stateChanges += 6;
  ++_frame.drawCalls;
  _batch.clear();
}

uint32_t TGLLith2DDriver::CreateTexture(int32_t tw, int32_t th, int32_t flags) {
  FlushBatch();
  int32_t generation = GraphicsGeneration();
  if (_deferredGeneration == generation && !_deferred.empty()) {
    DeleteTextures(_deferred.data(), static_cast<int32_t>(_deferred.size()));
  }
  _deferred.clear();
  _deferredGeneration = generation;

  GLuint name = 0;
  glGenTextures(1, &name);
  BindTexture(static_cast<int32_t>(name));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  bool mipmapped = flags & IMAGEFLAG_MIPMAPPED;
  if (flags & IMAGEFLAG_FILTERED) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
  }
  _frame.stateChanges += 4;
  int32_t level = 0;
  for (;;) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    ++_frame.stateChanges;
    if (!mipmapped || (tw == 1 && th == 1)) break;
    if (tw > 1) tw /= 2;
    if (th > 1) th /= 2;
    ++level;
  }
  return name;
}

void TGLLith2DDriver::DeleteTextures(const uint32_t* names, int32_t count) {
  if (count <= 0) return;
  glDeleteTextures(count, names);
  ++_frame.stateChanges;
  // A deleted bound texture leaves the binding at 0, and the name may come
  // back from glGenTextures: the cache must not claim it is still bound.
  if (std::find(names, names + count, static_cast<uint32_t>(_boundTexture)) != names + count)
    _boundTexture = 0;
}

void TGLLith2DDriver::DeferTextureDeletion(int32_t name, int32_t generation) {
  if (name != 0 && generation == _deferredGeneration) _deferred.push_back(static_cast<GLuint>(name));
}

void TGLLith2DDriver::Cls() {
  FlushBatch();
  glClear(GL_COLOR_BUFFER_BIT);
}

void TGLLith2DDriver::Plot(float x, float y) {
  DisableTexturing();
  FlushBatch();
  glBegin(GL_POINTS);
  glVertex2f(x + 0.5f, y + 0.5f);
  glEnd();
  ++_frame.drawCalls;
}

void TGLLith2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  DisableTexturing();
  FlushBatch();
  float ax = 0, ay = 0, bx = 0, by = 0;
  MapPoint(x0, y0, tx, ty, ax, ay);
  MapPoint(x1, y1, tx, ty, bx, by);
  glBegin(GL_LINES);
  glVertex2f(ax + 0.5f, ay + 0.5f);
  glVertex2f(bx + 0.5f, by + 0.5f);
  glEnd();
  ++_frame.drawCalls;
}

void TGLLith2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  DisableTexturing();
  FlushBatch();
  const float corners[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
  glBegin(GL_QUADS);
  for (std::size_t i = 0; i < 4; ++i) {
    float x = 0, y = 0;
    MapPoint(corners[2 * i], corners[2 * i + 1], tx, ty, x, y);
    glVertex2f(x, y);
  }
  glEnd();
  ++_frame.drawCalls;
}

void TGLLith2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  float rx = (x1 - x0) * 0.5f, ry = (y1 - y0) * 0.5f;
  float extent = std::fabs(rx) + std::fabs(ry);
  if (!std::isfinite(extent) || !std::isfinite(x0) || !std::isfinite(y0)) return;
  DisableTexturing();
  FlushBatch();
  int32_t segments = extent < kMaxOvalSegments ? static_cast<int32_t>(extent) : kMaxOvalSegments;
  if (segments < 12) segments = 12;
  segments &= ~3;
  float cx = x0 + rx, cy = y0 + ry;
  glBegin(GL_POLYGON);
  for (int32_t i = 0; i < segments; ++i) {
    double t = double(i) * 360.0 / segments;
    float x = 0, y = 0;
    MapPoint(cx + static_cast<float>(Cos(t)) * rx, cy - static_cast<float>(Sin(t)) * ry, tx, ty, x, y);
    glVertex2f(x, y);
  }
  glEnd();
  ++_frame.drawCalls;
}

void TGLLith2DDriver::DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY) {
  if (!xy || xy->Length() < 6 || (xy->Length() & 1) || xy->Tag()[0] != 'f') return;
  DisableTexturing();
  FlushBatch();
  const float* points = xy->DataAs<float>();
  glBegin(GL_POLYGON);
  for (int32_t i = 0; i < xy->Length(); i += 2) {
    float x = 0, y = 0;
    MapPoint(points[i] + handleX, points[i + 1] + handleY, originX, originY, x, y);
    glVertex2f(x, y);
  }
  glEnd();
  ++_frame.drawCalls;
}

void TGLLith2DDriver::DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) {
  if (!pixmap) ThrowNullObjectException();
  FlushBatch();
  DeletePendingTextures(CurrentGLRecord());
  GLPixmapTexture* texture = PixmapTexture(pixmap);
  if (!texture) {
    DrawPixmapFromMemory(pixmap, x, y);
    return;
  }
  int32_t blend = _blend;
  SetBlend(BLEND_SOLID);
  BindTexture(static_cast<int32_t>(texture->name));
  if (!_texturing) {
    _texturing = true;
    glEnable(GL_TEXTURE_2D);
    ++_frame.stateChanges;
  }
  // The texels replace the colour, so the current colour and alpha do not
  // apply; the quad covers the pixmap's pixels 1:1 in window pixels from
  // (x, y), whatever the logical resolution, as glDrawPixels would place it.
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  double sx = double(_orthoWidth) / _viewWidth, sy = double(_orthoHeight) / _viewHeight;
  auto lx = [&](int64_t px) { return static_cast<float>(double(px) * sx); };
  auto ly = [&](int64_t py) { return static_cast<float>(double(py) * sy); };
  int64_t x1 = int64_t(x) + pixmap->width, y1 = int64_t(y) + pixmap->height;
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(lx(x), ly(y));
  glTexCoord2f(1, 0);
  glVertex2f(lx(x1), ly(y));
  glTexCoord2f(1, 1);
  glVertex2f(lx(x1), ly(y1));
  glTexCoord2f(0, 1);
  glVertex2f(lx(x), ly(y1));
  glEnd();
  ++_frame.drawCalls;
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  _frame.stateChanges += 2;
  SetBlend(blend);
}

void TGLLith2DDriver::DrawPixmapFromMemory(TPixmap* pixmap, int32_t x, int32_t y) {
  int32_t blend = _blend;
  DisableTexturing();
  SetBlend(BLEND_SOLID);
  // RGB and RGBA rows go to GL as they are; other formats are converted to
  // RGBA first. Either way GL sees the same colours with full alpha.
  Ref<TPixmap> source(pixmap);
  GLenum format = GL_RGBA;
  int32_t bytes = 4;
  if (pixmap->format == PIXFMT_RGB24 && pixmap->pitch % 3 == 0) {
    format = GL_RGB;
    bytes = 3;
  } else if (pixmap->format != PIXFMT_RGBA32 || pixmap->pitch % 4 != 0) {
    source = pixmap->Convert(PIXFMT_RGBA32);
  }
  glPixelZoom(1.0f, -1.0f);
  glRasterPos2i(0, 0);
  glBitmap(0, 0, 0, 0, static_cast<float>(x), static_cast<float>(-y), nullptr);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, source->pitch / bytes);
  glDrawPixels(source->width, source->height, format, GL_UNSIGNED_BYTE, source->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelZoom(1.0f, 1.0f);
  _frame.stateChanges += 8;
  ++_frame.drawCalls;
  ++_frame.uploads;
  _frame.uploadBytes += int64_t(source->width) * source->height * bytes;
  SetBlend(blend);
}

GLPixmapTexture* TGLLith2DDriver::PixmapTexture(TPixmap* pixmap) {
  GLWindowRecord* record = CurrentGLRecord();
  bool projected = std::isfinite(_orthoWidth) && std::isfinite(_orthoHeight) && _orthoWidth != 0 &&
                   _orthoHeight != 0 && _viewWidth > 0 && _viewHeight > 0;
  if (!_pixmapTextures || !record || !projected || !_anyTextureSize || pixmap->width <= 0 ||
      pixmap->height <= 0 || pixmap->width > _maxTextureSize || pixmap->height > _maxTextureSize ||
      !pixmap->pixels) {
    return nullptr;
  }
  auto* texture = dynamic_cast<GLPixmapTexture*>(pixmap->Attachment());
  if (!texture) {
    auto made = std::make_unique<GLPixmapTexture>(this);
    texture = made.get();
    pixmap->SetAttachment(std::move(made));
  }
  bool fresh = texture->record != record || texture->name == 0 || texture->width != pixmap->width ||
               texture->height != pixmap->height;
  if (fresh) {
    // A texture of another context, or of another size: made again here.
    if (texture->record && texture->name) _pendingDeletions.emplace_back(texture->record, texture->name);
    GLuint name = 0;
    glGenTextures(1, &name);
    texture->record = record;
    texture->name = name;
    texture->width = pixmap->width;
    texture->height = pixmap->height;
    BindTexture(static_cast<int32_t>(name));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, pixmap->width, pixmap->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    _frame.stateChanges += 5;
  }
  uint64_t count = pixmap->ChangeCount();
  bool sameMemory = texture->pixels == pixmap->pixels && texture->pitch == pixmap->pitch &&
                    texture->format == pixmap->format;
  if (!fresh && sameMemory && texture->uploaded == count) return texture;
  BindTexture(static_cast<int32_t>(texture->name));
  PixmapArea whole{0, 0, pixmap->width, pixmap->height};
  if (fresh || !sameMemory || !pixmap->ChangedAreas(texture->uploaded, _areas)) {
    UploadPixmapArea(pixmap, whole);
  } else {
    for (const PixmapArea& area : _areas) UploadPixmapArea(pixmap, area);
  }
  pixmap->TrackChanges();
  texture->pixels = pixmap->pixels;
  texture->pitch = pixmap->pitch;
  texture->format = pixmap->format;
  texture->uploaded = count;
  return texture;
}

void TGLLith2DDriver::UploadPixmapArea(TPixmap* pixmap, const PixmapArea& area) {
  // RGB and RGBA rows go to GL as they lie in memory when GL can step from
  // row to row: a pitch of whole pixels, or the width rounded up to an
  // alignment GL knows.
  GLenum format = pixmap->format == PIXFMT_RGB24 ? GL_RGB : GL_RGBA;
  int32_t bytes = pixmap->format == PIXFMT_RGB24 ? 3 : 4, rowLength = 0, alignment = 0;
  if (pixmap->format == PIXFMT_RGB24 || pixmap->format == PIXFMT_RGBA32) {
    if (pixmap->pitch % bytes == 0) {
      rowLength = pixmap->pitch / bytes;
      alignment = 1;
    } else {
      int64_t rowBytes = int64_t(pixmap->width) * bytes;
      for (int32_t a : {2, 4, 8}) {
        if ((rowBytes + a - 1) / a * a == pixmap->pitch) {
          rowLength = pixmap->width;
          alignment = a;
          break;
        }
      }
    }
  }
  const uint8_t* data = nullptr;
  if (alignment) {
    data = pixmap->PixelPtr(area.x, area.y);
  } else {
    // The same colours GL would see from a pixmap converted to RGBA.
    format = GL_RGBA;
    bytes = 4;
    _converted.resize(std::size_t(area.width) * std::size_t(area.height) * 4);
    for (int32_t row = 0; row < area.height; ++row) {
      ConvertPixels(pixmap->PixelPtr(area.x, area.y + row), pixmap->format,
                    _converted.data() + std::size_t(row) * std::size_t(area.width) * 4, PIXFMT_RGBA32,
                    area.width);
    }
    data = _converted.data();
    rowLength = area.width;
    alignment = 1;
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
  glTexSubImage2D(GL_TEXTURE_2D, 0, area.x, area.y, area.width, area.height, format, GL_UNSIGNED_BYTE, data);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  _frame.stateChanges += 4;
  ++_frame.uploads;
  _frame.uploadBytes += int64_t(area.width) * area.height * bytes;
}

void TGLLith2DDriver::DeletePendingTextures(GLWindowRecord* record) {
  if (!record || _pendingDeletions.empty()) return;
  std::vector<uint32_t> names;
  auto kept = _pendingDeletions.begin();
  for (const auto& pending : _pendingDeletions) {
    if (pending.first == record)
      names.push_back(pending.second);
    else
      *kept++ = pending;
  }
  _pendingDeletions.erase(kept, _pendingDeletions.end());
  DeleteTextures(names.data(), static_cast<int32_t>(names.size()));
}

void TGLLith2DDriver::ReleaseContext(GLWindowRecord* record) {
  if (CurrentGLRecord() == record) FlushBatch();
  DeletePendingTextures(record);
  // The hook runs with the record's context current.
  for (auto it = _vertexBuffers.begin(); it != _vertexBuffers.end();) {
    if (it->record != record) {
      ++it;
      continue;
    }
    if (const BufferCalls* gl = Buffers()) gl->erase(1, &it->name);
    it = _vertexBuffers.erase(it);
  }
  std::vector<uint32_t> names;
  for (GLPixmapTexture* texture : _pixmapTextureList) {
    if (texture->record != record) continue;
    if (texture->name) names.push_back(texture->name);
    texture->record = nullptr;
    texture->name = 0;
  }
  DeleteTextures(names.data(), static_cast<int32_t>(names.size()));
}

int32_t TGLLith2DDriver::PixmapTextureName(TPixmap* pixmap) const {
  auto* texture = pixmap ? dynamic_cast<GLPixmapTexture*>(pixmap->Attachment()) : nullptr;
  if (!texture || !texture->record || texture->record != CurrentGLRecord()) return 0;
  return static_cast<int32_t>(texture->name);
}

Ref<TPixmap> TGLLith2DDriver::GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) {
  FlushBatch();
  int32_t blend = _blend;
  SetBlend(BLEND_SOLID);
  Ref<TPixmap> pixmap = NewPixmap(width, height, PIXFMT_RGBA32, 4);
  if (width > 0 && height > 0) {
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, pixmap->pitch / 4);
    int64_t row = int64_t(DeviceHeight()) - y - height;
    glReadPixels(x, static_cast<GLint>(std::clamp<int64_t>(row, INT32_MIN, INT32_MAX)), width, height,
                 GL_RGBA, GL_UNSIGNED_BYTE, pixmap->pixels);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  }
  SetBlend(blend);
  return MirrorPixmapY(pixmap);
}

TGLLith2DDriver* OpenGL2DDriver() {
  static auto* driver = new Ref<TGLLith2DDriver>(New<TGLLith2DDriver>());
  return driver->get();
}

// ---------------------------------------------------------------------------
// Raw helpers

namespace {
// Raw GL comes after what the 2D driver drawing into the current context
// has gathered.
void FlushCurrentBatch() {
  if (auto* driver = CastRaw<TGLLith2DDriver>(CurrentLith2DDriver())) driver->FlushBatch();
}
}  // namespace

void BeginRaw2D() {
  FlushCurrentBatch();
  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1] + viewport[3], viewport[1], -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_DEPTH_TEST);
}

void EndRaw2D() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}

int32_t NextPow2(int32_t n) {
  int32_t t = 1;
  while (t < n && t < (1 << 30)) t <<= 1;
  return t;
}

void FitTextureSize(int32_t& width, int32_t& height) {
  int32_t tw = NextPow2(width), th = NextPow2(height);
  for (;;) {
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint reported = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &reported);
    if (reported != 0) break;
    if (tw == 1 && th == 1) vrRuntimeError("Unable to calculate tex size");
    if (tw > 1) tw /= 2;
    if (th > 1) th /= 2;
  }
  width = tw;
  height = th;
}

int32_t TextureFromPixmap(TPixmap* pixmap, int32_t mipmapped) {
  if (!pixmap) ThrowNullObjectException();
  Ref<TPixmap> source = AsRgba(pixmap);
  int32_t tw = source->width, th = source->height;
  FitTextureSize(tw, th);
  if (tw != source->width || th != source->height) source = ScalePixmap(source, tw, th);
  FlushCurrentBatch();
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  for (int32_t level = 0;; ++level) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, source->pitch / 4);
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, source->width, source->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 source->pixels);
    int32_t w = source->width, h = source->height;
    if (!mipmapped || (w == 1 && h == 1)) break;
    source = ScalePixmap(source, w > 1 ? w / 2 : 1, h > 1 ? h / 2 : 1);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
  return static_cast<int32_t>(name);
}

void GLRectAt(int32_t x, int32_t y, int32_t width, int32_t height) {
  BeginRaw2D();
  glDisable(GL_TEXTURE_2D);
  glBegin(GL_QUADS);
  glVertex2i(x, y);
  glVertex2i(x + width, y);
  glVertex2i(x + width, y + height);
  glVertex2i(x, y + height);
  glEnd();
  EndRaw2D();
}

void GLPixmapAt(TPixmap* pixmap, int32_t x, int32_t y) {
  if (!pixmap) ThrowNullObjectException();
  Ref<TPixmap> flipped = MirrorPixmapY(AsRgba(pixmap));
  BeginRaw2D();
  glRasterPos2i(0, 0);
  glBitmap(0, 0, 0, 0, static_cast<float>(x), static_cast<float>(-(y + flipped->height)), nullptr);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, flipped->pitch / 4);
  glDrawPixels(flipped->width, flipped->height, GL_RGBA, GL_UNSIGNED_BYTE, flipped->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  EndRaw2D();
}

void gl2d::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  InitGraphicsBackends();
}

void gl2d::InitBackend() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  glgraphics::Init();
  lith2d::Init();
  vrRegisterClass(TGLImageFrame::StaticClass());
  vrRegisterClass(TGLLith2DDriver::StaticClass());
  SetGLContextClosingHook([](GLWindowRecord* record) { OpenGL2DDriver()->ReleaseContext(record); });
  Ref<TGLLith2DDriver> driver = OpenGL2DDriver()->Create();
  if (!driver.IsNull()) SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
}

}  // namespace vrl
