// The road from SDL's event queue through the system driver and its
// translator to the emit chain, with real SDL events.
#include "system/SystemDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/Window.h"
#include "platform/testing/Injection.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "system/EventQueue.h"
#include "system/Hooks.h"
#include "system/SDLSystemDriver.h"
#include "tests/support/DummyVideo.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using namespace vrl::platform;

namespace {

struct Seen {
  int32_t id, data, mods, x, y;
  Object* source;
};
std::vector<Seen> gSeen;

Ref<Object> Record(int32_t, Object* data, Object*) {
  if (TEvent* e = AsEvent(data)) gSeen.push_back({e->id, e->data, e->mods, e->x, e->y, e->source.get()});
  return Ref<Object>(data);
}

class SystemDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    UseDummyVideo();
    system::Init();
    ResetInjectedModifiers();
    _window = OpenPlainWindow("driver", 640, 480);
    ASSERT_NE(_window, 0u);
    _source = New<TEvent>();  // any object serves as a window's source
    SetWindowEventSource(_window, _source);
    PollSystemEvents();
    FlushEvents();
    gSeen.clear();
    InstallHook(EmitEventHookId(), &Record, nullptr, 1);
  }
  void TearDown() override {
    UninstallHook(EmitEventHookId(), &Record, nullptr);
    InjectMouseMove(0, -1, -1);  // leave the tracked window
    PollSystemEvents();
    SetWindowEventSource(_window, nullptr);
    ClosePlainWindow(_window);
    FlushEvents();
    gSeen.clear();
  }
  std::vector<Seen> Poll() {
    gSeen.clear();
    PollSystemEvents();
    return gSeen;
  }

  uint32_t _window = 0;
  Ref<TEvent> _source;
};

TEST_F(SystemDriverTest, TheDriverIsTheSdlDriverAndNeedsNoWindow) {
  ASSERT_NE(SystemDriver(), nullptr);
  EXPECT_TRUE(InstanceOf(SystemDriver(), TSDLSystemDriver::StaticClass()));
  EXPECT_TRUE(static_cast<TSDLSystemDriver*>(SystemDriver())->Running());
  InjectKey(0, "Q", true);  // no window at all
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, kEventKeyDown);
  EXPECT_EQ(e[0].data, 'Q');
  EXPECT_EQ(e[0].source, nullptr);
}

TEST_F(SystemDriverTest, AHeldKeyGivesOneDownThenRepeatsThenUp) {
  InjectKey(_window, "A", true);
  for (int i = 0; i < 3; ++i) InjectKey(_window, "A", true, true);
  InjectKey(_window, "A", false);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].id, kEventKeyDown);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(e[i].id, kEventKeyRepeat);
  EXPECT_EQ(e[4].id, kEventKeyUp);
  for (const Seen& s : e) {
    EXPECT_EQ(s.data, 65);
    EXPECT_EQ(s.mods, 0);
    EXPECT_EQ(s.source, _source.get());
  }
}

TEST_F(SystemDriverTest, RightControlIsSidedAndSetsItsModifier) {
  InjectKey(_window, "Right Ctrl", true);
  InjectMouseButton(_window, 1, true, 3, 4);
  InjectKey(_window, "Right Ctrl", false);
  InjectKey(_window, "Left Shift", true);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].id, kEventKeyDown);
  EXPECT_EQ(e[0].data, 0xA3);
  EXPECT_EQ(e[0].mods, 2);
  EXPECT_EQ(e[1].id, kEventMouseDown);  // mouse events carry the modifiers too
  EXPECT_EQ(e[1].mods, 2);
  EXPECT_EQ(e[2].data, 0xA3);
  EXPECT_EQ(e[2].mods, 0);
  EXPECT_EQ(e[3].data, 0xA0);
  EXPECT_EQ(e[3].mods, 1);
  InjectKey(_window, "Left Shift", false);
  Poll();
}

TEST_F(SystemDriverTest, WheelNotchesAndButtons) {
  InjectWheel(_window, 1, 10, 20);
  InjectWheel(_window, -1, 11, 21);
  InjectMouseButton(_window, 3, true, 5, 6);
  InjectMouseButton(_window, 3, false, 5, 6);
  InjectMouseButton(_window, 2, true, 7, 8);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].id, kEventMouseWheel);
  EXPECT_EQ(e[0].data, 1);
  EXPECT_EQ(e[0].x, 10);
  EXPECT_EQ(e[0].y, 20);
  EXPECT_EQ(e[1].data, -1);
  EXPECT_EQ(e[2].id, kEventMouseDown);
  EXPECT_EQ(e[2].data, 3);
  EXPECT_EQ(e[3].id, kEventMouseUp);
  EXPECT_EQ(e[3].data, 3);
  EXPECT_EQ(e[4].data, 2);
  EXPECT_EQ(e[4].x, 7);
}

TEST_F(SystemDriverTest, PointerTrackingAndMoveData) {
  InjectMouseMove(_window, 10, 10);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].id, kEventMouseEnter);
  EXPECT_EQ(e[0].x, 10);
  EXPECT_EQ(e[0].source, _source.get());
  EXPECT_EQ(e[1].id, kEventMouseMove);
  EXPECT_EQ(e[1].data, 0);
  EXPECT_EQ(TrackedWindow(), _window);

  InjectMouseMove(_window, 11, 10, kHeldLeft);
  InjectMouseMove(_window, 12, 10, kHeldMiddle | kHeldLeft);
  InjectMouseMove(_window, 13, 10, kHeldRight | kHeldMiddle);
  e = Poll();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].data, 1);
  EXPECT_EQ(e[1].data, 4);
  EXPECT_EQ(e[2].data, 2);

  // Outside the client area (a captured drag): a leave, then the move.
  InjectMouseMove(_window, 640, 100);
  e = Poll();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].id, kEventMouseLeave);
  EXPECT_EQ(e[0].source, _source.get());
  EXPECT_EQ(e[1].id, kEventMouseMove);
  EXPECT_EQ(e[1].x, 640);
  EXPECT_EQ(TrackedWindow(), 0u);

  // Back in, then the window reports that the pointer left.
  InjectMouseMove(_window, 1, 1);
  InjectWindowSignal(_window, WindowSignal::Leave);
  InjectWindowSignal(_window, WindowSignal::Leave);  // no longer tracked: nothing
  e = Poll();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].id, kEventMouseEnter);
  EXPECT_EQ(e[2].id, kEventMouseLeave);
}

TEST_F(SystemDriverTest, HiddenPointerIsHiddenOnlyOverOurWindows) {
  HidePointer();
  EXPECT_TRUE(PointerShown());  // not over a window yet
  InjectMouseMove(_window, 5, 5);
  Poll();
  EXPECT_FALSE(PointerShown());
  InjectMouseMove(_window, -5, 5);
  Poll();
  EXPECT_TRUE(PointerShown());
  InjectMouseMove(_window, 5, 5);
  Poll();
  ShowPointer();
  EXPECT_TRUE(PointerShown());
}

TEST_F(SystemDriverTest, ACloseRequestGivesOneTerminateAndTheWindowStays) {
  InjectWindowSignal(_window, WindowSignal::Close);
  InjectWindowSignal(0, WindowSignal::Quit);  // SDL's follow-up to the last window's close
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, kEventAppTerminate);
  EXPECT_EQ(e[0].source, _source.get());
  EXPECT_TRUE(WindowExists(_window));
  EXPECT_TRUE(WindowShown(_window));
}

TEST_F(SystemDriverTest, AltF4AsksToClose) {
  InjectKey(_window, "Left Alt", true);
  InjectKey(_window, "F4", true);
  InjectKey(_window, "F4", true, true);  // holding it asks once
  InjectKey(_window, "F4", false);
  InjectKey(_window, "Left Alt", false);
  InjectKey(_window, "F4", true);  // without Alt: just a key
  std::vector<Seen> e = Poll();
  std::vector<int32_t> ids;
  ids.reserve(e.size());
  for (const Seen& s : e) ids.push_back(s.id);
  EXPECT_EQ(ids, (std::vector<int32_t>{kEventKeyDown, kEventKeyDown, kEventAppTerminate, kEventKeyRepeat,
                                       kEventKeyUp, kEventKeyUp, kEventKeyDown}));
  EXPECT_EQ(e[1].data, 0x73);
  EXPECT_EQ(e[1].mods, 4);
}

TEST_F(SystemDriverTest, FocusChangesWithOtherApplicationsOnly) {
  uint32_t second = OpenPlainWindow("second", 100, 100);
  ASSERT_NE(second, 0u);
  PollSystemEvents();
  InjectWindowSignal(_window, WindowSignal::FocusLost);
  InjectWindowSignal(second, WindowSignal::FocusGained);
  EXPECT_TRUE(Poll().empty());  // between two windows of this process
  InjectWindowSignal(second, WindowSignal::FocusLost);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, kEventAppSuspend);
  InjectWindowSignal(_window, WindowSignal::FocusGained);
  e = Poll();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, kEventAppResume);
  EXPECT_EQ(e[0].source, _source.get());
  ClosePlainWindow(second);
}

TEST_F(SystemDriverTest, TypedTextBecomesKeyChars) {
  InjectText(_window, "h\xC3\xA9");
  InjectKey(_window, "Return", true);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].id, kEventKeyChar);
  EXPECT_EQ(e[0].data, 'h');
  EXPECT_EQ(e[1].data, 0xE9);
  EXPECT_EQ(e[2].id, kEventKeyDown);
  EXPECT_EQ(e[3].id, kEventKeyChar);
  EXPECT_EQ(e[3].data, 13);
}

int gDepth = 0, gMaxDepth = 0, gCalls = 0;
Ref<Object> Reenter(int32_t, Object* data, Object*) {
  ++gDepth;
  ++gCalls;
  gMaxDepth = std::max(gMaxDepth, gDepth);
  PollSystemEvents();  // returns at once inside a pump
  EXPECT_EQ(WaitSystemEvents(), 0);
  --gDepth;
  return Ref<Object>(data);
}

TEST_F(SystemDriverTest, PumpingFromInsideAHookReturnsAtOnce) {
  gDepth = gMaxDepth = gCalls = 0;
  InstallHook(EmitEventHookId(), &Reenter, nullptr, 2);
  for (int i = 0; i < 5; ++i) InjectKey(_window, "B", i % 2 == 0);
  PollSystemEvents();
  UninstallHook(EmitEventHookId(), &Reenter, nullptr);
  EXPECT_EQ(gCalls, 5);
  EXPECT_EQ(gMaxDepth, 1);
  EXPECT_EQ(PendingEventCount(), 0);
}

Ref<Object> Throw(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (e && e->data == 'T') vrThrowText("hook failed");
  return Ref<Object>(data);
}

TEST_F(SystemDriverTest, AThrowingHookLeavesTheBusyFlagClearAndTheRestQueued) {
  InstallHook(EmitEventHookId(), &Throw, nullptr, 2);
  InjectKey(_window, "T", true);
  InjectKey(_window, "U", true);
  EXPECT_THROW(PollSystemEvents(), ThrownObject);
  UninstallHook(EmitEventHookId(), &Throw, nullptr);
  std::vector<Seen> e = Poll();  // a second pump works and finds the rest
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].data, 'U');
}

int gKeyDowns = 0, gKeyUps = 0, gOrderErrors = 0, gLastCode = -1;
Ref<Object> Count(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (!e) return Ref<Object>(data);
  if (e->id == kEventKeyDown) {
    // Downs run through A..Z in order: a lost or doubled one shows.
    int32_t expected = gLastCode < 0 ? 'A' : 'A' + (gLastCode - 'A' + 1) % 26;
    if (e->data != expected) ++gOrderErrors;
    gLastCode = e->data;
    ++gKeyDowns;
  } else if (e->id == kEventKeyUp) {
    ++gKeyUps;
  }
  return Ref<Object>(data);
}

TEST_F(SystemDriverTest, TenThousandKeyEventsArriveOnceEachInOnePoll) {
  gKeyDowns = gKeyUps = gOrderErrors = 0;
  gLastCode = -1;
  UninstallHook(EmitEventHookId(), &Record, nullptr);
  InstallHook(EmitEventHookId(), &Count, nullptr, 1);
  for (int i = 0; i < 5000; ++i) {
    std::string key(1, static_cast<char>('A' + i % 26));
    ASSERT_TRUE(InjectKey(_window, key, true));
    ASSERT_TRUE(InjectKey(_window, key, false));
  }
  PollSystemEvents();
  UninstallHook(EmitEventHookId(), &Count, nullptr);
  InstallHook(EmitEventHookId(), &Record, nullptr, 1);
  EXPECT_EQ(gKeyDowns, 5000);
  EXPECT_EQ(gKeyUps, 5000);
  EXPECT_EQ(gOrderErrors, 0);
  EXPECT_EQ(PendingEventCount(), 0);
  EXPECT_EQ(QueuedEventCount(), kEventQueueSize);  // the queue keeps its first 256
}

// A window's source that counts its destruction and, as the contract asks,
// takes itself out of the map when it goes.
std::vector<Object*> gSourcesFreed;
class TCountedSource : public Object {
  VRL_CLASS(TCountedSource, Object)
  uint32_t window = 0;
  ~TCountedSource() override {
    if (WindowEventSource(window) == this) SetWindowEventSource(window, nullptr);
    gSourcesFreed.push_back(this);
  }
};

bool WasFreed(Object* object) {
  return std::find(gSourcesFreed.begin(), gSourcesFreed.end(), object) != gSourcesFreed.end();
}

uint32_t Counts(Object* object) { return object->RefCount() & ~kQueuedMark; }

}  // namespace

VRL_CLASS_RECORD(TCountedSource, "TCountedSource")

namespace {

TEST_F(SystemDriverTest, TheWindowSourceMapHoldsNoReference) {
  // An unclosed graphics dropped by its program must be freed: neither the
  // map nor the pointer tracking may own it.
  Ref<TCountedSource> source = New<TCountedSource>();
  source->window = _window;
  uint32_t before = Counts(source);
  SetWindowEventSource(_window, source);
  EXPECT_EQ(Counts(source), before);
  EXPECT_EQ(WindowEventSource(_window), source.get());
  InjectMouseMove(_window, 10, 10);
  std::vector<Seen> e = Poll();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].id, kEventMouseEnter);
  EXPECT_EQ(e[0].source, source.get());
  EXPECT_EQ(TrackedWindow(), _window);
  FlushEvents();
  GCCollect();  // the events of that poll let go of the source
  EXPECT_EQ(Counts(source), before);
  InjectMouseMove(_window, -1, -1);
  e = Poll();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].id, kEventMouseLeave);
  EXPECT_EQ(e[0].source, source.get());  // looked up when the pointer leaves
  SetWindowEventSource(_window, nullptr);
  EXPECT_EQ(WindowEventSource(_window), nullptr);
  SetWindowEventSource(_window, _source);
}

// The only owner of the source; never destroyed, since Null may be gone by
// the time static objects are destroyed at exit.
Ref<TCountedSource>& gOnlyOwner = *new Ref<TCountedSource>;
Object* gClosed = nullptr;
int gFreedAtTerminate = -1;
uint32_t gCountsAtTerminate = 0;
Object* gSourceAtTerminate = nullptr;
Ref<Object> CloseOnAltF4(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (!e) return Ref<Object>(data);
  if (e->id == kEventKeyDown && e->data == 0x73) {
    // The program closes its graphics and lets it go, the queued events are
    // read, and memory is collected, all before the close request for the
    // same key is emitted.
    SetWindowEventSource(gOnlyOwner->window, nullptr);
    gOnlyOwner = nullptr;
    FlushEvents();
    GCCollect();
  } else if (e->id == kEventAppTerminate) {
    gFreedAtTerminate = WasFreed(gClosed) ? 1 : 0;
    gSourceAtTerminate = e->source.get();
    gCountsAtTerminate = Counts(e->source.object());
  }
  return Ref<Object>(data);
}

TEST_F(SystemDriverTest, TheSourceStaysCountedWhileItsEventsAreEmitted) {
  gSourcesFreed.clear();
  gFreedAtTerminate = -1;
  gOnlyOwner = New<TCountedSource>();
  gOnlyOwner->window = _window;
  Object* source = gOnlyOwner.get();
  gClosed = source;
  SetWindowEventSource(_window, gOnlyOwner);
  InstallHook(EmitEventHookId(), &CloseOnAltF4, nullptr, 2);
  InjectKey(_window, "Left Alt", true);
  InjectKey(_window, "F4", true);
  GCSetMode(-1);  // a collection before every allocation: the key's event goes at once
  Poll();
  GCSetMode(1);
  UninstallHook(EmitEventHookId(), &CloseOnAltF4, nullptr);
  InjectKey(_window, "F4", false);
  InjectKey(_window, "Left Alt", false);
  Poll();
  EXPECT_EQ(gFreedAtTerminate, 0);
  EXPECT_EQ(gSourceAtTerminate, source);
  // Counted by the translator as well as by the event: alive because it is
  // held, not because the collector's stack scan happened to see it.
  EXPECT_GE(gCountsAtTerminate, 2u);
  SetWindowEventSource(_window, _source);
}

TEST(SystemDriverContractTest, TheAbstractDriverThrowsAndNoDriverPumpsNothing) {
  system::Init();
  Ref<TSystemDriver> sdl = SystemDriver();
  Ref<TSystemDriver> abstract = New<TSystemDriver>();
  SetSystemDriver(abstract);
  EXPECT_TRUE(ThrowsObject<TNullMethodException>([] { PollSystemEvents(); }));
  EXPECT_THROW(Confirm(u"x"_vs), ThrownObject);
  SetSystemDriver(nullptr);
  EXPECT_EQ(PollSystemEvents(), 0);
  EXPECT_EQ(WaitSystemEvents(), 0);  // nothing to wait on: no hang
  EXPECT_THROW(MoveMouse(1, 1), ThrownObject);
  SetSystemDriver(sdl);
  EXPECT_EQ(SystemDriver(), sdl.get());
}

TEST(SystemDriverContractTest, InitMakesTheDriverOfTheFirstBackendAndRegistersEveryClass) {
  system::Init();
  std::span<const SystemBackend> backends = SystemBackends();
  ASSERT_FALSE(backends.empty());
  EXPECT_STREQ(backends[0].name, "SDL");  // the default
  EXPECT_EQ(&backends[0].driverClass(), &TSDLSystemDriver::StaticClass());
  EXPECT_TRUE(InstanceOf(SystemDriver(), backends[0].driverClass()));
  const std::vector<const ClassRecord*>& registered = RegisteredClasses();
  for (const SystemBackend& backend : backends) {
    EXPECT_NE(std::find(registered.begin(), registered.end(), &backend.driverClass()), registered.end())
        << backend.name;
    // Each back-end makes a driver of its own class, a new one each time.
    Ref<TSystemDriver> made = backend.create();
    ASSERT_FALSE(made.IsNull()) << backend.name;
    EXPECT_EQ(&made->Class(), &backend.driverClass());
    EXPECT_NE(made.get(), SystemDriver());
  }
}

}  // namespace
