// Polled input fed by real SDL events through the system driver.
#include "input/PolledInput.h"

#include <gtest/gtest.h>

#include "platform/Window.h"
#include "platform/testing/Injection.h"
#include "system/EventQueue.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"
#include "tests/support/DummyVideo.h"

using namespace vrl;
using namespace vrl::platform;

namespace {

uint32_t gWindow = 0;

class PolledInputTest : public testing::Test {
 protected:
  void SetUp() override {
    UseDummyVideo();
    input::Init();
    ResetInjectedModifiers();
    _window = OpenPlainWindow("input", 320, 240);
    ASSERT_NE(_window, 0u);
    gWindow = _window;
    AutoPollSystem = 1;
    StopPolledInput();
    StartPolledInput(nullptr);
    TakeTerminateRequest();
    while (NextChar()) {
    }
  }
  void TearDown() override {
    AutoPollSystem = 1;
    StopPolledInput();
    SetWindowEventSource(_window, nullptr);
    ClosePlainWindow(_window);
    FlushEvents();
  }
  void Key(const char* name, bool down, bool repeat = false) {
    ASSERT_TRUE(InjectKey(_window, name, down, repeat));
  }
  // Runs `inject` on the main thread inside the first pump of the await
  // function that follows (the one of its ClearKeys or ClearMouse). A pump
  // handles only what was queued when it started, so the injected input is
  // neither cleared nor lost: it waits for the await function's own wait.
  static void WhenAwaiting(MainThreadCallback inject) {
    ASSERT_TRUE(PostMainThreadCallback(inject, nullptr, 0, false));
  }

  uint32_t _window = 0;
};

TEST_F(PolledInputTest, AHeldKeyCountsOneHitWhileItStaysDown) {
  Key("A", true);
  for (int i = 0; i < 20; ++i) Key("A", true, true);
  EXPECT_EQ(TakeKeyHits(65), 1);
  EXPECT_EQ(KeyIsDown(65), 1);
  Key("A", true, true);
  EXPECT_EQ(TakeKeyHits(65), 0);
  EXPECT_EQ(KeyIsDown(65), 1);
  Key("A", false);
  EXPECT_EQ(KeyIsDown(65), 0);
}

TEST_F(PolledInputTest, ThreeQuickPressesOfEscapeCountThree) {
  for (int i = 0; i < 3; ++i) {
    Key("Escape", true);
    Key("Escape", false);
  }
  EXPECT_EQ(TakeKeyHits(27), 3);
  EXPECT_EQ(TakeKeyHits(27), 0);
  EXPECT_EQ(TakeKeyHits(300), 0);  // out of range: ignored
  EXPECT_EQ(KeyIsDown(-1), 0);
}

TEST_F(PolledInputTest, SidedModifiersAreKeysOfTheirOwn) {
  Key("Right Ctrl", true);
  Key("Left Shift", true);
  EXPECT_EQ(KeyIsDown(0xA3), 1);
  EXPECT_EQ(KeyIsDown(0xA0), 1);
  EXPECT_EQ(KeyIsDown(0xA2), 0);
  Key("Right Ctrl", false);
  Key("Left Shift", false);
  EXPECT_EQ(TakeKeyHits(0xA3), 1);
  EXPECT_EQ(KeyIsDown(0xA3), 0);
}

TEST_F(PolledInputTest, SuspendAndResumeClearTheStates) {
  Key("B", true);
  EXPECT_EQ(KeyIsDown('B'), 1);
  ASSERT_TRUE(InjectMouseButton(_window, 1, true, 1, 1));
  InjectWindowSignal(_window, WindowSignal::FocusLost);
  EXPECT_EQ(IsAppSuspended(), 1);
  EXPECT_EQ(KeyIsDown('B'), 0);
  EXPECT_EQ(MouseIsDown(1), 0);
  EXPECT_EQ(TakeKeyHits('B'), 0);
  // Pressed while suspended, released after the resume: state 0.
  Key("C", true);
  InjectWindowSignal(_window, WindowSignal::FocusGained);
  EXPECT_EQ(IsAppSuspended(), 0);
  EXPECT_EQ(KeyIsDown('C'), 0);
  Key("C", false);
  EXPECT_EQ(KeyIsDown('C'), 0);
  EXPECT_EQ(TakeKeyHits('C'), 0);
}

TEST_F(PolledInputTest, AKeyHeldWhileTheProgramShowsADialogStaysDown) {
  // The program's own dialog takes the focus and gives it back: no suspend,
  // so the polled state survives it.
  InjectWindowSignal(_window, WindowSignal::FocusGained);  // the program has the focus
  EXPECT_EQ(IsAppSuspended(), 0);
  Key("B", true);
  EXPECT_EQ(KeyIsDown('B'), 1);
  BeginModalDialog();
  InjectWindowSignal(_window, WindowSignal::FocusLost);
  EndModalDialog();
  InjectWindowSignal(_window, WindowSignal::FocusGained);
  EXPECT_EQ(IsAppSuspended(), 0);
  EXPECT_EQ(KeyIsDown('B'), 1);
  EXPECT_EQ(TakeKeyHits('B'), 1);
  Key("B", false);
}

TEST_F(PolledInputTest, ACloseRequestIsReportedOnce) {
  InjectWindowSignal(_window, WindowSignal::Close);
  EXPECT_EQ(TakeTerminateRequest(), 1);
  EXPECT_EQ(TakeTerminateRequest(), 0);
  EXPECT_TRUE(WindowShown(_window));
  Key("Left Alt", true);
  Key("F4", true);
  Key("F4", false);
  Key("Left Alt", false);
  EXPECT_EQ(TakeTerminateRequest(), 1);
}

TEST_F(PolledInputTest, CharactersQueueUpTo256) {
  std::string text;
  for (int i = 0; i < 257; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(InjectText(_window, text));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(NextChar(), 'a' + i % 26) << i;
  EXPECT_EQ(NextChar(), 0);  // the 257th was dropped
  InjectText(_window, "\xC3\xBC");
  EXPECT_EQ(NextChar(), 0xFC);
  InjectText(_window, "xy");
  ClearKeys();
  EXPECT_EQ(NextChar(), 0);
}

TEST_F(PolledInputTest, MouseButtonsPositionAndWheel) {
  // The deltas count from the position at their last read, which outlives
  // a case: start from a read at the origin, so that repeated runs agree.
  InjectMouseMove(_window, 0, 0);
  ClearMouse();
  MouseDeltaX();
  MouseDeltaY();
  MouseWheelDelta();
  InjectMouseMove(_window, 100, 50);
  EXPECT_EQ(MousePosX(), 100);
  EXPECT_EQ(MousePosY(), 50);
  EXPECT_EQ(MouseDeltaX(), 100);
  EXPECT_EQ(MouseDeltaX(), 0);
  InjectMouseMove(_window, 90, 70);
  EXPECT_EQ(MouseDeltaX(), -10);
  EXPECT_EQ(MouseDeltaY(), 70);  // its first read since the origin
  EXPECT_EQ(MouseDeltaY(), 0);

  InjectWheel(_window, 1, 0, 0);
  InjectWheel(_window, 1, 0, 0);
  EXPECT_EQ(MouseWheelDelta(), 2);
  EXPECT_EQ(MouseWheelDelta(), 0);
  InjectWheel(_window, -1, 0, 0);
  EXPECT_EQ(MouseWheelPos(), 1);
  EXPECT_EQ(MouseWheelDelta(), -1);

  InjectMouseButton(_window, 2, true, 0, 0);
  InjectMouseButton(_window, 2, true, 0, 0);  // already down: no second hit
  InjectMouseButton(_window, 3, true, 0, 0);
  InjectMouseButton(_window, 3, false, 0, 0);
  EXPECT_EQ(MouseIsDown(2), 1);
  EXPECT_EQ(TakeMouseHits(2), 1);
  EXPECT_EQ(TakeMouseHits(3), 1);
  EXPECT_EQ(MouseIsDown(3), 0);
  ClearMouse();
  EXPECT_EQ(MouseIsDown(2), 0);
  EXPECT_EQ(MouseWheelPos(), 0);
  EXPECT_EQ(MousePosX(), 90);  // the position stays
}

TEST_F(PolledInputTest, TheSourceFilterIgnoresOtherSources) {
  StopPolledInput();
  Ref<TEvent> mine = New<TEvent>();
  SetWindowEventSource(_window, mine);
  StartPolledInput(mine);
  StartPolledInput(nullptr);  // already started: the filter stays
  Key("D", true);
  InjectKey(0, "E", true);  // no window: a Null source
  EXPECT_EQ(TakeKeyHits('D'), 1);
  EXPECT_EQ(TakeKeyHits('E'), 0);
  StopPolledInput();
  Key("D", false);
  Key("D", true);
  EXPECT_EQ(TakeKeyHits('D'), 0);  // stopped: nothing counts
}

TEST_F(PolledInputTest, WithoutAutoPollQueriesReadStaleState) {
  AutoPollSystem = 0;
  Key("F", true);
  EXPECT_EQ(KeyIsDown('F'), 0);
  EXPECT_EQ(TakeKeyHits('F'), 0);
  PollSystemEvents();
  EXPECT_EQ(KeyIsDown('F'), 1);
  EXPECT_EQ(TakeKeyHits('F'), 1);
}

TEST_F(PolledInputTest, AwaitFunctionsReturnTheFirstInputAfterTheCall) {
  Key("G", true);  // before the call: cleared
  WhenAwaiting([](Object*, int32_t) {
    InjectKey(gWindow, "M", true);
    InjectKey(gWindow, "K", true);
  });
  EXPECT_EQ(AwaitKey(), 'K');      // the lowest code of those hit together
  EXPECT_EQ(TakeKeyHits('M'), 1);  // higher codes keep their hits
  EXPECT_EQ(TakeKeyHits('G'), 0);

  InjectText(_window, "p");
  WhenAwaiting([](Object*, int32_t) { InjectText(gWindow, "q"); });
  EXPECT_EQ(AwaitChar(), 'q');

  InjectMouseButton(_window, 1, true, 0, 0);
  WhenAwaiting([](Object*, int32_t) { InjectMouseButton(gWindow, 3, true, 0, 0); });
  EXPECT_EQ(AwaitMouse(), 3);
  EXPECT_EQ(TakeMouseHits(1), 0);
}

int gAwaitResult = -1;
Ref<Object> AwaitInsideHook(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (e && e->id == kEventKeyDown && e->data == 'H') gAwaitResult = AwaitKey();
  return Ref<Object>(data);
}

TEST_F(PolledInputTest, AwaitingFromInsideAHookGivesUpInsteadOfHanging) {
  gAwaitResult = -1;
  InstallHook(EmitEventHookId(), &AwaitInsideHook, nullptr, 5);
  Key("H", true);
  PollSystemEvents();
  UninstallHook(EmitEventHookId(), &AwaitInsideHook, nullptr);
  EXPECT_EQ(gAwaitResult, 0);
}

}  // namespace
