#include "pixmap/loaders/PixmapLoaderJPG.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "stream/BankStream.h"
#include "stream/Stream.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;
using namespace vrl::test;

namespace {

class JpgLoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    InitLoaders();
    bankstream::Init();
  }
  Ref<TPixmap> Load(std::vector<uint8_t>& file) { return LoadPixmapJPG(Over(file)); }
};

// Offset of the first SOFn marker's height field.
std::size_t FrameHeightOffset(const std::vector<uint8_t>& file) {
  for (std::size_t i = 2; i + 9 < file.size();) {
    if (file[i] != 0xFF) return 0;
    uint8_t marker = file[i + 1];
    if (marker == 0xC0 || marker == 0xC2) return i + 5;
    i += 2 + (std::size_t(file[i + 2]) << 8 | file[i + 3]);
  }
  return 0;
}

TEST_F(JpgLoaderTest, GreyAndColourMatchLibjpeg) {
  struct Case {
    int components, space, format;
    bool progressive;
  };
  for (Case c : {Case{1, JCS_GRAYSCALE, PIXFMT_GREY8, false}, Case{3, JCS_RGB, PIXFMT_RGB24, false},
                 Case{3, JCS_RGB, PIXFMT_RGB24, true}}) {
    auto file = EncodeJpeg(37, 21, c.components, c.space, Gradient(37, 21, c.components), 90, c.progressive);
    Ref<TPixmap> p = Load(file);
    ASSERT_FALSE(p.IsNull()) << c.components;
    EXPECT_EQ(p->format, c.format);
    EXPECT_EQ(p->width, 37);
    EXPECT_EQ(p->height, 21);
    int w = 0, h = 0, n = 0;
    EXPECT_EQ(PackedPixels(p), DecodeJpeg(file, &w, &h, &n)) << c.components << c.progressive;
  }
}

TEST_F(JpgLoaderTest, CmykIsRefused) {
  auto file = EncodeJpeg(8, 8, 4, JCS_CMYK, Gradient(8, 8, 4), 90);
  EXPECT_TRUE(Load(file).IsNull());
}

TEST_F(JpgLoaderTest, TruncatedDataDecodesAsFarAsItGoes) {
  auto file = EncodeJpeg(64, 64, 3, JCS_RGB, Gradient(64, 64, 3), 90);
  int w = 0, h = 0, n = 0;
  auto whole = DecodeJpeg(file, &w, &h, &n);
  file.resize(file.size() * 2 / 3);
  Ref<TProbeStream> stream = TProbeStream::Over(file);
  Ref<TPixmap> p = LoadPixmapJPG(stream);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->width, 64);
  EXPECT_EQ(p->height, 64);
  // The first row of blocks lies well before the cut.
  auto pixels = PackedPixels(p);
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + std::ptrdiff_t(64) * 3 * 8, pixels.begin()));
  EXPECT_EQ(stream->closes, 0) << "the reader closes only its wrapper";

  std::vector<uint8_t> tablesOnly(file.begin(), file.begin() + 100);
  EXPECT_TRUE(Load(tablesOnly).IsNull()) << "cut before the frame header: no image";
  std::vector<uint8_t> empty;
  EXPECT_TRUE(Load(empty).IsNull());
  std::vector<uint8_t> garbage = {0xFF, 0xD8, 0x00, 0x12, 0x34};
  EXPECT_TRUE(Load(garbage).IsNull());
}

TEST_F(JpgLoaderTest, ExceptionsFromTheStreamPassThrough) {
  auto file = EncodeJpeg(64, 64, 3, JCS_RGB, Gradient(64, 64, 3), 90);
  Ref<TProbeStream> stream = TProbeStream::Over(file, int32_t(file.size() / 2));
  try {
    LoadPixmapJPG(stream);
    ADD_FAILURE() << "expected the stream's runtime error";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TRuntimeException>(), nullptr);
  }
  EXPECT_EQ(stream->closes, 0);
}

TEST_F(JpgLoaderTest, OversizedFramesAreRefusedBeforeDecoding) {
  auto file = EncodeJpeg(16, 16, 3, JCS_RGB, Gradient(16, 16, 3), 90);
  std::size_t at = FrameHeightOffset(file);
  ASSERT_NE(at, 0u);
  auto setSize = [&](int width, int height) {
    file[at] = uint8_t(height >> 8);
    file[at + 1] = uint8_t(height);
    file[at + 2] = uint8_t(width >> 8);
    file[at + 3] = uint8_t(width);
  };
  setSize(16385, 16);
  EXPECT_TRUE(Load(file).IsNull());
  setSize(9000, 9000);
  EXPECT_TRUE(Load(file).IsNull()) << "8.1 * 10^7 pixels";
  setSize(16, 16);
  EXPECT_FALSE(Load(file).IsNull());
}

// A few hundred bytes must not cost the memory of the frame they claim: the
// pixmap and libjpeg's whole-picture buffers of a progressive picture.
TEST_F(JpgLoaderTest, DecompressionBombsAreRefused) {
  auto file = EncodeJpeg(16, 16, 3, JCS_RGB, Gradient(16, 16, 3), 90, true);
  std::size_t at = FrameHeightOffset(file);
  ASSERT_NE(at, 0u);
  for (std::size_t i : {at, at + 2}) {
    file[i] = 8192 >> 8;
    file[i + 1] = 8192 & 0xFF;
  }
  EXPECT_TRUE(Load(file).IsNull()) << "progressive-bomb.jpg, " << file.size() << " bytes";

  // The most compressible picture there is still loads: each 8 x 8 block
  // costs at least a bit.
  auto flat =
      EncodeJpeg(2048, 2048, 1, JCS_GRAYSCALE, std::vector<uint8_t>(std::size_t(2048) * 2048), 75, true);
  Ref<TPixmap> p = Load(flat);
  ASSERT_FALSE(p.IsNull()) << flat.size() << " bytes";
  EXPECT_EQ(p->width, 2048);
}

// The offsets of the SOS markers and of EOI, walking the segments and the
// entropy-coded data after each scan.
std::vector<std::size_t> ScanOffsets(const std::vector<uint8_t>& file, std::size_t* eoi) {
  std::vector<std::size_t> scans;
  for (std::size_t i = 2; i + 1 < file.size();) {
    const uint8_t marker = file[i + 1];
    if (marker == 0xD9) {
      *eoi = i;
      return scans;
    }
    if (i + 3 >= file.size()) break;
    const std::size_t length = std::size_t(file[i + 2]) << 8 | file[i + 3];
    if (marker == 0xDA) scans.push_back(i);
    i += 2 + length;
    if (marker != 0xDA) continue;
    // Coded data runs to the next marker that is neither a stuffed 0 nor a
    // restart.
    while (i + 1 < file.size() && !(file[i] == 0xFF && file[i + 1] != 0 && (file[i + 1] & 0xF8) != 0xD0)) ++i;
  }
  *eoi = 0;
  return scans;
}

TEST_F(JpgLoaderTest, ScansBeyondTheLimitAreRefused) {
  auto file = EncodeJpeg(8, 8, 1, JCS_GRAYSCALE, Gradient(8, 8, 1), 90, true);
  std::size_t eoi = 0;
  const std::vector<std::size_t> scans = ScanOffsets(file, &eoi);
  ASSERT_GE(scans.size(), 2u);
  ASSERT_NE(eoi, 0u);
  // The last scan (a refinement) again and again: libjpeg warns about the
  // progression and goes on, so only the count can stop it.
  const std::vector<uint8_t> last(file.begin() + std::ptrdiff_t(scans.back()),
                                  file.begin() + std::ptrdiff_t(eoi));
  auto withScans = [&](std::size_t count) {
    std::vector<uint8_t> out(file.begin(), file.begin() + std::ptrdiff_t(eoi));
    for (std::size_t n = scans.size(); n < count; ++n) out.insert(out.end(), last.begin(), last.end());
    out.insert(out.end(), file.begin() + std::ptrdiff_t(eoi), file.end());
    return out;
  };
  auto atLimit = withScans(std::size_t(limits::kJpegScans));
  std::size_t end = 0;
  ASSERT_EQ(ScanOffsets(atLimit, &end).size(), std::size_t(limits::kJpegScans));
  Ref<TPixmap> p = Load(atLimit);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->width, 8);
  auto over = withScans(std::size_t(limits::kJpegScans) + 1);
  EXPECT_TRUE(Load(over).IsNull());
}

TEST_F(JpgLoaderTest, WriterRoundTrip) {
  // A smooth picture, which JPEG keeps close.
  Ref<TPixmap> source = TPixmap::Create(40, 24, PIXFMT_RGBA32, 4);
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 40; ++x) {
      uint8_t* p = source->PixelPtr(x, y);
      for (int c = 0; c < 4; ++c) p[c] = uint8_t(30 + x * 3 + y * 2 + c * 30);
    }
  }
  // A window: the writer must follow the pitch and convert the format.
  Ref<TPixmap> window = source->Window(4, 2, 32, 16);
  Ref<TBank> bank = CreateBank(0);
  ASSERT_EQ(SavePixmapJPG(window, bank, 95), 1);
  Ref<TPixmap> back = LoadPixmapJPG(bank);
  ASSERT_FALSE(back.IsNull());
  EXPECT_EQ(back->format, PIXFMT_RGB24);
  ASSERT_EQ(back->width, 32);
  ASSERT_EQ(back->height, 16);
  int worst = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      uint32_t a = Pixel(window, x, y), b = Pixel(back, x, y);
      for (int shift : {0, 8, 16}) {
        worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
      }
    }
  }
  EXPECT_LE(worst, 12) << "quality 95 stays close to the source";
}

TEST_F(JpgLoaderTest, WriterReportsFailures) {
  Ref<TPixmap> pixmap = TPixmap::Create(64, 64, PIXFMT_RGB24, 4);
  pixmap->ClearPixels(0x336699);
  EXPECT_EQ(SavePixmapJPG(pixmap, String::FromNarrow("/nonexistent-dir/x.jpg"), 80), 0);
  EXPECT_THROW(SavePixmapJPG(nullptr, String::FromNarrow("/tmp/never-written.jpg"), 80), ThrownObject);
  // A stream that fills up: the compression fails, and that is no success.
  std::vector<uint8_t> tiny(100);
  Ref<TRamStream> full = TRamStream::Create(tiny.data(), 100, 0, 1);
  EXPECT_EQ(SavePixmapJPG(pixmap, full, 80), 0);
  Ref<TBank> bank = CreateBank(0);
  EXPECT_EQ(SavePixmapJPG(TPixmap::Create(0, 0, PIXFMT_RGB24, 4), bank, 80), 0);
}

}  // namespace
