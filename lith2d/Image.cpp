#include "lith2d/Image.h"

#include "graphics/Graphics.h"
#include "lith2d/Lith2D.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"

namespace vrl {

const ClassRecord& TImageFrame::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TImageFrame>(
      "TImageFrame", [](auto& d) { d.template Method<&TImageFrame::Draw>("Draw"); });
  return record;
}

const ClassRecord& TImage::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TImage>("TImage", [](auto& d) {
    d.template Field<&TImage::width>("width");
    d.template Field<&TImage::height>("height");
    d.template Field<&TImage::flags>("flags");
    d.template Field<&TImage::mask_r>("mask_r");
    d.template Field<&TImage::mask_g>("mask_g");
    d.template Field<&TImage::mask_b>("mask_b");
    d.template Field<&TImage::handle_x>("handle_x");
    d.template Field<&TImage::handle_y>("handle_y");
    d.template Field<&TImage::pixmaps>("pixmaps", "[]:TPixmap");
    d.template Field<&TImage::frames>("frames", "[]:TImageFrame");
    d.template Field<&TImage::seqs>("seqs", "[]i");
    d.template Method<&TImage::_pad>("_pad");
    d.template Method<&TImage::Frame>("Frame");
    d.template Method<&TImage::Lock>("Lock");
    d.template Method<&TImage::SetPixmap>("SetPixmap");
    d.template Function<&TImage::Create>("Create");
    d.template Function<&TImage::Load>("Load");
    d.template Function<&TImage::LoadAnim>("LoadAnim");
  });
  return record;
}

void TImageFrame::Draw(float, float, float, float, float, float, float, float, float, float) {
  ThrowNullMethodException();
}

void TImage::CheckIndex(int32_t index) const {
  if (index < 0 || index >= pixmaps->Length()) ThrowArrayBoundsException();
}

int32_t TImage::FrameGeneration(int32_t index) const {
  CheckIndex(index);
  return seqs->Get<int32_t>(index);
}

Ref<TImageFrame> TImage::Frame(int32_t index) {
  CheckIndex(index);
  int32_t generation = GraphicsGeneration();
  if (seqs->Get<int32_t>(index) != generation) {
    Ref<TPixmap> pixmap = Lock(index, 1, 0);
    TLith2DDriver* driver = CurrentLith2DDriver();
    Ref<TImageFrame> frame = driver ? driver->CreateFrameFromPixmap(pixmap, flags) : Ref<TImageFrame>();
    frames->SetObject(index, frame.object());
    seqs->Set<int32_t>(index, frame.IsNull() ? 0 : generation);
  }
  return Cast<TImageFrame>(frames->GetObject(index));
}

Ref<TPixmap> TImage::Lock(int32_t index, int32_t, int32_t write) {
  CheckIndex(index);
  if (write) {
    seqs->Set<int32_t>(index, 0);
    frames->SetObject(index, nullptr);
  }
  if (IsNull(pixmaps->GetObject(index))) {
    pixmaps->SetObject(index, NewPixmap(width, height, PIXFMT_RGBA32, 4));
  }
  return Cast<TPixmap>(pixmaps->GetObject(index));
}

void TImage::SetPixmap(int32_t index, TPixmap* pixmap) {
  CheckIndex(index);
  Ref<TPixmap> stored(pixmap);
  if ((flags & IMAGEFLAG_MASKED) && pixmap && AlphaBits[pixmap->format] == 0) {
    stored = ColourKeyPixmap(pixmap, mask_r, mask_g, mask_b);
  }
  pixmaps->SetObject(index, stored.object());
  seqs->Set<int32_t>(index, 0);
  frames->SetObject(index, nullptr);
}

Ref<TImage> TImage::Create(int32_t width, int32_t height, int32_t frames, int32_t flags, int32_t maskRed,
                           int32_t maskGreen, int32_t maskBlue) {
  Ref<TImage> image = New<TImage>();
  image->width = width;
  image->height = height;
  image->flags = flags;
  image->mask_r = maskRed;
  image->mask_g = maskGreen;
  image->mask_b = maskBlue;
  image->pixmaps = Array::New(":TPixmap", frames);
  image->frames = Array::New(":TImageFrame", frames);
  image->seqs = Array::New("i", frames);
  return image;
}

namespace {
Ref<TPixmap> PixmapOf(Object* url) {
  if (auto* pixmap = CastRaw<TPixmap>(url)) return Ref<TPixmap>(pixmap);
  return LoadPixmap(url);
}
}  // namespace

Ref<TImage> TImage::Load(Object* url, int32_t flags, int32_t maskRed, int32_t maskGreen, int32_t maskBlue) {
  Ref<TPixmap> pixmap = PixmapOf(url);
  if (pixmap.IsNull()) return Ref<TImage>();
  Ref<TImage> image = Create(pixmap->width, pixmap->height, 1, flags, maskRed, maskGreen, maskBlue);
  image->SetPixmap(0, pixmap);
  return image;
}

Ref<TImage> TImage::LoadAnim(Object* url, int32_t cellWidth, int32_t cellHeight, int32_t first, int32_t count,
                             int32_t flags, int32_t maskRed, int32_t maskGreen, int32_t maskBlue) {
  Ref<TPixmap> pixmap = PixmapOf(url);
  if (pixmap.IsNull() || cellWidth <= 0 || cellHeight <= 0 || first < 0 || count <= 0) {
    return Ref<TImage>();
  }
  int32_t across = pixmap->width / cellWidth;
  int32_t down = pixmap->height / cellHeight;
  if (int64_t(across) * down < int64_t(first) + count) return Ref<TImage>();
  Ref<TImage> image = Create(cellWidth, cellHeight, count, flags, maskRed, maskGreen, maskBlue);
  for (int32_t i = first; i < first + count; ++i) {
    Ref<TPixmap> cell =
        pixmap->Window(cellWidth * (i % across), cellHeight * (i / across), cellWidth, cellHeight);
    image->SetPixmap(i - first, cell->Copy());
  }
  return image;
}

// ---------------------------------------------------------------------------

namespace {
TImage* Checked(TImage* image) {
  if (!image) ThrowNullObjectException();
  return image;
}
int32_t FlagsOrDefault(int32_t flags) { return flags == -1 ? DefaultImageFlags() : flags; }
}  // namespace

Ref<TImage> LoadImageSource(Object* url, int32_t flags) {
  int32_t r = 0, g = 0, b = 0;
  GetImageMaskColor(r, g, b);
  Ref<TImage> image = TImage::Load(url, FlagsOrDefault(flags), r, g, b);
  if (!image.IsNull() && AutoCentreHandle()) CentreImageHandle(image);
  return image;
}

Ref<TImage> LoadImageStrip(Object* url, int32_t cellWidth, int32_t cellHeight, int32_t first, int32_t count,
                           int32_t flags) {
  int32_t r = 0, g = 0, b = 0;
  GetImageMaskColor(r, g, b);
  Ref<TImage> image =
      TImage::LoadAnim(url, cellWidth, cellHeight, first, count, FlagsOrDefault(flags), r, g, b);
  if (!image.IsNull() && AutoCentreHandle()) CentreImageHandle(image);
  return image;
}

Ref<TImage> NewImage(int32_t width, int32_t height, int32_t frames, int32_t flags) {
  int32_t r = 0, g = 0, b = 0;
  GetImageMaskColor(r, g, b);
  Ref<TImage> image =
      TImage::Create(width, height, frames, FlagsOrDefault(flags) | IMAGEFLAG_DYNAMIC, r, g, b);
  if (AutoCentreHandle()) CentreImageHandle(image);
  return image;
}

void SetImageHandlePoint(TImage* image, float x, float y) { Checked(image)->SetHandle(x, y); }

void CentreImageHandle(TImage* image) {
  Checked(image)->SetHandle(static_cast<float>(image->Width()) * 0.5f,
                            static_cast<float>(image->Height()) * 0.5f);
}

int32_t ImageWidthOf(TImage* image) { return Checked(image)->Width(); }
int32_t ImageHeightOf(TImage* image) { return Checked(image)->Height(); }

Ref<TPixmap> LockImagePixmap(TImage* image, int32_t frame, int32_t read, int32_t write) {
  return Checked(image)->Lock(frame, read, write);
}

void UnlockImagePixmap(TImage*, int32_t) {}

void GrabImageFrame(TImage* image, int32_t x, int32_t y, int32_t frame) {
  Checked(image);
  Ref<TPixmap> copy = GrabPixmap(x, y, image->Width(), image->Height());
  if (image->Flags() & IMAGEFLAG_MASKED) {
    int32_t r = 0, g = 0, b = 0;
    GetImageMaskColor(r, g, b);
    copy = ColourKeyPixmap(copy, r, g, b);
  }
  image->SetPixmap(frame, copy);
}

}  // namespace vrl
