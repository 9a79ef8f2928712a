#include "lith2d/Lith2D.h"

#include <algorithm>
#include <cmath>

#include "input/PolledInput.h"
#include "lith2d/Collision.h"
#include "lith2d/Image.h"
#include "lith2d/ImageFont.h"
#include "maths/Maths.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "system/SystemDriver.h"

namespace vrl {

const ClassRecord& TLith2DGraphics::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLith2DGraphics>("TLith2DGraphics", [](auto& d) {
    d.template Field<&TLith2DGraphics::color_red>("color_red");
    d.template Field<&TLith2DGraphics::color_green>("color_green");
    d.template Field<&TLith2DGraphics::color_blue>("color_blue");
    d.template Field<&TLith2DGraphics::color_alpha>("color_alpha");
    d.template Field<&TLith2DGraphics::clscolor_red>("clscolor_red");
    d.template Field<&TLith2DGraphics::clscolor_green>("clscolor_green");
    d.template Field<&TLith2DGraphics::clscolor_blue>("clscolor_blue");
    d.template Field<&TLith2DGraphics::line_width>("line_width");
    d.template Field<&TLith2DGraphics::tform_rot>("tform_rot");
    d.template Field<&TLith2DGraphics::tform_scale_x>("tform_scale_x");
    d.template Field<&TLith2DGraphics::tform_scale_y>("tform_scale_y");
    d.template Field<&TLith2DGraphics::tform_ix>("tform_ix");
    d.template Field<&TLith2DGraphics::tform_iy>("tform_iy");
    d.template Field<&TLith2DGraphics::tform_jx>("tform_jx");
    d.template Field<&TLith2DGraphics::tform_jy>("tform_jy");
    d.template Field<&TLith2DGraphics::viewport_x>("viewport_x");
    d.template Field<&TLith2DGraphics::viewport_y>("viewport_y");
    d.template Field<&TLith2DGraphics::viewport_w>("viewport_w");
    d.template Field<&TLith2DGraphics::viewport_h>("viewport_h");
    d.template Field<&TLith2DGraphics::origin_x>("origin_x");
    d.template Field<&TLith2DGraphics::origin_y>("origin_y");
    d.template Field<&TLith2DGraphics::handle_x>("handle_x");
    d.template Field<&TLith2DGraphics::handle_y>("handle_y");
    d.template Field<&TLith2DGraphics::image_font>("image_font");
    d.template Field<&TLith2DGraphics::blend_mode>("blend_mode");
    d.template Field<&TLith2DGraphics::vres_width>("vres_width");
    d.template Field<&TLith2DGraphics::vres_height>("vres_height");
    d.template Field<&TLith2DGraphics::vres_mousexscale>("vres_mousexscale");
    d.template Field<&TLith2DGraphics::vres_mouseyscale>("vres_mouseyscale");
    d.template Field<&TLith2DGraphics::g_width>("g_width");
    d.template Field<&TLith2DGraphics::g_height>("g_height");
    d.template Field<&TLith2DGraphics::_graphics>("_graphics");
    d.template Field<&TLith2DGraphics::_driver>("_driver");
    d.template Field<&TLith2DGraphics::_setup>("_setup");
    d.template Method<&TLith2DGraphics::Driver>("Driver");
    d.template Method<&TLith2DGraphics::GetSettings>("GetSettings");
    d.template Method<&TLith2DGraphics::Close>("Close");
    d.template Method<&TLith2DGraphics::Validate>("Validate");
    d.template Method<&TLith2DGraphics::MakeCurrent>("MakeCurrent");
    d.template Function<&TLith2DGraphics::ClearCurrent>("ClearCurrent");
    d.template Function<&TLith2DGraphics::Current>("Current");
    d.template Function<&TLith2DGraphics::Create>("Create");
  });
  return record;
}

const ClassRecord& TLith2DDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLith2DDriver>("TLith2DDriver", [](auto& d) {
    d.template Method<&TLith2DDriver::CreateFrameFromPixmap>("CreateFrameFromPixmap");
    d.template Method<&TLith2DDriver::SetBlend>("SetBlend");
    d.template Method<&TLith2DDriver::SetAlpha>("SetAlpha");
    d.template Method<&TLith2DDriver::SetColor>("SetColor");
    d.template Method<&TLith2DDriver::SetClsColor>("SetClsColor");
    d.template Method<&TLith2DDriver::SetViewport>("SetViewport");
    d.template Method<&TLith2DDriver::SetTransform>("SetTransform");
    d.template Method<&TLith2DDriver::SetLineWidth>("SetLineWidth");
    d.template Method<&TLith2DDriver::Cls>("Cls");
    d.template Method<&TLith2DDriver::Plot>("Plot");
    d.template Method<&TLith2DDriver::DrawLine>("DrawLine");
    d.template Method<&TLith2DDriver::DrawRect>("DrawRect");
    d.template Method<&TLith2DDriver::DrawOval>("DrawOval");
    d.template Method<&TLith2DDriver::DrawPoly>("DrawPoly", "([]f,f,f,f,f)");
    d.template Method<&TLith2DDriver::DrawPixmap>("DrawPixmap");
    d.template Method<&TLith2DDriver::GrabPixmap>("GrabPixmap");
    d.template Method<&TLith2DDriver::SetResolution>("SetResolution");
  });
  return record;
}

namespace {

struct State {
  Ref<TLith2DGraphics> current;
  Ref<TLith2DDriver> driver;
  Ref<TImageFont> defaultFont;
  int32_t maskRed = 0, maskGreen = 0, maskBlue = 0;
  int32_t autoCentre = 0;
  int32_t defaultFlags = 3;  // masked and filtered
};

State& S() {
  static auto* state = new State;
  return *state;
}

TLith2DGraphics& G() {
  TLith2DGraphics* g = S().current.get();
  if (!g) ThrowNullObjectException();
  return *g;
}

TLith2DDriver& D() {
  TLith2DDriver* d = S().driver.get();
  if (!d) ThrowNullObjectException();
  return *d;
}

}  // namespace

int32_t SaturatingInt(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// ---------------------------------------------------------------------------
// TLith2DGraphics

Ref<TGraphicsDriver> TLith2DGraphics::Driver() { return _driver; }

void TLith2DGraphics::GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz,
                                  int32_t& flags) {
  if (_graphics.IsNull()) {
    width = height = depth = hertz = flags = 0;
    return;
  }
  _graphics->GetSettings(width, height, depth, hertz, flags);
}

void TLith2DGraphics::Close() {
  if (_graphics.IsNull()) return;
  Ref<TGraphics> graphics = _graphics;
  _graphics = nullptr;
  _driver = nullptr;
  graphics->Close();
}

void TLith2DGraphics::UpdateTransform() {
  auto s = static_cast<float>(Sin(tform_rot));
  double c = Cos(tform_rot);
  tform_ix = static_cast<float>(c * tform_scale_x);
  tform_iy = -s * tform_scale_y;
  tform_jx = s * tform_scale_x;
  tform_jy = static_cast<float>(c * tform_scale_y);
  if (!_driver.IsNull()) _driver->SetTransform(tform_ix, tform_iy, tform_jx, tform_jy);
  SetCollisionTransform(tform_ix, tform_iy, tform_jx, tform_jy);
}

void TLith2DGraphics::Validate() {
  int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  GetSettings(width, height, depth, hertz, flags);
  if (width != g_width || height != g_height) {
    g_width = width;
    g_height = height;
    vres_width = static_cast<float>(width);
    vres_height = static_cast<float>(height);
    vres_mousexscale = 1.0f;
    vres_mouseyscale = 1.0f;
  }
  if (_driver.IsNull()) return;
  TLith2DDriver& d = *_driver;
  d.SetResolution(vres_width, vres_height);
  d.SetBlend(blend_mode);
  d.SetColor(color_red, color_green, color_blue);
  d.SetAlpha(color_alpha);
  d.SetClsColor(clscolor_red, clscolor_green, clscolor_blue);
  d.SetLineWidth(line_width);
  UpdateTransform();
  SendViewport();
}

void TLith2DGraphics::SendViewport() {
  if (_driver.IsNull()) return;
  auto device = [](int64_t logical, float scale) {
    return SaturatingInt(std::floor(static_cast<float>(logical) / scale));
  };
  int32_t x0 = device(viewport_x, vres_mousexscale);
  int32_t y0 = device(viewport_y, vres_mouseyscale);
  int32_t x1 = device(int64_t(viewport_x) + viewport_w, vres_mousexscale);
  int32_t y1 = device(int64_t(viewport_y) + viewport_h, vres_mouseyscale);
  _driver->SetViewport(x0, y0, SaturatingInt(double(x1) - x0), SaturatingInt(double(y1) - y0));
}

void TLith2DGraphics::MakeCurrent() {
  S().current = this;
  S().driver = _driver;
  Validate();
  if (_setup == 0) {
    _setup = 1;
    D().Cls();
    Flip(0);
    D().Cls();
    Flip(0);
  }
}

void TLith2DGraphics::ClearCurrent() {
  S().current = nullptr;
  S().driver = nullptr;
}

TLith2DGraphics* TLith2DGraphics::Current() { return S().current.get(); }

Ref<TLith2DGraphics> TLith2DGraphics::Create(TGraphics* graphics, TLith2DDriver* driver) {
  if (S().defaultFont.IsNull()) S().defaultFont = TImageFont::CreateDefault();
  Ref<TLith2DGraphics> g = New<TLith2DGraphics>();
  g->_graphics = graphics;
  g->_driver = driver;
  int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  if (graphics) graphics->GetSettings(width, height, depth, hertz, flags);
  g->viewport_w = width;
  g->viewport_h = height;
  g->vres_width = static_cast<float>(width);
  g->vres_height = static_cast<float>(height);
  g->g_width = width;
  g->g_height = height;
  g->image_font = S().defaultFont;
  return g;
}

// ---------------------------------------------------------------------------
// TLith2DDriver: every operation is the concrete driver's.

Ref<TImageFrame> TLith2DDriver::CreateFrameFromPixmap(TPixmap*, int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetBlend(int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetAlpha(float) { ThrowNullMethodException(); }
void TLith2DDriver::SetColor(int32_t, int32_t, int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetClsColor(int32_t, int32_t, int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetViewport(int32_t, int32_t, int32_t, int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetTransform(float, float, float, float) { ThrowNullMethodException(); }
void TLith2DDriver::SetLineWidth(float) { ThrowNullMethodException(); }
void TLith2DDriver::Cls() { ThrowNullMethodException(); }
void TLith2DDriver::Plot(float, float) { ThrowNullMethodException(); }
void TLith2DDriver::DrawLine(float, float, float, float, float, float) { ThrowNullMethodException(); }
void TLith2DDriver::DrawRect(float, float, float, float, float, float) { ThrowNullMethodException(); }
void TLith2DDriver::DrawOval(float, float, float, float, float, float) { ThrowNullMethodException(); }
void TLith2DDriver::DrawPoly(Array*, float, float, float, float) { ThrowNullMethodException(); }
void TLith2DDriver::DrawPixmap(TPixmap*, int32_t, int32_t) { ThrowNullMethodException(); }
Ref<TPixmap> TLith2DDriver::GrabPixmap(int32_t, int32_t, int32_t, int32_t) { ThrowNullMethodException(); }
void TLith2DDriver::SetResolution(float, float) { ThrowNullMethodException(); }

TLith2DDriver* CurrentLith2DDriver() { return S().driver.get(); }

// ---------------------------------------------------------------------------
// State commands

void SetColor(int32_t red, int32_t green, int32_t blue) {
  TLith2DGraphics& g = G();
  g.color_red = red;
  g.color_green = green;
  g.color_blue = blue;
  D().SetColor(red, green, blue);
}

void GetColor(int32_t& red, int32_t& green, int32_t& blue) {
  TLith2DGraphics& g = G();
  red = g.color_red;
  green = g.color_green;
  blue = g.color_blue;
}

void SetClsColor(int32_t red, int32_t green, int32_t blue) {
  TLith2DGraphics& g = G();
  g.clscolor_red = red;
  g.clscolor_green = green;
  g.clscolor_blue = blue;
  D().SetClsColor(red, green, blue);
}

void GetClsColor(int32_t& red, int32_t& green, int32_t& blue) {
  TLith2DGraphics& g = G();
  red = g.clscolor_red;
  green = g.clscolor_green;
  blue = g.clscolor_blue;
}

void SetBlend(int32_t blend) {
  G().blend_mode = blend;
  D().SetBlend(blend);
}
int32_t GetBlend() { return G().blend_mode; }

void SetAlpha(float alpha) {
  G().color_alpha = alpha;
  D().SetAlpha(alpha);
}
float GetAlpha() { return G().color_alpha; }

void SetLineWidth(float width) {
  G().line_width = width;
  D().SetLineWidth(width);
}
float GetLineWidth() { return G().line_width; }

void SetDrawRotation(float degrees) {
  G().tform_rot = degrees;
  G().UpdateTransform();
}
float GetDrawRotation() { return G().tform_rot; }

void SetDrawScale(float x, float y) {
  G().tform_scale_x = x;
  G().tform_scale_y = y;
  G().UpdateTransform();
}

void GetDrawScale(float& x, float& y) {
  x = G().tform_scale_x;
  y = G().tform_scale_y;
}

void SetDrawTransform(float degrees, float scaleX, float scaleY) {
  TLith2DGraphics& g = G();
  g.tform_rot = degrees;
  g.tform_scale_x = scaleX;
  g.tform_scale_y = scaleY;
  g.UpdateTransform();
}

void SetDrawOrigin(float x, float y) {
  G().origin_x = x;
  G().origin_y = y;
}

void GetDrawOrigin(float& x, float& y) {
  x = G().origin_x;
  y = G().origin_y;
}

void SetDrawHandle(float x, float y) {
  G().handle_x = -x;
  G().handle_y = -y;
}

void GetDrawHandle(float& x, float& y) {
  x = -G().handle_x;
  y = -G().handle_y;
}

void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
  TLith2DGraphics& g = G();
  g.viewport_x = x;
  g.viewport_y = y;
  g.viewport_w = width;
  g.viewport_h = height;
  D();
  g.SendViewport();
}

void GetViewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  TLith2DGraphics& g = G();
  x = g.viewport_x;
  y = g.viewport_y;
  width = g.viewport_w;
  height = g.viewport_h;
}

void SetLogicalResolution(float width, float height) {
  TLith2DGraphics& g = G();
  int32_t deviceWidth = CurrentGraphicsWidth(), deviceHeight = CurrentGraphicsHeight();
  if (deviceWidth <= 0 || deviceHeight <= 0) {
    deviceWidth = g.g_width;
    deviceHeight = g.g_height;
  }
  // Without a device size the mouse maps one to one.
  float xscale = deviceWidth > 0 ? width / static_cast<float>(deviceWidth) : 1.0f;
  float yscale = deviceHeight > 0 ? height / static_cast<float>(deviceHeight) : 1.0f;
  if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height) || !(xscale > 0) ||
      !(yscale > 0) || !std::isfinite(xscale) || !std::isfinite(yscale)) {
    vrRuntimeError("SetLogicalResolution needs a positive, finite width and height");
  }
  g.vres_width = width;
  g.vres_height = height;
  g.vres_mousexscale = xscale;
  g.vres_mouseyscale = yscale;
  D().SetResolution(width, height);
}

float LogicalWidth() { return G().vres_width; }
float LogicalHeight() { return G().vres_height; }
float LogicalMouseX() { return static_cast<float>(MousePosX()) * G().vres_mousexscale; }
float LogicalMouseY() { return static_cast<float>(MousePosY()) * G().vres_mouseyscale; }
float LogicalMouseXSpeed() { return static_cast<float>(MouseDeltaX()) * G().vres_mousexscale; }
float LogicalMouseYSpeed() { return static_cast<float>(MouseDeltaY()) * G().vres_mouseyscale; }

void MoveLogicalMouse(float x, float y) {
  MoveMouse(SaturatingInt(x / G().vres_mousexscale), SaturatingInt(y / G().vres_mouseyscale));
}

void SetDrawFont(TImageFont* font) { G().image_font = font ? font : S().defaultFont.get(); }
TImageFont* GetDrawFont() { return G().image_font.get(); }

Ref<TImageFont> LoadImageFontSource(Object* url, int32_t size, int32_t style) {
  return TImageFont::Load(url, size, style);
}

// ---------------------------------------------------------------------------
// Drawing commands

void Cls() {
  G();
  D().Cls();
}

void Plot(float x, float y) {
  TLith2DGraphics& g = G();
  D().Plot(x + g.origin_x, y + g.origin_y);
}

void DrawRect(float x, float y, float width, float height) {
  TLith2DGraphics& g = G();
  D().DrawRect(g.handle_x, g.handle_y, g.handle_x + width, g.handle_y + height, x + g.origin_x,
               y + g.origin_y);
}

void DrawOval(float x, float y, float width, float height) {
  TLith2DGraphics& g = G();
  D().DrawOval(g.handle_x, g.handle_y, g.handle_x + width, g.handle_y + height, x + g.origin_x,
               y + g.origin_y);
}

void DrawLine(float x1, float y1, float x2, float y2, int32_t lastPixel) {
  TLith2DGraphics& g = G();
  float px = g.handle_x + x2 - x1;
  float py = g.handle_y + y2 - y1;
  D().DrawLine(g.handle_x, g.handle_y, px, py, x1 + g.origin_x, y1 + g.origin_y);
  if (lastPixel) {
    D().Plot(px * g.tform_ix + py * g.tform_iy + x1 + g.origin_x,
             px * g.tform_jx + py * g.tform_jy + y1 + g.origin_y);
  }
}

void DrawPoly(Array* xy) {
  TLith2DGraphics& g = G();
  D().DrawPoly(xy, g.handle_x, g.handle_y, g.origin_x, g.origin_y);
}

void DrawString(String* text, float x, float y) {
  TLith2DGraphics& g = G();
  if (g.image_font.IsNull()) return;
  g.image_font->Draw(text, x + g.origin_x + g.handle_x * g.tform_ix + g.handle_y * g.tform_iy,
                     y + g.origin_y + g.handle_x * g.tform_jx + g.handle_y * g.tform_jy, g.tform_ix,
                     g.tform_iy, g.tform_jx, g.tform_jy);
}

int32_t StringWidth(String* text) {
  TLith2DGraphics& g = G();
  if (g.image_font.IsNull() || !text) return 0;
  int32_t width = 0;
  for (int32_t i = 0; i < text->Length(); ++i) {
    int32_t index = g.image_font->CharToGlyph((*text)[i]);
    if (index < 0) continue;
    width = SaturatingInt(static_cast<float>(width) + g.image_font->LoadGlyph(index)->Advance());
  }
  return width;
}

int32_t StringHeight() {
  TLith2DGraphics& g = G();
  return g.image_font.IsNull() ? 0 : g.image_font->Height();
}

void DrawImageAt(TImage* image, float x, float y, int32_t frame) {
  TLith2DGraphics& g = G();
  if (!image) ThrowNullObjectException();
  Ref<TImageFrame> f = image->Frame(frame);
  if (f.IsNull()) return;
  auto iw = static_cast<float>(image->Width()), ih = static_cast<float>(image->Height());
  f->Draw(-image->HandleX(), -image->HandleY(), iw - image->HandleX(), ih - image->HandleY(), x + g.origin_x,
          y + g.origin_y, 0, 0, iw, ih);
}

void DrawImageSized(TImage* image, float x, float y, float width, float height, int32_t frame) {
  TLith2DGraphics& g = G();
  if (!image) ThrowNullObjectException();
  Ref<TImageFrame> f = image->Frame(frame);
  if (f.IsNull()) return;
  f->Draw(-image->HandleX(), -image->HandleY(), width - image->HandleX(), height - image->HandleY(),
          x + g.origin_x, y + g.origin_y, 0, 0, static_cast<float>(image->Width()),
          static_cast<float>(image->Height()));
}

void DrawImageArea(TImage* image, float x, float y, float width, float height, float sx, float sy, float sw,
                   float sh, float hx, float hy, int32_t frame) {
  TLith2DGraphics& g = G();
  if (!image) ThrowNullObjectException();
  Ref<TImageFrame> f = image->Frame(frame);
  if (f.IsNull()) return;
  // The handle is given in source pixels and scaled to the destination.
  float x0 = -hx * width / sw;
  float y0 = -hy * height / sh;
  f->Draw(x0, y0, x0 + width, y0 + height, x + g.origin_x, y + g.origin_y, sx, sy, sw, sh);
}

void DrawImageTiled(TImage* image, float x, float y, int32_t frame) {
  TLith2DGraphics& g = G();
  if (!image) ThrowNullObjectException();
  Ref<TImageFrame> f = image->Frame(frame);
  if (f.IsNull()) return;
  int32_t iw = image->Width(), ih = image->Height();
  float px = x + g.origin_x - image->HandleX();
  float py = y + g.origin_y - image->HandleY();
  if (iw <= 0 || ih <= 0 || !std::isfinite(px) || !std::isfinite(py)) return;
  // Only the part of the viewport on the logical screen can show a tile;
  // cutting the area to it keeps the loops short whatever the viewport says.
  auto span = [](int32_t at, int32_t size, float screen, int64_t& low, int64_t& high) {
    low = std::max<int64_t>(at, 0);
    high = static_cast<int64_t>(std::min(double(at) + size, std::ceil(double(screen))));
    return low < high;
  };
  int64_t left = 0, right = 0, top = 0, bottom = 0;
  if (!span(g.viewport_x, g.viewport_w, g.vres_width, left, right) ||
      !span(g.viewport_y, g.viewport_h, g.vres_height, top, bottom)) {
    return;
  }
  D().SetTransform(1, 0, 0, 1);
  float fx = px - std::floor(px), fy = py - std::floor(py);
  // The first tile of the grid through p that covers the edge: it starts at
  // floor(p) + k * size + the fraction, no further right than the edge.
  auto first = [](float p, float fraction, int64_t edge, int32_t size) {
    int64_t offset = edge - size + (fraction > 0 ? 0 : 1);
    double phase = std::fmod(std::floor(double(p)) - double(offset), double(size));
    if (phase < 0) phase += size;
    return static_cast<int64_t>(phase) + offset;
  };
  int64_t tx = first(px, fx, left, iw), ty = first(py, fy, top, ih);
  for (int64_t ry = ty; ry < bottom; ry += ih) {
    for (int64_t rx = tx; rx < right; rx += iw) {
      f->Draw(0, 0, static_cast<float>(iw), static_cast<float>(ih), static_cast<float>(rx) + fx,
              static_cast<float>(ry) + fy, 0, 0, static_cast<float>(iw), static_cast<float>(ih));
    }
  }
  g.UpdateTransform();
}

void DrawPixmap(TPixmap* pixmap, int32_t x, int32_t y) {
  G();
  if (!pixmap) ThrowNullObjectException();
  D().DrawPixmap(pixmap, x, y);
}

Ref<TPixmap> GrabPixmap(int32_t x, int32_t y, int32_t width, int32_t height) {
  G();
  return D().GrabPixmap(x, y, width, height);
}

// ---------------------------------------------------------------------------

void SetImageMaskColor(int32_t red, int32_t green, int32_t blue) {
  S().maskRed = red;
  S().maskGreen = green;
  S().maskBlue = blue;
}

void GetImageMaskColor(int32_t& red, int32_t& green, int32_t& blue) {
  red = S().maskRed;
  green = S().maskGreen;
  blue = S().maskBlue;
}

void SetAutoCentreHandle(int32_t on) { S().autoCentre = on; }
int32_t AutoCentreHandle() { return S().autoCentre; }

void SetDefaultImageFlags(int32_t flags) {
  if (flags != -1) S().defaultFlags = flags;
}
int32_t DefaultImageFlags() { return S().defaultFlags; }

}  // namespace vrl
