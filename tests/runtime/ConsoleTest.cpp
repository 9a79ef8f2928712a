#include "runtime/Console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/String.h"

using namespace vrl;

namespace {

// A stream that reads the given bytes.
std::FILE* StreamOf(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

TEST(ConsoleTest, ReadLineRemovesTheLineEnd) {
  std::FILE* in = StreamOf("unix\nwindows\r\n\n  two spaces \n\r\nlast");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "unix");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "windows");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "");
  // Only one white-space character before the line feed goes.
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "  two spaces");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), "last");
  EXPECT_EQ(ReadLineFrom(in)->Length(), 0);  // end of input
  std::fclose(in);
}

// Lines longer than one 255-character chunk, with the carriage return at a
// chunk's end and the line feed in the next.
TEST(ConsoleTest, ReadLineJoinsChunks) {
  std::string longLine(600, 'x');
  std::string split(254, 'y');
  std::FILE* in = StreamOf(longLine + "\n" + split + "\r\n" + "\xe9\xff\n");
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), longLine);
  EXPECT_EQ(ReadLineFrom(in)->ToNarrow(), split);
  Ref<String> high = ReadLineFrom(in);
  ASSERT_EQ(high->Length(), 2);
  EXPECT_EQ((*high)[0], 0xe9);  // bytes become units 0..255
  EXPECT_EQ((*high)[1], 0xff);
  std::fclose(in);
}

TEST(ConsoleTest, WritesLowBytesWithoutLineEnd) {
  testing::internal::CaptureStdout();
  vrWriteStdout(String::FromUnits(u"ab\u0163"));  // U+0163 -> 0x63 'c'
  vrWriteStdout(String::FromNarrow("d"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "abcd");
  testing::internal::CaptureStderr();
  vrWriteStderr(String::FromNarrow("to stderr"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr");
}

}  // namespace
