#include "net/rivo/RIvoWire.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/Thrown.h"

namespace {

using namespace vrl::rivo;
using Bytes = std::vector<uint8_t>;

TEST(RIvoWire, HalfFloatsRoundToNearestEven) {
  EXPECT_EQ(FloatToHalf(1.0f), 0x3c00);
  EXPECT_EQ(FloatToHalf(-2.0f), 0xc000);
  EXPECT_EQ(FloatToHalf(0.1f), 0x2e66);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7bff);                          // the largest finite half
  EXPECT_EQ(FloatToHalf(65520.0f), 0x7c00);                          // halfway above it: infinity
  EXPECT_EQ(FloatToHalf(1.0f + std::ldexp(1.0f, -11)), 0x3c00);      // tie, kept even
  EXPECT_EQ(FloatToHalf(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3c02);  // tie, rounded up to even
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -24)), 0x0001);             // smallest subnormal
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -25)), 0x0000);             // tie with zero
  EXPECT_EQ(FloatToHalf(std::ldexp(3.0f, -26)), 0x0001);
  EXPECT_EQ(FloatToHalf(std::ldexp(1023.5f, -24)), 0x0400);  // rounds into the normals
  EXPECT_EQ(FloatToHalf(-0.0f), 0x8000);
  EXPECT_EQ(FloatToHalf(INFINITY), 0x7c00);
  const uint16_t nan = FloatToHalf(NAN);
  EXPECT_EQ(nan & 0x7c00, 0x7c00);
  EXPECT_NE(nan & 0x3ff, 0);
  // Every half but NaN comes back unchanged.
  for (uint32_t h = 0; h <= 0xffff; ++h) {
    const auto half = uint16_t(h);
    if ((half & 0x7c00) == 0x7c00 && (half & 0x3ff)) {
      EXPECT_TRUE(std::isnan(HalfToFloat(half)));
      continue;
    }
    ASSERT_EQ(FloatToHalf(HalfToFloat(half)), half) << h;
  }
  EXPECT_EQ(HalfToFloat(0x0001), std::ldexp(1.0f, -24));
  EXPECT_EQ(HalfToFloat(0xc000), -2.0f);
}

TEST(RIvoWire, SlotsPackAsTheirTypesSay) {
  Bytes out;
  AppendSlot(out, 0, SLOT_INT, -2, 0, {});
  AppendSlot(out, 1, SLOT_HALF, 0, 1.0f, {});
  AppendSlot(out, 2, SLOT_STRING, 0, 0, u"ab\u0141");  // one byte a character: the low one
  AppendSlot(out, 3, SLOT_BYTE, 200, 0, {});
  AppendSlot(out, 4, SLOT_SHORT, 0x1234, 0, {});
  AppendSlot(out, 31, SLOT_FLOAT, 0, 1.0f, {});
  AppendSlot(out, 5, SLOT_UNSET, 9, 0, {});
  const Bytes expected = {0x20, 0xff, 0xff, 0xff, 0xfe, 0x41, 0x3c, 0x00, 0x62, 0x00, 0x03, 'a',
                          'b',  0x41, 0x83, 200,  0xa4, 0x12, 0x34, 0xdf, 0x3f, 0x80, 0x00, 0x00};
  EXPECT_EQ(out, expected);

  const std::vector<WireSlot> slots = UnpackSlotData(out);
  ASSERT_EQ(slots.size(), 6u);
  EXPECT_EQ(slots[0].intValue, -2);
  EXPECT_EQ(slots[1].floatValue, 1.0f);
  EXPECT_EQ(std::string(slots[2].text.begin(), slots[2].text.end()), "abA");
  EXPECT_EQ(slots[3].intValue, 200);
  EXPECT_EQ(slots[4].intValue, 0x1234);
  EXPECT_EQ(slots[5].index, 31);
  EXPECT_EQ(slots[5].type, SLOT_FLOAT);
  EXPECT_EQ(slots[5].floatValue, 1.0f);

  EXPECT_TRUE(ThrowsObject([&] { AppendSlot(out, 0, 7, 0, 0, {}); }, "Invalid RIvo data type"));
  const std::u16string tooLong(65536, u'x');
  EXPECT_TRUE(
      ThrowsObject([&] { AppendSlot(out, 0, SLOT_STRING, 0, 0, tooLong); }, "RIvo message data too large"));
}

TEST(RIvoWire, DecodersRefuseWhatRunsPastTheData) {
  const char* corrupt = "Corrupt RIvo message";
  for (const Bytes& data :
       {Bytes{0x20, 1, 2, 3}, Bytes{0x41, 0x3c}, Bytes{0x62, 0x00}, Bytes{0x62, 0x00, 4, 'a', 'b', 'c'},
        Bytes{0x62, 0xff, 0xff}, Bytes{0x83}, Bytes{0xa4, 1}, Bytes{0xc5, 1, 2, 3}}) {
    EXPECT_TRUE(ThrowsObject([&] { UnpackSlotData(data); }, corrupt)) << int(data[0]);
  }
  EXPECT_TRUE(ThrowsObject([] { UnpackSlotData(Bytes{0x83, 1, 0x01, 5}); }, "Invalid RIvo data type"));
  EXPECT_TRUE(ThrowsObject([] { UnpackSlotData(Bytes{0xe0}); }, "Invalid RIvo data type"));
  EXPECT_TRUE(UnpackSlotData({}).empty());

  EXPECT_TRUE(ThrowsObject([] { DecodeMessage(Bytes{0x10}); }, corrupt));
  for (uint8_t state : {0, 4, 6, 15})
    EXPECT_TRUE(ThrowsObject([&] { DecodeMessage(Bytes{uint8_t(state << 4), 1}); }, corrupt));
  EXPECT_TRUE(ThrowsObject([] { DecodeMessage(Bytes{0x20, 0x00}); }, corrupt));  // no object 0
  EXPECT_TRUE(ThrowsObject([] { DecodeMessage(Bytes{0x10, 0x01, 0x83}); }, corrupt));
  Bytes big(2 + 65521, 0x83);
  big[0] = 0x10;
  big[1] = 1;
  EXPECT_TRUE(ThrowsObject([&] { DecodeMessage(big); }, "RIvo message data too large"));

  const WireMessage message = DecodeMessage(Bytes{0x2a, 0xbc, 0x83, 7});
  EXPECT_EQ(message.state, STATE_MODIFIED);
  EXPECT_EQ(message.id, 0xabc);
  ASSERT_EQ(message.slots.size(), 1u);
  EXPECT_EQ(message.slots[0].index, 3);
  EXPECT_EQ(message.slots[0].intValue, 7);
}

TEST(RIvoWire, HeaderCarriesStateAndTwelveBitId) {
  uint8_t header[2] = {};
  EncodeHeader(header, STATE_MESSAGE, 0xfed);
  EXPECT_EQ(header[0], 0x5f);
  EXPECT_EQ(header[1], 0xed);
  EXPECT_TRUE(ThrowsObject([&] { EncodeHeader(header, STATE_SYNCED, 1); }, "RIvo error"));
  EXPECT_TRUE(ThrowsObject([&] { EncodeHeader(header, STATE_CREATED, 4096); }, "RIvo error"));
}

}  // namespace
