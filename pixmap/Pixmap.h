// Pixmaps: rectangular blocks of pixels in one of the formats of
// pixmap/PixelFormat.h, with single-pixel access, clearing, copying, pasting,
// conversion, windows, mirroring, scaling, colour keying, and the loader
// chain through which pictures are read from streams.
//
// Row y starts at pixels + y * pitch; rows are stored top row first. ARGB
// values carry alpha in bits 24-31, red in 16-23, green in 8-15, blue in 0-7.
//
// Coordinates are checked where a wrong one would reach outside the pixel
// memory: ReadPixel, WritePixel, Window and Paste throw TArrayBoundsException
// for positions outside the pixmap. PixelPtr is raw address arithmetic.
//
// Changes: a pixmap counts the changes made to its pixels, so that a copy
// kept elsewhere (a driver's texture of it) can tell whether it is stale and,
// once the copy asked for it with TrackChanges, which pixels to copy again.
// WritePixel, ClearPixels and Paste mark what they write, and the functions
// that make new pixmaps mark them as written. Code that writes through
// `pixels` or PixelPtr must call MarkChanged for what it wrote (code filling
// a pixmap it has just made may mark it once, when it is filled); otherwise
// a driver that keeps a texture of the pixmap goes on showing the old
// pixels. A window shares the counter and the marks of the pixmap whose
// memory it views: a write through either is seen through both. Memory
// wrapped with CreateStatic is a pixmap of its own; whoever writes it marks
// the pixmap that is drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pixmap/PixelFormat.h"
#include "runtime/Object.h"

namespace vrl {

class TStream;

/// A rectangle of a pixmap, in pixels.
struct PixmapArea {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixmapArea&) const = default;
};

/// Something a consumer of a pixmap's pixels keeps with the pixmap, such as
/// a driver's texture of it. The pixmap owns it and destroys it with itself.
class PixmapAttachment {
 public:
  PixmapAttachment() = default;
  PixmapAttachment(const PixmapAttachment&) = delete;
  PixmapAttachment& operator=(const PixmapAttachment&) = delete;
  virtual ~PixmapAttachment() = default;
};

class TPixmap : public Object {
  VRL_CLASS(TPixmap, Object)
  ~TPixmap() override;

  int32_t _pad() { return 0; }
  /// The address of pixel (x, y), unchecked. Whoever writes through it calls
  /// MarkChanged for what was written.
  uint8_t* PixelPtr(int32_t x, int32_t y) const {
    return pixels + std::ptrdiff_t(y) * pitch + std::ptrdiff_t(x) * PixelBytes[format];
  }
  /// A pixmap viewing a rectangle of this one's memory; it keeps this pixmap
  /// alive.
  virtual Ref<TPixmap> Window(int32_t x, int32_t y, int32_t width, int32_t height);
  virtual Ref<TPixmap> Copy();
  /// Converts `source` into this pixmap at (x, y), row by row.
  virtual int32_t Paste(TPixmap* source, int32_t x, int32_t y);
  /// Always a new pixmap, also when the format is unchanged.
  virtual Ref<TPixmap> Convert(int32_t format);
  virtual int32_t ReadPixel(int32_t x, int32_t y);
  virtual int32_t WritePixel(int32_t x, int32_t y, int32_t argb);
  virtual int32_t ClearPixels(int32_t argb);

  /// The number of changes marked so far (a window gives that of the pixmap
  /// whose memory it views). Equal counts mean unchanged pixels.
  uint64_t ChangeCount() const;
  /// Marks the pixels of the rectangle (cut to the pixmap) as written.
  void MarkChanged(int32_t x, int32_t y, int32_t width, int32_t height);
  /// Marks every pixel as written.
  void MarkChanged();
  /// From now on remember where changes are made, in spans of
  /// kChangeSpan pixels of one row, so that ChangedAreas can answer.
  void TrackChanges();
  /// The areas of this pixmap written since the change count was `since`:
  /// rectangles, each a run of spans over one or more rows (so they may
  /// reach a little beyond what was written, never fall short). False when
  /// that is not known (changes before TrackChanges, or a whole-pixmap
  /// mark): the caller must take every pixel. True with no areas when
  /// nothing changed.
  bool ChangedAreas(uint64_t since, std::vector<PixmapArea>& areas) const;
  static constexpr int32_t kChangeSpan = 32;

  /// The consumer's attachment (nullptr when none); setting one destroys the
  /// previous one. One consumer keeps one: the OpenGL 2D driver its texture.
  PixmapAttachment* Attachment() const { return _attachment.get(); }
  void SetAttachment(std::unique_ptr<PixmapAttachment> attachment);

  /// A new pixmap that owns pitch * height bytes (contents undefined); the
  /// pitch is width * bytes per pixel rounded up to a multiple of `align`.
  static Ref<TPixmap> Create(int32_t width, int32_t height, int32_t format, int32_t align = 4);
  /// Wraps memory that the caller owns and keeps valid.
  static Ref<TPixmap> CreateStatic(void* pixels, int32_t width, int32_t height, int32_t pitch,
                                   int32_t format);

  uint8_t* pixels = nullptr;  // writes through it are marked with MarkChanged
  int32_t width = 0;
  int32_t height = 0;
  int32_t pitch = 0;
  int32_t format = 0;
  int32_t capacity = 0;  // bytes owned at pixels; -1 for memory owned elsewhere

 private:
  Ref<Object> _source;  // the pixmap whose memory a window views
  /// The pixmap that owns the change marks (nullptr: this one) and this
  /// pixmap's place in it; the _source chain keeps it alive.
  TPixmap* _root = nullptr;
  int32_t _rootX = 0, _rootY = 0;
  /// Change marks, kept in the root only.
  uint64_t _changes = 0;
  uint64_t _trackedFrom = 0;  // the count when TrackChanges started
  uint64_t _wholeChange = 0;  // the count of the last whole-pixmap mark
  int32_t _spansPerRow = 0;
  std::vector<uint64_t> _spanChanges;  // per span, the count of its last change
  std::unique_ptr<PixmapAttachment> _attachment;

  void CheckInside(int32_t x, int32_t y, int32_t w, int32_t h) const;
  TPixmap& Root() { return _root ? *_root : *this; }
  const TPixmap& Root() const { return _root ? *_root : *this; }
};

/// Reads pictures from streams. Constructing a loader puts it at the head of
/// the chain, so the loader made last is asked first. Loaders live for the
/// whole run.
class TPixmapLoader : public Object {
  VRL_CLASS(TPixmapLoader, Object)
  TPixmapLoader();
  /// A pixmap from the stream at its current position, or Null when the data
  /// is not this loader's format.
  virtual Ref<TPixmap> LoadPixmap(TStream* stream);

  /// The next loader of the chain (nullptr after the last).
  TPixmapLoader* Next() const { return _succ.get(); }

 private:
  friend struct LoaderLink;  // the chain's walk (stream/LoaderChain.h)

  Ref<TPixmapLoader> _succ;
};

/// The head of the loader chain (Null when none is registered).
TPixmapLoader* PixmapLoaders();

/// Reads a picture from a URL (a String) or a stream object through the
/// loader chain: the stream is rewound before each loader, a stream exception
/// inside a loader counts as a refusal, anything else propagates. Null when no
/// loader reads it or the stream cannot be opened or positioned.
Ref<TPixmap> LoadPixmap(Object* url);

/// Module functions.
Ref<TPixmap> NewPixmap(int32_t width, int32_t height, int32_t format, int32_t align = 4);
Ref<TPixmap> NewStaticPixmap(void* pixels, int32_t width, int32_t height, int32_t pitch, int32_t format);
uint8_t* PixelPtr(TPixmap* pixmap, int32_t x, int32_t y);
int32_t ReadPixel(TPixmap* pixmap, int32_t x, int32_t y);
int32_t WritePixel(TPixmap* pixmap, int32_t x, int32_t y, int32_t argb);
int32_t ClearPixels(TPixmap* pixmap, int32_t argb);
Ref<TPixmap> CopyPixmap(TPixmap* pixmap);
Ref<TPixmap> ConvertPixmap(TPixmap* pixmap, int32_t format);
Ref<TPixmap> PixmapWindow(TPixmap* pixmap, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t PixmapWidth(TPixmap* pixmap);
int32_t PixmapHeight(TPixmap* pixmap);
int32_t PixmapPitch(TPixmap* pixmap);
int32_t PixmapFormat(TPixmap* pixmap);

/// A format-6 pixmap where pixels of the key colour become transparent and
/// take the average colour of their visible neighbours.
Ref<TPixmap> ColourKeyPixmap(TPixmap* pixmap, int32_t red, int32_t green, int32_t blue);
Ref<TPixmap> MirrorPixmapX(TPixmap* pixmap);
Ref<TPixmap> MirrorPixmapY(TPixmap* pixmap);
/// Bilinear scaling in 32-bit floating point; the result keeps the format.
/// An empty source (a side of 0) gives a result of all zero bytes.
Ref<TPixmap> ScalePixmap(TPixmap* pixmap, int32_t width, int32_t height);

namespace pixmap {
/// Registers the pixmap classes.
void Init();
}  // namespace pixmap

}  // namespace vrl
