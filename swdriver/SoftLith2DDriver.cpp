#include "swdriver/SoftLith2DDriver.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "maths/Maths.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TSoftImageFrame::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSoftImageFrame>("TSoftImageFrame", [](auto& d) {
    d.template Field<&TSoftImageFrame::_seq>("seq");
    d.template Method<&TSoftImageFrame::Draw>("Draw");
    d.template Function<&TSoftImageFrame::CreateFromPixmap>("CreateFromPixmap");
  });
  return record;
}

VRL_CLASS_RECORD(TSoftLith2DDriver, "TSoftLith2DDriver")

namespace {

// The largest texture side; larger pictures are scaled down to fit, as
// OpenGL's texture size limit makes the OpenGL driver do.
constexpr int32_t kMaxTextureSide = 8192;

int32_t NextPowerOfTwo(int32_t n) {
  int32_t t = 1;
  while (t < n && t < kMaxTextureSide) t <<= 1;
  return t;
}

uint8_t ToByte(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// The texels of an RGBA32 pixmap as 0xAARRGGBB, rows packed.
void ToLevel(TPixmap* pixmap, std::vector<uint32_t>& texels, int32_t& width, int32_t& height) {
  Ref<TPixmap> rgba(pixmap);
  if (pixmap->format != PIXFMT_RGBA32) rgba = pixmap->Convert(PIXFMT_RGBA32);
  width = rgba->width;
  height = rgba->height;
  texels.resize(std::size_t(width) * std::size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* p = rgba->PixelPtr(0, y);
    uint32_t* out = texels.data() + std::ptrdiff_t(y) * width;
    for (int32_t x = 0; x < width; ++x, p += 4) {
      out[x] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TSoftImageFrame

TSoftImageFrame::~TSoftImageFrame() {
  if (!_driver.IsNull()) _driver->_raster.Flush();
}

void TSoftImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
                           float sw, float sh) {
  if (_seq != GraphicsGeneration()) return;
  TSoftLith2DDriver& driver = *_driver;
  if (driver._graphics.IsNull()) return;
  const soft::Point2 corners[4] = {driver.Map(x0, y0, tx, ty), driver.Map(x1, y0, tx, ty),
                                   driver.Map(x1, y1, tx, ty), driver.Map(x0, y1, tx, ty)};
  driver._raster.TexturedQuad(corners, sx, sy, sx + sw, sy + sh, _texture);
}

Ref<TSoftImageFrame> TSoftImageFrame::CreateFromPixmap(TSoftLith2DDriver* driver, TPixmap* pixmap,
                                                       int32_t flags) {
  if (!driver || !pixmap) ThrowNullObjectException();
  if (pixmap->width <= 0 || pixmap->height <= 0) return Ref<TSoftImageFrame>();
  int32_t tw = NextPowerOfTwo(pixmap->width), th = NextPowerOfTwo(pixmap->height);
  int32_t w = std::min(pixmap->width, tw), h = std::min(pixmap->height, th);
  Ref<TPixmap> source(pixmap);
  if (pixmap->width > tw || pixmap->height > th) source = ScalePixmap(pixmap, w, h);
  // The texels as the OpenGL driver lays them out: the picture, then one
  // repeated column and row (and corner) of padding, the rest of the padding
  // transparent black.
  Ref<TPixmap> texels;
  if (w < tw || h < th) {
    texels = NewPixmap(tw, th, PIXFMT_RGBA32, 4);
    texels->ClearPixels(0);
    texels->Paste(source, 0, 0);
    if (w < tw) texels->Paste(source->Window(w - 1, 0, 1, h), w, 0);
    if (h < th) texels->Paste(source->Window(0, h - 1, w, 1), 0, h);
    if (w < tw && h < th) texels->Paste(source->Window(w - 1, h - 1, 1, 1), w, h);
  } else {
    texels = source->format == PIXFMT_RGBA32 ? source : source->Convert(PIXFMT_RGBA32);
  }
  Ref<TSoftImageFrame> frame = New<TSoftImageFrame>();
  frame->_driver = driver;
  soft::Texture& texture = frame->_texture;
  texture.filtered = (flags & IMAGEFLAG_FILTERED) != 0;
  ToLevel(texels, texture.texels, texture.width, texture.height);
  // Each further level is the one before halved, as OpenGL is given them.
  if (flags & IMAGEFLAG_MIPMAPPED) {
    Ref<TPixmap> level = texels;
    while (level->width > 1 || level->height > 1) {
      level = ScalePixmap(level, level->width > 1 ? level->width / 2 : 1,
                          level->height > 1 ? level->height / 2 : 1);
      soft::TextureLevel& next = texture.mipmaps.emplace_back();
      ToLevel(level, next.texels, next.width, next.height);
    }
  }
  frame->_seq = GraphicsGeneration();
  return frame;
}

// ---------------------------------------------------------------------------
// TSoftLith2DDriver: graphics

Ref<String> TSoftLith2DDriver::ToString() { return Ref<String>(u"Software"_vs); }

Ref<Array> TSoftLith2DDriver::GraphicsModes() { return SoftwareGraphicsDriver()->GraphicsModes(); }

Ref<TGraphics> TSoftLith2DDriver::AttachGraphics(int32_t widget, int32_t flags) {
  Ref<TGraphics> graphics = SoftwareGraphicsDriver()->AttachGraphics(widget, flags);
  if (graphics.IsNull()) return graphics;
  return TLith2DGraphics::Create(graphics, this);
}

Ref<TGraphics> TSoftLith2DDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                                 int32_t flags) {
  Ref<TGraphics> graphics = SoftwareGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
  if (graphics.IsNull()) return graphics;
  return TLith2DGraphics::Create(graphics, this);
}

int32_t TSoftLith2DDriver::SetGraphics(TGraphics* graphics) {
  _raster.Flush();  // into the buffer of the graphics it was told of
  auto* g = CastRaw<TLith2DGraphics>(graphics);
  auto* soft = g ? CastRaw<TSoftGraphics>(g->Wrapped()) : nullptr;
  SoftwareGraphicsDriver()->SetGraphics(soft);
  _graphics = soft;
  if (soft)
    _raster.Attach(soft->Pixels(), soft->Width(), soft->Height(), soft->Width());
  else
    _raster.Attach(nullptr, 0, 0, 0);
  if (!g) {
    TLith2DGraphics::ClearCurrent();
    return 0;
  }
  _logicalWidth = static_cast<float>(_raster.Width());
  _logicalHeight = static_cast<float>(_raster.Height());
  _scaleX = _scaleY = 1;
  g->MakeCurrent();
  return 0;
}

int32_t TSoftLith2DDriver::Flip(int32_t sync) {
  _raster.Flush();
  return SoftwareGraphicsDriver()->Flip(sync);
}

Ref<TImageFrame> TSoftLith2DDriver::CreateFrameFromPixmap(TPixmap* pixmap, int32_t flags) {
  return TSoftImageFrame::CreateFromPixmap(this, pixmap, flags);
}

// ---------------------------------------------------------------------------
// State

void TSoftLith2DDriver::SetBlend(int32_t blend) { _raster.SetBlend(blend); }

void TSoftLith2DDriver::SetAlpha(float alpha) {
  if (alpha > 1.0f) alpha = 1.0f;
  if (!(alpha >= 0.0f)) alpha = 0.0f;
  _raster.SetAlpha(static_cast<uint8_t>(static_cast<int32_t>(alpha * 255.0f)));
}

void TSoftLith2DDriver::SetColor(int32_t red, int32_t green, int32_t blue) {
  _raster.SetColor(ToByte(red), ToByte(green), ToByte(blue));
}

void TSoftLith2DDriver::SetClsColor(int32_t red, int32_t green, int32_t blue) {
  _clsColor = uint32_t(ToByte(red)) << 16 | uint32_t(ToByte(green)) << 8 | ToByte(blue);
}

void TSoftLith2DDriver::SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
  _raster.SetClip(x, y, width, height);
}

void TSoftLith2DDriver::SetTransform(float ix, float iy, float jx, float jy) {
  _ix = ix;
  _iy = iy;
  _jx = jx;
  _jy = jy;
}

void TSoftLith2DDriver::SetLineWidth(float width) { _lineWidth = width; }

void TSoftLith2DDriver::SetResolution(float width, float height) {
  _logicalWidth = width;
  _logicalHeight = height;
  // A logical size that gives no finite scale draws nothing, as a
  // degenerate projection does.
  auto scale = [](int32_t device, float logical) {
    float s = static_cast<float>(device) / logical;
    return std::isfinite(s) && s > 0 ? s : 0.0f;
  };
  _scaleX = scale(_raster.Width(), width);
  _scaleY = scale(_raster.Height(), height);
}

// ---------------------------------------------------------------------------
// Drawing

soft::Point2 TSoftLith2DDriver::Map(float px, float py, float tx, float ty) const {
  return ToDevice(px * _ix + py * _iy + tx, px * _jx + py * _jy + ty);
}

void TSoftLith2DDriver::Cls() { _raster.Clear(_clsColor); }

void TSoftLith2DDriver::Plot(float x, float y) {
  soft::Point2 p = ToDevice(x + 0.5f, y + 0.5f);
  _raster.DrawPoint(p.x, p.y);
}

void TSoftLith2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  soft::Point2 a = Map(x0, y0, tx, ty), b = Map(x1, y1, tx, ty);
  // Pixel centres: the ends stand half a logical pixel in, as on OpenGL.
  soft::Point2 ca = ToDevice(0.5f, 0.5f);
  _raster.DrawLine(a.x + ca.x, a.y + ca.y, b.x + ca.x, b.y + ca.y, _lineWidth);
}

void TSoftLith2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  const soft::Point2 corners[4] = {Map(x0, y0, tx, ty), Map(x1, y0, tx, ty), Map(x1, y1, tx, ty),
                                   Map(x0, y1, tx, ty)};
  _raster.FillPolygon(corners, 4);
}

void TSoftLith2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  float rx = (x1 - x0) * 0.5f, ry = (y1 - y0) * 0.5f;
  float extent = std::fabs(rx) + std::fabs(ry);
  if (!std::isfinite(extent) || !std::isfinite(x0) || !std::isfinite(y0)) return;
  int32_t segments = extent < kMaxSoftOvalSegments ? static_cast<int32_t>(extent) : kMaxSoftOvalSegments;
  if (segments < 12) segments = 12;
  segments &= ~3;
  float cx = x0 + rx, cy = y0 + ry;
  std::vector<soft::Point2> points(static_cast<std::size_t>(segments));
  for (int32_t i = 0; i < segments; ++i) {
    double t = double(i) * 360.0 / segments;
    points[static_cast<std::size_t>(i)] =
        Map(cx + static_cast<float>(Cos(t)) * rx, cy - static_cast<float>(Sin(t)) * ry, tx, ty);
  }
  _raster.FillPolygon(points.data(), segments);
}

void TSoftLith2DDriver::DrawPoly(Array* xy, float handleX, float handleY, float originX, float originY) {
  if (!xy || xy->Length() < 6 || (xy->Length() & 1) || xy->Tag()[0] != 'f') return;
  const float* values = xy->DataAs<float>();
  std::vector<soft::Point2> points;
  points.reserve(static_cast<std::size_t>(xy->Length() / 2));
  for (int32_t i = 0; i < xy->Length(); i += 2) {
    points.push_back(Map(values[i] + handleX, values[i + 1] + handleY, originX, originY));
  }
  _raster.FillPolygon(points.data(), static_cast<int32_t>(points.size()));
}

void TSoftLith2DDriver::DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) {
  if (!pixmap) ThrowNullObjectException();
  if (_graphics.IsNull() || pixmap->width <= 0 || pixmap->height <= 0) return;
  // RGB, RGBA and BGRA rows are read as they are; other formats are
  // converted to RGBA first. Colour, blend and transform do not apply.
  Ref<TPixmap> source(pixmap);
  int32_t format = pixmap->format;
  if (format != PIXFMT_RGB24 && format != PIXFMT_RGBA32 && format != PIXFMT_BGRA32) {
    source = pixmap->Convert(PIXFMT_RGBA32);
    format = PIXFMT_RGBA32;
  }
  _raster.CopyPixels(source->pixels, source->pitch, format, source->width, source->height, x, y);
}

Ref<TPixmap> TSoftLith2DDriver::GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) {
  Ref<TPixmap> pixmap = NewPixmap(width, height, PIXFMT_RGBA32, 4);
  if (width > 0 && height > 0) _raster.ReadPixels(x, y, width, height, pixmap->pixels, pixmap->pitch);
  return pixmap;
}

TSoftLith2DDriver* Software2DDriver() {
  static auto* driver = new Ref<TSoftLith2DDriver>(New<TSoftLith2DDriver>());
  return driver->get();
}

void swdriver::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  softgraphics::Init();
  lith2d::Init();
  vrRegisterClass(TSoftImageFrame::StaticClass());
  vrRegisterClass(TSoftLith2DDriver::StaticClass());
}

}  // namespace vrl
