#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Sdl.h"
#include "platform/testing/Injection.h"
#include "tests/support/DummyVideo.h"

using namespace vrl::platform;

namespace {

void Collect(const Message& m, void* context) { static_cast<std::vector<Message>*>(context)->push_back(m); }

class MessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    UseDummyVideo();
    ASSERT_TRUE(AcquireSdl(kSdlEvents));
    ResetInjectedModifiers();
    Pump();
  }
  void TearDown() override { ReleaseSdl(kSdlEvents); }
  std::vector<Message> Pump() {
    std::vector<Message> messages;
    PumpMessages(&Collect, &messages);
    return messages;
  }
};

TEST_F(MessagesTest, TextBecomesUtf16UnitsAndControlKeysTypeTheirCharacter) {
  InjectText(1, "a\xC3\xA9\xF0\x9F\x98\x80");  // a, é, U+1F600
  InjectKey(1, "Backspace", true);
  InjectKey(1, "Return", true, true);
  InjectKey(1, "Escape", false);  // a release types nothing
  std::vector<int32_t> chars;
  int keys = 0;
  for (const Message& m : Pump()) {
    if (m.kind == MessageKind::Char) chars.push_back(m.code);
    if (m.kind == MessageKind::KeyDown || m.kind == MessageKind::KeyUp) ++keys;
  }
  EXPECT_EQ(keys, 3);
  EXPECT_EQ(chars, (std::vector<int32_t>{'a', 0xE9, 0xD83D, 0xDE00, 8, 13}));
}

TEST_F(MessagesTest, MalformedTextIsSkipped) {
  InjectText(1, "x\xC3(\xFFy\xC0\xAF\xE2\x82");  // "\xC0\xAF": an overlong "/"
  std::vector<int32_t> chars;
  for (const Message& m : Pump()) chars.push_back(m.code);
  EXPECT_EQ(chars, (std::vector<int32_t>{'x', '(', 'y'}));
}

TEST_F(MessagesTest, MouseButtonsWheelAndHeldButtons) {
  InjectMouseButton(1, 3, true, 5, 6);
  InjectMouseButton(1, 2, false, 7, 8);
  InjectMouseMove(1, -4, 9, kHeldMiddle | kHeldLeft);
  InjectWheel(1, 1, 10, 11);
  InjectWheel(1, 1, 10, 11, /*flipped=*/true);
  InjectWheel(1, -2, 10, 11, /*flipped=*/true);
  std::vector<Message> m = Pump();
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[0].kind, MessageKind::MouseDown);
  EXPECT_EQ(m[0].code, 3);
  EXPECT_EQ(m[0].x, 5);
  EXPECT_EQ(m[1].kind, MessageKind::MouseUp);
  EXPECT_EQ(m[1].code, 2);
  EXPECT_EQ(m[2].kind, MessageKind::MouseMove);
  EXPECT_EQ(m[2].buttons, kHeldMiddle | kHeldLeft);
  EXPECT_EQ(m[2].x, -4);
  EXPECT_EQ(m[3].code, 1);
  EXPECT_EQ(m[4].code, 1);  // natural scrolling reports the same notch
  EXPECT_EQ(m[5].code, -2);
  EXPECT_EQ(m[5].y, 11);
}

std::thread::id gRanOn;
int64_t gValue = 0;
void Record(void*, int64_t value) {
  gRanOn = std::this_thread::get_id();
  gValue = value;
}

TEST_F(MessagesTest, CallbacksPostedFromAnotherThreadRunOnThePumpingThread) {
  gValue = 0;
  std::thread poster([] { EXPECT_TRUE(PostMainThreadCallback(&Record, nullptr, 42)); });
  poster.join();
  EXPECT_EQ(gValue, 0);  // nothing runs before the pump
  Pump();
  EXPECT_EQ(gValue, 42);
  EXPECT_EQ(gRanOn, std::this_thread::get_id());
}

TEST_F(MessagesTest, WaitReturnsWhenAnotherThreadPosts) {
  gValue = 0;
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostMainThreadCallback(&Record, nullptr, 7);
  });
  EXPECT_TRUE(WaitForMessages());
  poster.join();
  EXPECT_EQ(gValue, 0);  // waiting takes nothing
  Pump();
  EXPECT_EQ(gValue, 7);
}

void Throw(void*, int64_t) { throw 5; }

TEST_F(MessagesTest, AThrowingCallbackLeavesTheRestQueued) {
  InjectKey(1, "B", true);
  PostMainThreadCallback(&Throw, nullptr, 0);
  InjectKey(1, "C", true);
  std::vector<Message> m;
  EXPECT_THROW(PumpMessages(&Collect, &m), int);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].code, 'B');
  m = Pump();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].code, 'C');
}

int gReposts = 0;
void Repost(void*, int64_t left) {
  ++gReposts;
  if (left > 0) PostMainThreadCallback(&Repost, nullptr, left - 1);
}

TEST_F(MessagesTest, OnePumpHandlesOnlyWhatWasQueuedWhenItStarted) {
  // A callback that posts again (a timer faster than its handler) must not
  // keep one pump going.
  gReposts = 0;
  ASSERT_TRUE(PostMainThreadCallback(&Repost, nullptr, 1000));
  InjectKey(1, "A", true);
  std::vector<Message> m = Pump();
  EXPECT_EQ(gReposts, 1);
  ASSERT_EQ(m.size(), 1u);  // what was queued before the repost still came
  EXPECT_EQ(m[0].code, 'A');
  InjectKey(1, "B", true);  // queued behind the repost
  m = Pump();
  EXPECT_EQ(gReposts, 2);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].code, 'B');
  while (gReposts < 1001) Pump();
  EXPECT_TRUE(Pump().empty());
}

TEST_F(MessagesTest, DiscardingFocusMessagesKeepsTheEarlierOnesAndTheOthersInOrder) {
  InjectWindowSignal(1, WindowSignal::FocusGained);  // before the dialog: kept
  InjectKey(1, "C", true);
  int before = PendingFocusMessages();
  EXPECT_EQ(before, 1);
  InjectWindowSignal(1, WindowSignal::FocusLost);
  InjectWindowSignal(1, WindowSignal::Close);
  InjectWindowSignal(1, WindowSignal::FocusGained);
  InjectKey(1, "D", true);
  DiscardFocusMessages(before);
  std::vector<Message> m = Pump();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].kind, MessageKind::Activate);
  EXPECT_EQ(m[0].code, 1);
  EXPECT_EQ(m[1].code, 'C');
  EXPECT_EQ(m[2].kind, MessageKind::Close);
  EXPECT_EQ(m[3].code, 'D');
}

int gDiscarded = 0;
void Discard(void*, int64_t value) { gDiscarded += static_cast<int>(value); }

TEST_F(MessagesTest, QueuedCallbacksAreDiscardedWhenTheQueueStops) {
  gDiscarded = 0;
  gValue = 0;
  ASSERT_TRUE(PostMainThreadCallback(&Record, nullptr, 3, &Discard));
  ASSERT_TRUE(PostMainThreadCallback(&Record, nullptr, 4, &Discard));
  ReleaseSdl(kSdlEvents);
  EXPECT_EQ(gDiscarded, 7);
  EXPECT_EQ(gValue, 0);
  EXPECT_FALSE(PostMainThreadCallback(&Record, nullptr, 1));
  EXPECT_EQ(PumpMessages(&Collect, nullptr), 0);
  EXPECT_FALSE(WaitForMessages());
  ASSERT_TRUE(AcquireSdl(kSdlEvents));
}

}  // namespace
