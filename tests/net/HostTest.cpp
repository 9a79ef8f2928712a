#include "net/Host.h"

#include <gtest/gtest.h>

namespace vrl {
namespace {

constexpr int32_t kLoopback = (127 << 24) + 1;

TEST(Host, DottedIPWritesTheTopByteFirst) {
  EXPECT_EQ(DottedIP(kLoopback)->ToUtf8String(), "127.0.0.1");
  EXPECT_EQ(DottedIP(0)->ToUtf8String(), "0.0.0.0");
  // The top byte is the sign bit of the Int: it must still print unsigned.
  EXPECT_EQ(DottedIP(-1)->ToUtf8String(), "255.255.255.255");
  EXPECT_EQ(DottedIP(static_cast<int32_t>(0xC0A80A05U))->ToUtf8String(), "192.168.10.5");
  EXPECT_EQ(DottedIP(0x01020304)->ToUtf8String(), "1.2.3.4");
}

TEST(Host, DottedAddressesResolveToThemselves) {
  Ref<Array> ips = HostIps(u"127.0.0.1"_vs);
  ASSERT_EQ(ips->Length(), 1);
  EXPECT_STREQ(ips->Tag(), "i");
  EXPECT_EQ(ips->Get<int32_t>(0), kLoopback);
  EXPECT_EQ(HostIp(u"10.1.2.3"_vs, 0), (10 << 24) + (1 << 16) + (2 << 8) + 3);
  EXPECT_EQ(HostIp(u"255.255.255.254"_vs), static_cast<int32_t>(0xFFFFFFFEU));
}

TEST(Host, IndicesOutsideTheAddressesGiveZero) {
  EXPECT_EQ(HostIp(u"127.0.0.1"_vs, 5), 0);
  EXPECT_EQ(HostIp(u"127.0.0.1"_vs, 1), 0);
  EXPECT_EQ(HostIp(u"127.0.0.1"_vs, -1), 0);
  EXPECT_EQ(HostIp(u"127.0.0.1"_vs, 0), kLoopback);
}

TEST(Host, NamesThatDoNotResolveGiveAnEmptyArray) {
  // ".invalid" is reserved never to resolve; an empty name must not mean the
  // local host; a name with an embedded 0 must not be cut at it.
  Ref<String> embedded = String::FromUnits(std::u16string_view(u"127.0.0.1\0x", 11));
  // Characters outside the 16-bit range are no reason to throw.
  for (String* name :
       {u"no-such-host.invalid"_vs, u""_vs, embedded.get(), u"256.1.1.1"_vs, u"h\U0001D11E.invalid"_vs}) {
    Ref<Array> ips = HostIps(name);
    EXPECT_EQ(ips->Length(), 0) << name->ToUtf8String();
    EXPECT_EQ(HostIp(name, 0), 0);
  }
  EXPECT_EQ(HostIps(nullptr)->Length(), 0);
}

TEST(Host, LocalhostResolvesToLoopback) {
  Ref<Array> ips = HostIps(u"localhost"_vs);
  ASSERT_GE(ips->Length(), 1);
  EXPECT_EQ(ips->Get<int32_t>(0) >> 24, 127);
}

TEST(Host, ReverseLookupOfLoopbackNamesAHost) {
  // /etc/hosts names 127.0.0.1, and that name leads back to loopback.
  Ref<String> name = HostName(kLoopback);
  ASSERT_GT(name->Length(), 0);
  EXPECT_EQ(HostIp(name, 0) >> 24, 127) << name->ToUtf8String();
}

}  // namespace
}  // namespace vrl
