#include "pixmap/Pixmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& TPixmap::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmap>("TPixmap", [](auto& d) {
    d.template Field<&TPixmap::pixels>("pixels");
    d.template Field<&TPixmap::width>("width");
    d.template Field<&TPixmap::height>("height");
    d.template Field<&TPixmap::pitch>("pitch");
    d.template Field<&TPixmap::format>("format");
    d.template Field<&TPixmap::capacity>("capacity");
    d.template Field<&TPixmap::_source>("_source");
    d.template Method<&TPixmap::_pad>("_pad");
    d.template Method<&TPixmap::PixelPtr>("PixelPtr");
    d.template Method<&TPixmap::Window>("Window");
    d.template Method<&TPixmap::Copy>("Copy");
    d.template Method<&TPixmap::Paste>("Paste");
    d.template Method<&TPixmap::Convert>("Convert");
    d.template Method<&TPixmap::ReadPixel>("ReadPixel");
    d.template Method<&TPixmap::WritePixel>("WritePixel");
    d.template Function<&TPixmap::Create>("Create");
    d.template Function<&TPixmap::CreateStatic>("CreateStatic");
    d.template Method<&TPixmap::ClearPixels>("ClearPixels");
  });
  return record;
}

const ClassRecord& TPixmapLoader::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmapLoader>("TPixmapLoader", [](auto& d) {
    d.template Field<&TPixmapLoader::_succ>("_succ");
    d.template Method<&TPixmapLoader::LoadPixmap>("LoadPixmap");
  });
  return record;
}

void pixmap::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(TPixmap::StaticClass());
  vrRegisterClass(TPixmapLoader::StaticClass());
}

namespace {

// The loader chain lives for the whole run.
Ref<TPixmapLoader>& ChainHead() {
  static auto* head = new Ref<TPixmapLoader>;
  return *head;
}

void StorePixel(uint8_t* p, int32_t format, int32_t argb) {
  auto a = uint8_t(argb >> 24), r = uint8_t(argb >> 16), g = uint8_t(argb >> 8), b = uint8_t(argb);
  switch (format) {
    case PIXFMT_GREY8:
      p[0] = uint8_t((r + g + b) / 3);
      break;
    case PIXFMT_A8:
      p[0] = a;
      break;
    case PIXFMT_BGR24:
      p[0] = b;
      p[1] = g;
      p[2] = r;
      break;
    case PIXFMT_RGB24:
      p[0] = r;
      p[1] = g;
      p[2] = b;
      break;
    case PIXFMT_BGRA32:
      p[0] = b;
      p[1] = g;
      p[2] = r;
      p[3] = a;
      break;
    case PIXFMT_RGBA32:
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = a;
      break;
    default:
      break;
  }
}

int32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<int32_t>(a << 24 | r << 16 | g << 8 | b);
}

TPixmap* Checked(TPixmap* pixmap) {
  if (!pixmap) ThrowNullObjectException();
  return pixmap;
}

}  // namespace

TPixmap::~TPixmap() {
  _attachment.reset();
  if (capacity >= 0) vrRawFree(pixels);
}

// ---------------------------------------------------------------------------
// Change marks

namespace {
constexpr uint64_t kUntracked = ~uint64_t(0);

int32_t SpansPerRow(int32_t width) {
  return width > 0 ? int32_t((int64_t(width) + TPixmap::kChangeSpan - 1) / TPixmap::kChangeSpan) : 0;
}
}  // namespace

uint64_t TPixmap::ChangeCount() const { return Root()._changes; }

void TPixmap::MarkChanged(int32_t x, int32_t y, int32_t w, int32_t h) {
  int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  int64_t x1 = std::min<int64_t>(int64_t(x) + std::max(w, 0), width);
  int64_t y1 = std::min<int64_t>(int64_t(y) + std::max(h, 0), height);
  if (x0 >= x1 || y0 >= y1) return;
  TPixmap& root = Root();
  x0 += _rootX;
  x1 += _rootX;
  y0 += _rootY;
  y1 += _rootY;
  ++root._changes;
  if (root._spanChanges.empty()) return;
  // Marks kept for another size (the fields were changed) cannot be read.
  if (root._spansPerRow != SpansPerRow(root.width) ||
      root._spanChanges.size() != std::size_t(root._spansPerRow) * std::size_t(std::max(root.height, 0)) ||
      x1 > root.width || y1 > root.height) {
    root._spanChanges.clear();
    root._trackedFrom = kUntracked;
    return;
  }
  auto first = std::size_t(x0 / kChangeSpan), last = std::size_t((x1 - 1) / kChangeSpan);
  for (int64_t row = y0; row < y1; ++row) {
    uint64_t* spans = root._spanChanges.data() + std::size_t(row) * std::size_t(root._spansPerRow);
    for (std::size_t i = first; i <= last; ++i) spans[i] = root._changes;
  }
}

void TPixmap::MarkChanged() {
  if (_root) {
    MarkChanged(0, 0, width, height);
    return;
  }
  ++_changes;
  _wholeChange = _changes;
}

void TPixmap::TrackChanges() {
  TPixmap& root = Root();
  int32_t spans = SpansPerRow(root.width);
  std::size_t size = std::size_t(spans) * std::size_t(std::max(root.height, 0));
  if (!root._spanChanges.empty() && root._spansPerRow == spans && root._spanChanges.size() == size) return;
  root._spansPerRow = spans;
  root._spanChanges.assign(size, 0);
  root._trackedFrom = size ? root._changes : kUntracked;
}

bool TPixmap::ChangedAreas(uint64_t since, std::vector<PixmapArea>& areas) const {
  areas.clear();
  const TPixmap& root = Root();
  if (since == root._changes) return true;
  if (since > root._changes || root._spanChanges.empty() || since < root._trackedFrom ||
      root._wholeChange > since || root._spansPerRow != SpansPerRow(root.width) ||
      root._spanChanges.size() != std::size_t(root._spansPerRow) * std::size_t(std::max(root.height, 0))) {
    return false;
  }
  // This pixmap's rectangle in the root, cut to it.
  int64_t left = _rootX, top = _rootY;
  int64_t right = std::min<int64_t>(left + std::max(width, 0), root.width);
  int64_t bottom = std::min<int64_t>(top + std::max(height, 0), root.height);
  if (left >= right || top >= bottom) return true;
  // Runs of changed spans per row; a run that repeats the run of the row
  // above extends that rectangle downwards.
  // Indices into `areas` of the rectangles ending at the row above and at
  // this row; kept between calls, as a frame asks for its changes every time.
  thread_local std::vector<std::size_t> open, next;
  open.clear();
  auto first = std::size_t(left / kChangeSpan), last = std::size_t((right - 1) / kChangeSpan);
  for (int64_t row = top; row < bottom; ++row) {
    const uint64_t* spans = root._spanChanges.data() + std::size_t(row) * std::size_t(root._spansPerRow);
    next.clear();
    std::size_t o = 0;
    for (std::size_t i = first; i <= last; ++i) {
      if (spans[i] <= since) continue;
      std::size_t j = i;
      while (j < last && spans[j + 1] > since) ++j;
      auto x0 = int32_t(std::max<int64_t>(int64_t(i) * kChangeSpan, left) - left);
      auto x1 = int32_t(std::min<int64_t>(int64_t(j + 1) * kChangeSpan, right) - left);
      auto y = int32_t(row - top);
      while (o < open.size() && areas[open[o]].x < x0) ++o;
      if (o < open.size() && areas[open[o]].x == x0 && areas[open[o]].width == x1 - x0) {
        ++areas[open[o]].height;
        next.push_back(open[o]);
      } else {
        areas.push_back({x0, y, x1 - x0, 1});
        next.push_back(areas.size() - 1);
      }
      i = j;
    }
    open.swap(next);
  }
  return true;
}

void TPixmap::SetAttachment(std::unique_ptr<PixmapAttachment> attachment) {
  _attachment = std::move(attachment);
}

void TPixmap::CheckInside(int32_t x, int32_t y, int32_t w, int32_t h) const {
  if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t(x) + w > width || int64_t(y) + h > height) {
    ThrowArrayBoundsException();
  }
}

Ref<TPixmap> TPixmap::Create(int32_t width, int32_t height, int32_t format, int32_t align) {
  if (!IsPixelFormat(format)) vrRuntimeError("Invalid pixel format");
  if (width < 0 || height < 0) vrRuntimeError("Invalid pixmap size");
  if (align < 1) align = 1;
  int64_t rowBytes = int64_t(width) * PixelBytes[format];
  int64_t pitch = (rowBytes + align - 1) / align * align;
  int64_t capacity = pitch * height;
  if (capacity > std::numeric_limits<int32_t>::max()) vrRuntimeError("Pixmap too large");
  Ref<TPixmap> pixmap = New<TPixmap>();
  if (capacity > 0) {
    pixmap->pixels = static_cast<uint8_t*>(vrRawAlloc(static_cast<std::size_t>(capacity)));
    if (!pixmap->pixels) throw std::bad_alloc();
  }
  pixmap->width = width;
  pixmap->height = height;
  pixmap->pitch = static_cast<int32_t>(pitch);
  pixmap->format = format;
  pixmap->capacity = static_cast<int32_t>(capacity);
  return pixmap;
}

Ref<TPixmap> TPixmap::CreateStatic(void* pixels, int32_t width, int32_t height, int32_t pitch,
                                   int32_t format) {
  if (!IsPixelFormat(format)) vrRuntimeError("Invalid pixel format");
  Ref<TPixmap> pixmap = New<TPixmap>();
  pixmap->pixels = static_cast<uint8_t*>(pixels);
  pixmap->width = width;
  pixmap->height = height;
  pixmap->pitch = pitch;
  pixmap->format = format;
  pixmap->capacity = -1;
  return pixmap;
}

Ref<TPixmap> TPixmap::Window(int32_t x, int32_t y, int32_t w, int32_t h) {
  CheckInside(x, y, w, h);
  Ref<TPixmap> window = CreateStatic(PixelPtr(x, y), w, h, pitch, format);
  window->_source = this;
  window->_root = &Root();
  window->_rootX = _rootX + x;
  window->_rootY = _rootY + y;
  return window;
}

Ref<TPixmap> TPixmap::Copy() {
  Ref<TPixmap> copy = Create(width, height, format, 4);
  for (int32_t y = 0; y < height; ++y) CopyPixels(PixelPtr(0, y), copy->PixelPtr(0, y), format, width);
  copy->MarkChanged();
  return copy;
}

int32_t TPixmap::Paste(TPixmap* source, int32_t x, int32_t y) {
  if (!source) ThrowNullObjectException();
  CheckInside(x, y, source->width, source->height);
  for (int32_t i = 0; i < source->height; ++i) {
    ConvertPixels(source->PixelPtr(0, i), source->format, PixelPtr(x, y + i), format, source->width);
  }
  MarkChanged(x, y, source->width, source->height);
  return 0;
}

Ref<TPixmap> TPixmap::Convert(int32_t newFormat) {
  Ref<TPixmap> converted = Create(width, height, newFormat, 4);
  for (int32_t y = 0; y < height; ++y) {
    ConvertPixels(PixelPtr(0, y), format, converted->PixelPtr(0, y), newFormat, width);
  }
  converted->MarkChanged();
  return converted;
}

int32_t TPixmap::ReadPixel(int32_t x, int32_t y) {
  CheckInside(x, y, 1, 1);
  const uint8_t* p = PixelPtr(x, y);
  switch (format) {
    case PIXFMT_GREY8:
      return Argb(255, p[0], p[0], p[0]);
    case PIXFMT_A8:
      return Argb(p[0], 255, 255, 255);
    case PIXFMT_BGR24:
      return Argb(255, p[2], p[1], p[0]);
    case PIXFMT_RGB24:
      return Argb(255, p[0], p[1], p[2]);
    case PIXFMT_BGRA32:
      return Argb(p[3], p[2], p[1], p[0]);
    case PIXFMT_RGBA32:
      return Argb(p[3], p[0], p[1], p[2]);
    default:
      return 0;
  }
}

int32_t TPixmap::WritePixel(int32_t x, int32_t y, int32_t argb) {
  CheckInside(x, y, 1, 1);
  StorePixel(PixelPtr(x, y), format, argb);
  MarkChanged(x, y, 1, 1);
  return 0;
}

int32_t TPixmap::ClearPixels(int32_t argb) {
  int32_t rowBytes = width * PixelBytes[format];
  MarkChanged();
  if (argb == 0 && rowBytes == pitch) {
    if (pixels) std::memset(pixels, 0, std::size_t(pitch) * std::size_t(height));
    return 0;
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = PixelPtr(0, y);
    if (argb == 0) {
      std::memset(row, 0, std::size_t(rowBytes));
    } else if (format >= PIXFMT_GREY8 && format <= PIXFMT_RGBA32) {
      for (int32_t x = 0; x < width; ++x)
        StorePixel(row + std::ptrdiff_t(x) * PixelBytes[format], format, argb);
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------

TPixmapLoader::TPixmapLoader() {
  _succ = ChainHead();
  ChainHead() = this;
}

Ref<TPixmap> TPixmapLoader::LoadPixmap(TStream*) { ThrowNullMethodException(); }

TPixmapLoader* PixmapLoaders() { return ChainHead().get(); }

// ---------------------------------------------------------------------------

Ref<TPixmap> NewPixmap(int32_t width, int32_t height, int32_t format, int32_t align) {
  return TPixmap::Create(width, height, format, align);
}
Ref<TPixmap> NewStaticPixmap(void* pixels, int32_t width, int32_t height, int32_t pitch, int32_t format) {
  return TPixmap::CreateStatic(pixels, width, height, pitch, format);
}
uint8_t* PixelPtr(TPixmap* pixmap, int32_t x, int32_t y) { return Checked(pixmap)->PixelPtr(x, y); }
int32_t ReadPixel(TPixmap* pixmap, int32_t x, int32_t y) { return Checked(pixmap)->ReadPixel(x, y); }
int32_t WritePixel(TPixmap* pixmap, int32_t x, int32_t y, int32_t argb) {
  Checked(pixmap)->WritePixel(x, y, argb);
  return 0;
}
int32_t ClearPixels(TPixmap* pixmap, int32_t argb) {
  Checked(pixmap)->ClearPixels(argb);
  return 0;
}
Ref<TPixmap> CopyPixmap(TPixmap* pixmap) { return Checked(pixmap)->Copy(); }
Ref<TPixmap> ConvertPixmap(TPixmap* pixmap, int32_t format) { return Checked(pixmap)->Convert(format); }
Ref<TPixmap> PixmapWindow(TPixmap* pixmap, int32_t x, int32_t y, int32_t width, int32_t height) {
  return Checked(pixmap)->Window(x, y, width, height);
}
int32_t PixmapWidth(TPixmap* pixmap) { return Checked(pixmap)->width; }
int32_t PixmapHeight(TPixmap* pixmap) { return Checked(pixmap)->height; }
int32_t PixmapPitch(TPixmap* pixmap) { return Checked(pixmap)->pitch; }
int32_t PixmapFormat(TPixmap* pixmap) { return Checked(pixmap)->format; }

Ref<TPixmap> ColourKeyPixmap(TPixmap* pixmap, int32_t red, int32_t green, int32_t blue) {
  Ref<TPixmap> source =
      Checked(pixmap)->format == PIXFMT_RGBA32 ? Ref<TPixmap>(pixmap) : pixmap->Convert(PIXFMT_RGBA32);
  int32_t w = source->width, h = source->height;
  Ref<TPixmap> result = TPixmap::Create(w, h, PIXFMT_RGBA32, 4);
  auto isKey = [&](const uint8_t* p) { return p[0] == red && p[1] == green && p[2] == blue; };
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* in = source->PixelPtr(x, y);
      uint8_t* out = result->PixelPtr(x, y);
      if (!isKey(in)) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 255;
        continue;
      }
      int32_t sum[3] = {0, 0, 0}, count = 0;
      for (int32_t ny = y - 1; ny <= y + 1; ++ny) {
        for (int32_t nx = x - 1; nx <= x + 1; ++nx) {
          if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
          const uint8_t* n = source->PixelPtr(nx, ny);
          if (isKey(n)) continue;
          sum[0] += n[0];
          sum[1] += n[1];
          sum[2] += n[2];
          ++count;
        }
      }
      for (int c = 0; c < 3; ++c) out[c] = count ? uint8_t(sum[c] / count) : uint8_t(0);
      out[3] = 0;
    }
  }
  result->MarkChanged();
  return result;
}

Ref<TPixmap> MirrorPixmapX(TPixmap* pixmap) {
  Checked(pixmap);
  Ref<TPixmap> result = TPixmap::Create(pixmap->width, pixmap->height, pixmap->format, 4);
  int32_t bytes = PixelBytes[pixmap->format];
  for (int32_t y = 0; y < pixmap->height; ++y) {
    for (int32_t x = 0; x < pixmap->width; ++x) {
      std::memcpy(result->PixelPtr(x, y), pixmap->PixelPtr(pixmap->width - 1 - x, y), std::size_t(bytes));
    }
  }
  result->MarkChanged();
  return result;
}

Ref<TPixmap> MirrorPixmapY(TPixmap* pixmap) {
  Checked(pixmap);
  Ref<TPixmap> result = TPixmap::Create(pixmap->width, pixmap->height, pixmap->format, 4);
  for (int32_t y = 0; y < pixmap->height; ++y) {
    CopyPixels(pixmap->PixelPtr(0, pixmap->height - 1 - y), result->PixelPtr(0, y), pixmap->format,
               pixmap->width);
  }
  result->MarkChanged();
  return result;
}

Ref<TPixmap> ScalePixmap(TPixmap* pixmap, int32_t newWidth, int32_t newHeight) {
  Checked(pixmap);
  Ref<TPixmap> source =
      pixmap->format == PIXFMT_RGBA32 ? Ref<TPixmap>(pixmap) : pixmap->Convert(PIXFMT_RGBA32);
  Ref<TPixmap> result = TPixmap::Create(newWidth, newHeight, pixmap->format, 4);
  if (newWidth <= 0 || newHeight <= 0) return result;
  if (source->width <= 0 || source->height <= 0) {
    // Nothing to sample: transparent black rather than undefined bytes.
    result->ClearPixels(0);
    return result;
  }
  std::vector<uint8_t> row(std::size_t(newWidth) * 4);
  float xs = float(source->width) / float(newWidth);
  float ys = float(source->height) / float(newHeight);
  for (int32_t y = 0; y < newHeight; ++y) {
    float sy = (float(y) + 0.5f) * ys - 0.5f;
    auto iy = static_cast<int32_t>(std::floor(sy));
    float fy = sy - float(iy);
    std::ptrdiff_t rowStep = source->pitch;
    if (iy < 0) {
      iy = 0;
      fy = 0;
      rowStep = 0;
    } else if (iy >= source->height - 1) {
      iy = source->height - 1;
      fy = 0;
      rowStep = 0;
    }
    for (int32_t x = 0; x < newWidth; ++x) {
      float sx = (float(x) + 0.5f) * xs - 0.5f;
      auto ix = static_cast<int32_t>(std::floor(sx));
      float fx = sx - float(ix);
      std::ptrdiff_t columnStep = 4;
      if (ix < 0) {
        ix = 0;
        fx = 0;
        columnStep = 0;
      } else if (ix >= source->width - 1) {
        ix = source->width - 1;
        fx = 0;
        columnStep = 0;
      }
      const uint8_t* p = source->PixelPtr(ix, iy);
      for (int c = 0; c < 4; ++c) {
        float a = p[c], b = p[c + columnStep], e = p[c + rowStep], d = p[c + rowStep + columnStep];
        float top = a + (b - a) * fx;
        float bottom = e + (d - e) * fx;
        float value = top + (bottom - top) * fy;
        row[std::size_t(x) * 4 + std::size_t(c)] = static_cast<uint8_t>(static_cast<int32_t>(value));
      }
    }
    ConvertPixels(row.data(), PIXFMT_RGBA32, result->PixelPtr(0, y), result->format, newWidth);
  }
  result->MarkChanged();
  return result;
}

}  // namespace vrl
