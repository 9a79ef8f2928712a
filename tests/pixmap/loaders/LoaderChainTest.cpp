#include "pixmap/loaders/PixmapLoaders.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/Stream.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;
using namespace vrl::test;

namespace {

// "probe::" opens the stream the test put here, so that the chain, not the
// test, owns and closes it.
Ref<TProbeStream>& NextProbe() {
  static auto* next = new Ref<TProbeStream>;
  return *next;
}
class TProbeFactory : public TStreamFactory {
  VRL_CLASS(TProbeFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object*, String* proto, String*, int32_t, int32_t) override {
    if (CompareStrings(proto, u"probe"_vs) != 0) return {};
    return NextProbe();
  }
};

}  // namespace

VRL_CLASS_RECORD(TProbeFactory, "TProbeFactory")

namespace {

class LoaderChainTest : public testing::Test {
 protected:
  void SetUp() override { InitLoaders(); }
  void TearDown() override { NextProbe() = nullptr; }
};

std::string Asset(const char* name) { return std::string(VRL_ASSETS) + "/" + name; }

TEST_F(LoaderChainTest, ChainAsksTgaPngJpegBmp) {
  std::vector<std::string> names;
  for (TPixmapLoader* l = PixmapLoaders(); l && names.size() < 4; l = l->Next()) {
    names.push_back(l->Class().Name());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"TPixmapLoaderTGA", "TPixmapLoaderPNG", "TPixmapLoaderJPG",
                                             "TPixmapLoaderBMP"}));
}

TEST_F(LoaderChainTest, CardAssetsLoadExactly) {
  Ref<TPixmap> picture = LoadPixmap(String::FromNarrow(Asset("image.jpg")));
  ASSERT_FALSE(picture.IsNull());
  EXPECT_EQ(picture->width, 1024);
  EXPECT_EQ(picture->height, 768);
  EXPECT_EQ(picture->format, PIXFMT_RGB24);
  int w = 0, h = 0, n = 0;
  EXPECT_EQ(PackedPixels(picture), DecodeJpeg(ReadFile(Asset("image.jpg")), &w, &h, &n));

  Ref<TPixmap> matte = LoadPixmap(String::FromNarrow(Asset("matte.png")));
  ASSERT_FALSE(matte.IsNull());
  EXPECT_EQ(matte->width, 1024);
  EXPECT_EQ(matte->height, 768);
  EXPECT_EQ(matte->format, PIXFMT_GREY8);
  auto matteRgba = DecodePngRgba(ReadFile(Asset("matte.png")), &w, &h);
  auto mattePixels = PackedPixels(matte);
  ASSERT_EQ(matteRgba.size(), mattePixels.size() * 4);
  for (std::size_t i = 0; i < mattePixels.size(); ++i) {
    if (mattePixels[i] != matteRgba[i * 4]) {
      ADD_FAILURE() << "matte differs at byte " << i;
      break;
    }
  }

  Ref<TPixmap> snow = LoadPixmap(String::FromNarrow(Asset("snow.png")));
  ASSERT_FALSE(snow.IsNull());
  EXPECT_EQ(snow->width, 12);
  EXPECT_EQ(snow->height, 3);
  EXPECT_EQ(snow->format, PIXFMT_RGBA32);
  EXPECT_EQ(PackedPixels(snow), DecodePngRgba(ReadFile(Asset("snow.png")), &w, &h));
}

TEST_F(LoaderChainTest, EachLoaderStartsAtTheStreamsPosition) {
  // A BMP after 7 bytes of something else: every loader before the BMP one
  // reads from position 7 and the BMP loader still sees "BM" there.
  Bytes b;
  b.Fill(0x5A, 7);
  b.U8('B').U8('M').U32(0).U32(0).U32(54).U32(40).U32(1).U32(1).U16(1).U16(24);
  b.U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
  b.U8(0x30).U8(0x20).U8(0x10).U8(0);
  Ref<TProbeStream> stream = TProbeStream::Over(b.v);
  stream->Seek(7);
  Ref<TPixmap> p = LoadPixmap(stream);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_BGR24);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF102030u);
  EXPECT_EQ(stream->closes, 0) << "LoadPixmap closes only its wrapper of a caller's stream";
}

// A stream that does not know its length reports a size of 0: that is not
// an empty stream, and the loaders keep only their absolute limits for it.
TEST_F(LoaderChainTest, StreamsOfUnknownLengthStillLoad) {
  Bytes bmp;
  bmp.U8('B').U8('M').U32(0).U32(0).U32(54).U32(40).U32(2).U32(1).U16(1).U16(24);
  bmp.U32(0).U32(0).U32(0).U32(0).U32(0).U32(0);
  bmp.U8(0x30).U8(0x20).U8(0x10).U8(1).U8(2).U8(3).U16(0);
  Ref<TPixmap> p = LoadPixmap(TProbeStream::Unsized(bmp.v));
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF030201u);
  auto png = ReadFile(Asset("snow.png"));
  EXPECT_FALSE(LoadPixmap(TProbeStream::Unsized(png)).IsNull());
}

TEST_F(LoaderChainTest, UnknownDataAndMissingFilesGiveNull) {
  std::vector<uint8_t> text(200, 'x');
  EXPECT_TRUE(LoadPixmap(Over(text)).IsNull());
  std::vector<uint8_t> empty;
  EXPECT_TRUE(LoadPixmap(Over(empty)).IsNull());
  EXPECT_TRUE(LoadPixmap(String::FromNarrow("/nonexistent-dir/none.png")).IsNull());
}

// A loader's failure used to be replaced by the stream's failed Close on
// the way out: the chain reported the close, not what went wrong.
TEST_F(LoaderChainTest, LoaderExceptionIsNotReplacedByAFailedClose) {
  static bool registered = false;
  if (!registered) New<TProbeFactory>();  // the chain keeps it
  registered = true;
  std::vector<uint8_t> bytes(64, 0);
  NextProbe() = TProbeStream::Over(bytes, 0);
  NextProbe()->closeThrows = true;
  try {
    LoadPixmap(u"probe::picture"_vs);
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<TRuntimeException>(), nullptr);
    EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "probe stream failure");
  }
  EXPECT_EQ(NextProbe()->closes, 1);
}

}  // namespace
