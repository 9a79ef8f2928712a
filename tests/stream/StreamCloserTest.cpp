// The stream closer's rule (the first failure wins, a failed close is a
// failed save) on its own and through the whole-stream functions built on it.
#include "stream/StreamCloser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/Bank.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

// A seekable stream over bytes whose Close can report lost data or throw,
// and whose reads can stop before its end (a failed read under the
// end-of-data rule). Counts its closes.
class TCloseProbe : public TStream {
  VRL_CLASS(TCloseProbe, TStream)
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return int32_t(bytes.size()); }
  int32_t Seek(int32_t pos) override { return _pos = std::clamp(pos, 0, Size()); }
  int32_t Read(void* buf, int32_t count) override {
    int32_t n = std::min(count, std::min(readStopsAt, Size()) - _pos);
    if (n <= 0) return 0;
    std::memcpy(buf, bytes.data() + _pos, std::size_t(n));
    _pos += n;
    return n;
  }
  int32_t Write(const void* buf, int32_t count) override {
    bytes.append(static_cast<const char*>(buf), std::size_t(count));
    _pos = Size();
    return count;
  }
  int32_t Close() override {
    ++closes;
    if (closeThrows) vrRuntimeError("close failed");
    return closeResult;
  }

  std::string bytes;
  int32_t readStopsAt = 1 << 30;
  int32_t closeResult = 0;
  bool closeThrows = false;
  int32_t closes = 0;

 private:
  int32_t _pos = 0;
};

// "closeprobe::" opens the stream the test put here.
Ref<TCloseProbe>& NextProbe() {
  static auto* next = new Ref<TCloseProbe>;
  return *next;
}
class TCloseProbeFactory : public TStreamFactory {
  VRL_CLASS(TCloseProbeFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object*, String* proto, String*, int32_t, int32_t) override {
    if (CompareStrings(proto, u"closeprobe"_vs) != 0) return {};
    return NextProbe();
  }
};

}  // namespace

VRL_CLASS_RECORD(TCloseProbe, "TCloseProbe")
VRL_CLASS_RECORD(TCloseProbeFactory, "TCloseProbeFactory")

namespace {

class StreamCloserTest : public testing::Test {
 protected:
  void SetUp() override {
    stream::Init();
    static bool registered = false;
    if (!registered) New<TCloseProbeFactory>();  // the chain keeps it
    registered = true;
  }
  void TearDown() override { NextProbe() = nullptr; }

  // The probe the next "closeprobe::" URL opens.
  static TCloseProbe* Next(std::string bytes = {}) {
    NextProbe() = New<TCloseProbe>();
    NextProbe()->bytes = std::move(bytes);
    return NextProbe();
  }
};

template <class Body>
bool ThrowsStreamException(Body&& body, bool writing) {
  try {
    body();
  } catch (const ThrownObject& e) {
    return writing ? e.As<TStreamWriteException>() != nullptr : e.As<TStreamReadException>() != nullptr;
  }
  return false;
}

// A copy would close the stream twice; a move would leave the scope that
// opened the stream without its guard.
static_assert(!std::is_copy_constructible_v<StreamCloser> && !std::is_copy_assignable_v<StreamCloser>);
static_assert(!std::is_move_constructible_v<StreamCloser> && !std::is_move_assignable_v<StreamCloser>);

TEST_F(StreamCloserTest, ClosesOnceOnEveryWayOut) {
  Ref<TCloseProbe> probe = New<TCloseProbe>();
  { StreamCloser closer(probe); }
  EXPECT_EQ(probe->closes, 1) << "an early return closes";

  probe->closeResult = -1;
  {
    StreamCloser closer(probe);
    EXPECT_EQ(closer.Close(), -1);
    EXPECT_EQ(closer.Close(), 0) << "closed already";
  }
  EXPECT_EQ(probe->closes, 2) << "Close, then nothing more from the destructor";

  EXPECT_EQ(RuntimeErrorOf([&] {
              StreamCloser closer(probe);
              vrRuntimeError("body failed");
            }),
            "body failed");
  EXPECT_EQ(probe->closes, 3) << "an exception closes";
}

TEST_F(StreamCloserTest, FirstFailureWins) {
  Ref<TCloseProbe> probe = New<TCloseProbe>();
  probe->closeThrows = true;
  // Leaving by an exception: the failed close is dropped.
  EXPECT_EQ(RuntimeErrorOf([&] {
              StreamCloser closer(probe);
              vrRuntimeError("body failed");
            }),
            "body failed");
  // A return that does not call Close came first as well.
  EXPECT_EQ(RuntimeErrorOf([&] { StreamCloser closer(probe); }), "no throw");
  // On the way to a result, nothing failed before the close.
  EXPECT_EQ(RuntimeErrorOf([&] {
              StreamCloser closer(probe);
              closer.Close();
            }),
            "close failed");
  EXPECT_EQ(probe->closes, 3) << "a throwing Close is not tried again by the destructor";
}

TEST_F(StreamCloserTest, FailedCloseIsAFailedSave) {
  Ref<TCloseProbe> probe = New<TCloseProbe>();
  EXPECT_TRUE(StreamCloser(probe).CloseSave());
  EXPECT_FALSE(ThrowsStreamException([&] { StreamCloser(probe).CloseSaveOrThrow(); }, true));

  probe->closeResult = -1;
  EXPECT_FALSE(StreamCloser(probe).CloseSave());
  EXPECT_TRUE(ThrowsStreamException([&] { StreamCloser(probe).CloseSaveOrThrow(); }, true));

  probe->closeThrows = true;
  EXPECT_EQ(RuntimeErrorOf([&] { StreamCloser(probe).CloseSaveOrThrow(); }), "close failed");
  EXPECT_EQ(probe->closes, 5);
}

// Each save closes its stream and fails when the close lost the data.
TEST_F(StreamCloserTest, EverySaveReportsAFailedClose) {
  const auto url = u"closeprobe::out"_vs;
  Ref<Array> bytes = Array::New("b", 3);
  Next()->closeResult = -1;
  EXPECT_TRUE(ThrowsStreamException([&] { SaveByteArray(bytes, url); }, true));
  EXPECT_EQ(NextProbe()->closes, 1);
  Next()->closeResult = -1;
  EXPECT_TRUE(ThrowsStreamException([&] { SaveString(u"narrow"_vs, url); }, true));
  Next()->closeResult = -1;
  EXPECT_TRUE(ThrowsStreamException([&] { SaveText(u"wide \u263a"_vs, url); }, true));
  EXPECT_GE(NextProbe()->closes, 1);
  Next()->closeResult = -1;
  EXPECT_EQ(CreateBank(4)->Save(url), 0);
  EXPECT_EQ(NextProbe()->closes, 1);
  Next();
  EXPECT_EQ(CreateBank(4)->Save(url), 1);
  EXPECT_EQ(NextProbe()->bytes.size(), 4u);
}

// A load whose read failed used to report a throwing Close instead, which
// replaced the read's exception on its way out.
TEST_F(StreamCloserTest, LoadsReportTheReadFailureNotTheFailedClose) {
  const auto url = u"closeprobe::in"_vs;
  auto failing = [] {
    TCloseProbe* probe = Next("some bytes that stop early");
    probe->readStopsAt = 4;
    probe->closeThrows = true;
  };
  failing();
  EXPECT_TRUE(ThrowsStreamException([&] { LoadByteArray(url); }, false));
  EXPECT_EQ(NextProbe()->closes, 1);
  failing();
  EXPECT_TRUE(ThrowsStreamException([&] { LoadText(url); }, false));
  EXPECT_GE(NextProbe()->closes, 1);
  failing();
  EXPECT_TRUE(ThrowsStreamException([&] { LoadBank(url); }, false));
  EXPECT_EQ(NextProbe()->closes, 1);

  // With the whole data read, the failed close is the first failure.
  Next("all of it")->closeThrows = true;
  EXPECT_EQ(RuntimeErrorOf([&] { LoadByteArray(url); }), "close failed");
}

}  // namespace
