#include "system/SystemDriver.h"

#include <ctime>
#include <map>
#include <string>

#include "os/FileSystem.h"
#include "platform/Messages.h"
#include "platform/Window.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "system/Event.h"
#include "system/EventQueue.h"
#include "system/Timer.h"

namespace vrl {

const ClassRecord& TSystemDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSystemDriver>("TSystemDriver", [](auto& d) {
    d.template Method<&TSystemDriver::Poll>("Poll");
    d.template Method<&TSystemDriver::Wait>("Wait");
    d.template Method<&TSystemDriver::MoveMouse>("MoveMouse");
    d.template Method<&TSystemDriver::SetMouseVisible>("SetMouseVisible");
    d.template Method<&TSystemDriver::Notify>("Notify");
    d.template Method<&TSystemDriver::Confirm>("Confirm");
    d.template Method<&TSystemDriver::Proceed>("Proceed");
    d.template Method<&TSystemDriver::RequestFile>("RequestFile");
    d.template Method<&TSystemDriver::RequestDir>("RequestDir");
    d.template Method<&TSystemDriver::OpenURL>("OpenURL");
  });
  return record;
}

int32_t TSystemDriver::Poll() { ThrowNullMethodException(); }
int32_t TSystemDriver::Wait() { ThrowNullMethodException(); }
int32_t TSystemDriver::MoveMouse(int32_t, int32_t) { ThrowNullMethodException(); }
int32_t TSystemDriver::SetMouseVisible(int32_t) { ThrowNullMethodException(); }
int32_t TSystemDriver::Notify(String*, int32_t) { ThrowNullMethodException(); }
int32_t TSystemDriver::Confirm(String*, int32_t) { ThrowNullMethodException(); }
int32_t TSystemDriver::Proceed(String*, int32_t) { ThrowNullMethodException(); }
Ref<String> TSystemDriver::RequestFile(String*, String*, int32_t, String*) { ThrowNullMethodException(); }
Ref<String> TSystemDriver::RequestDir(String*, String*) { ThrowNullMethodException(); }
int32_t TSystemDriver::OpenURL(String*) { ThrowNullMethodException(); }

namespace {

struct SystemState {
  Ref<TSystemDriver> driver;
  bool busy = false;
  // The translator's state.
  int32_t mods = 0;
  bool pointerVisible = true;
  uint32_t trackedWindow = 0;
  // Not owning: each source removes its entry when it is closed or
  // destroyed (see SetWindowEventSource).
  std::map<uint32_t, Object*> sources;
  // Application focus as last reported: -1 nothing reported yet, 0 after
  // "AppSuspend", 1 after "AppResume".
  int32_t reportedActive = -1;
  // Modal dialogs of the program open now, the focus expected when the last
  // one closes (-1 unknown), and whether the next focus change still has to
  // be checked against it.
  int32_t dialogs = 0;
  int focusBeforeDialog = 0;  // focus messages queued when it opened
  int32_t activeAfterDialog = -1;
  bool settlingAfterDialog = false;
};

SystemState& S() {
  static SystemState* state = new SystemState;
  return *state;
}

TSystemDriver* Driver() {
  TSystemDriver* driver = S().driver.get();
  if (!driver) ThrowNullObjectException();
  return driver;
}

// The busy flag, cleared however the pump ends.
class BusyGuard {
 public:
  BusyGuard() : _entered(!S().busy) { S().busy = true; }
  ~BusyGuard() {
    if (_entered) S().busy = false;
  }
  bool Entered() const { return _entered; }

 private:
  bool _entered;
};

std::u16string Lower(std::u16string_view text) {
  Ref<String> lowered = String::FromUnits(text)->ToLower();
  return std::u16string(lowered->View());
}

void ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to) {
  for (std::size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

void Emit(int32_t id, Object* source, int32_t data, int32_t x, int32_t y) {
  MakeEvent(id, source, data, S().mods, x, y, nullptr)->Emit();
}

void UpdatePointer() {
  SystemState& s = S();
  platform::SetPointerShown(s.pointerVisible || s.trackedWindow == 0);
}

// Moves the pointer tracking to `window` (0: none): a leave for the old
// window, an enter for the new one. The sources are looked up by window, so
// tracking keeps no graphics alive; each is held by a counted reference
// while its event is made and emitted.
void Track(uint32_t window, int32_t x, int32_t y) {
  SystemState& s = S();
  if (window == s.trackedWindow) return;
  if (s.trackedWindow) {
    int32_t lx = 0, ly = 0;
    platform::PointerPositionIn(s.trackedWindow, lx, ly);
    Ref<Object> old = WindowEventSource(s.trackedWindow);
    s.trackedWindow = 0;
    Emit(kEventMouseLeave, old, 0, lx, ly);
  }
  s.trackedWindow = window;
  UpdatePointer();
  if (window) {
    Ref<Object> source = WindowEventSource(window);
    Emit(kEventMouseEnter, source, 0, x, y);
  }
}

// Focus moving to or from another application. A change the program's own
// dialog caused is not reported: while a dialog is open nothing is, and once
// it has closed, a change that only restores the focus of before the dialog
// is dropped (the dialog's own focus messages are discarded when it closes).
void ReportActivation(bool active, Object* source) {
  SystemState& s = S();
  if (s.dialogs > 0) return;
  int32_t state = active ? 1 : 0;
  if (s.settlingAfterDialog) {
    s.settlingAfterDialog = false;
    if (state == s.activeAfterDialog) return;
  }
  s.reportedActive = state;
  Emit(active ? kEventAppResume : kEventAppSuspend, source, 0, 0, 0);
}

bool InsideClient(uint32_t window, int32_t x, int32_t y) {
  int32_t w = 0, h = 0;
  if (!window || !platform::WindowClientSize(window, w, h)) return false;
  return x >= 0 && x < w && y >= 0 && y < h;
}

struct PostedCallback {
  MainThreadCallback callback;
  Object* argument;
  bool release;
};

void RunPosted(void* data, int64_t value) {
  struct Owner {
    PostedCallback* record;
    ~Owner() {
      if (record->release && record->argument) record->argument->Release();
      delete record;
    }
  } owner{static_cast<PostedCallback*>(data)};
  owner.record->callback(owner.record->argument, static_cast<int32_t>(value));
}

void DiscardPosted(void* data, int64_t) {
  auto* record = static_cast<PostedCallback*>(data);
  if (record->release && record->argument) record->argument->Release();
  delete record;
}

}  // namespace

void system::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  filesystem::Init();
  events::Init();
  eventqueue::Init();
  vrRegisterClass(TTimer::StaticClass());
  vrRegisterClass(TSystemDriver::StaticClass());
  for (const SystemBackend& backend : SystemBackends()) vrRegisterClass(backend.driverClass());
  for (const SystemBackend& backend : SystemBackends()) {
    Ref<TSystemDriver> driver = backend.create();
    if (!driver.IsNull()) {
      S().driver = driver;
      return;
    }
  }
}

TSystemDriver* SystemDriver() { return S().driver.get(); }
void SetSystemDriver(TSystemDriver* driver) { S().driver = driver; }

// Without a driver (system::Init not run) there is nothing to pump.
int32_t PollSystemEvents() {
  BusyGuard busy;
  TSystemDriver* driver = S().driver.get();
  if (!busy.Entered() || !driver) return 0;
  driver->Poll();
  return 0;
}

int32_t WaitSystemEvents() {
  BusyGuard busy;
  TSystemDriver* driver = S().driver.get();
  if (!busy.Entered() || !driver) return 0;
  return driver->Wait() ? 1 : 0;
}

int32_t MoveMouse(int32_t x, int32_t y) { return Driver()->MoveMouse(x, y); }
int32_t ShowPointer() { return Driver()->SetMouseVisible(1); }
int32_t HidePointer() { return Driver()->SetMouseVisible(0); }
int32_t Notify(String* text, int32_t serious) { return Driver()->Notify(text, serious); }
int32_t Confirm(String* text, int32_t serious) { return Driver()->Confirm(text, serious); }
int32_t Proceed(String* text, int32_t serious) { return Driver()->Proceed(text, serious); }

Ref<String> RequestFile(String* title, String* filter, int32_t save, String* path) {
  return Driver()->RequestFile(title, filter, save, path);
}

Ref<String> RequestDir(String* title, String* path) {
  // Paths use "/" on this platform.
  Ref<String> p = path ? path->Replace(u"\\"_vs, u"/"_vs) : Ref<String>();
  return Driver()->RequestDir(title, p);
}

int32_t OpenURL(String* url) { return Driver()->OpenURL(NormaliseURL(url)); }

namespace {
Ref<String> FormatNow(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char buffer[256];
  if (!localtime_r(&now, &local)) return Ref<String>();
  std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
  return String::FromNarrow(std::string_view(buffer, n));
}
}  // namespace

Ref<String> DateText() { return FormatNow("%d %b %Y"); }
Ref<String> TimeText() { return FormatNow("%H:%M:%S"); }

Ref<String> ConvertFileFilter(String* filter) {
  if (!filter || filter->Length() == 0) return Ref<String>();
  std::u16string text(filter->View());
  if (text.find(u':') == std::u16string::npos) {
    text = std::u16string(u"Files") + u'\0' + u"*." + text;
  } else {
    ReplaceAll(text, u":", std::u16string(1, u'\0') + u"*.");
  }
  ReplaceAll(text, u";", std::u16string(1, u'\0'));
  ReplaceAll(text, u",", u";*.");
  text += u'\0';
  return String::FromUnits(text);
}

int32_t PreselectedFilterGroup(String* filter, String* path) {
  if (!filter || !path) return 0;
  std::u16string p(path->View());
  ReplaceAll(p, u"\\", u"/");
  std::size_t slash = p.rfind(u'/');
  std::u16string file = slash == std::u16string::npos ? p : p.substr(slash + 1);
  std::size_t dot = file.rfind(u'.');
  if (dot == std::u16string::npos || dot + 1 == file.size()) return 0;
  std::u16string wanted = u"," + Lower(std::u16string_view(file).substr(dot + 1)) + u",";
  // The groups with a "," around every extension, so the last extension of
  // the last group is found as well as the others.
  std::u16string groups = Lower(filter->View());
  ReplaceAll(groups, u":", u":,");
  ReplaceAll(groups, u";", u",;");
  groups = u"," + groups + u",";
  std::size_t at = groups.find(wanted);
  if (at == std::u16string::npos) return 0;
  int32_t group = 1;
  for (std::size_t i = 0; i < at; ++i)
    if (groups[i] == u';') ++group;
  return group;
}

int32_t DesktopWidth() {
  platform::DesktopMetrics m;
  return platform::QueryDesktopMetrics(m) ? m.width : 0;
}
int32_t DesktopHeight() {
  platform::DesktopMetrics m;
  return platform::QueryDesktopMetrics(m) ? m.height : 0;
}
int32_t DesktopDepth() {
  platform::DesktopMetrics m;
  return platform::QueryDesktopMetrics(m) ? m.bitsPerPixel : 0;
}
int32_t DesktopHertz() {
  platform::DesktopMetrics m;
  return platform::QueryDesktopMetrics(m) ? m.refreshRate : 0;
}

bool PostMainThreadCallback(MainThreadCallback callback, Object* argument, int32_t value, bool release) {
  if (!callback) return false;
  auto* record = new PostedCallback{callback, argument, release};
  if (platform::PostMainThreadCallback(&RunPosted, record, value, &DiscardPosted)) return true;
  delete record;
  return false;
}

void SetWindowEventSource(uint32_t window, Object* source) {
  SystemState& s = S();
  if (IsNull(source)) {
    s.sources.erase(window);
  } else {
    s.sources[window] = source;
  }
}

Object* WindowEventSource(uint32_t window) {
  const SystemState& s = S();
  auto it = s.sources.find(window);
  return it == s.sources.end() ? nullptr : it->second;
}

void BeginModalDialog() {
  SystemState& s = S();
  if (s.dialogs++ > 0) return;
  s.focusBeforeDialog = platform::PendingFocusMessages();
  // The dialog gives the focus back to the window that has it now.
  s.activeAfterDialog = s.reportedActive >= 0 ? s.reportedActive : (platform::ActiveWindow() != 0 ? 1 : 0);
}

void EndModalDialog() {
  SystemState& s = S();
  if (s.dialogs == 0 || --s.dialogs > 0) return;
  platform::DiscardFocusMessages(s.focusBeforeDialog);
  s.settlingAfterDialog = true;
}

int32_t CurrentModifiers() { return S().mods; }
uint32_t TrackedWindow() { return S().trackedWindow; }

void TranslateSystemMessage(const platform::Message& m) {
  SystemState& s = S();
  using platform::MessageKind;
  // Counted: a hook may close the graphics between two of the emissions.
  Ref<Object> source = WindowEventSource(m.window);
  switch (m.kind) {
    case MessageKind::Activate:
      // Minimised windows being activated, and focus moving between two
      // windows of this process, change nothing for the application.
      if (m.code && m.minimised) return;
      if (m.otherWindow) return;
      ReportActivation(m.code != 0, source);
      return;
    case MessageKind::Close:
      Emit(kEventAppTerminate, source, 0, 0, 0);
      return;
    case MessageKind::KeyDown:
    case MessageKind::KeyUp:
      if (m.mods >= 0) s.mods = m.mods;
      if (m.code < 1 || m.code > 255) return;
      if (m.kind == MessageKind::KeyUp) {
        Emit(kEventKeyUp, source, m.code, 0, 0);
        return;
      }
      Emit(m.repeat ? kEventKeyRepeat : kEventKeyDown, source, m.code, 0, 0);
      // Alt+F4 asks to close, as the default window handling does, also
      // where no window manager turns it into a close request.
      if (m.code == 0x73 && (s.mods & 4) && !m.repeat) Emit(kEventAppTerminate, source, 0, 0, 0);
      return;
    case MessageKind::Char:
      Emit(kEventKeyChar, source, m.code, 0, 0);
      return;
    case MessageKind::MouseMove: {
      Track(InsideClient(m.window, m.x, m.y) ? m.window : 0, m.x, m.y);
      int32_t data = (m.buttons & platform::kHeldRight)    ? 2
                     : (m.buttons & platform::kHeldMiddle) ? 4
                     : (m.buttons & platform::kHeldLeft)   ? 1
                                                           : 0;
      Emit(kEventMouseMove, source, data, m.x, m.y);
      return;
    }
    case MessageKind::MouseDown:
      Emit(kEventMouseDown, source, m.code, m.x, m.y);
      return;
    case MessageKind::MouseUp:
      Emit(kEventMouseUp, source, m.code, m.x, m.y);
      return;
    case MessageKind::MouseWheel:
      Emit(kEventMouseWheel, source, m.code, m.x, m.y);
      return;
    case MessageKind::MouseLeave:
      if (m.window == s.trackedWindow) Track(0, 0, 0);
      return;
  }
}

void SetPointerVisibleFlag(int32_t visible) {
  S().pointerVisible = visible != 0;
  UpdatePointer();
}

}  // namespace vrl

namespace vrl {

Ref<String> NormaliseURL(String* url) {
  if (!url) return Ref<String>();
  Ref<String> head = vrSliceString(url, 0, 6)->ToLower();
  std::u16string_view h = head->View();
  if (h.substr(0, 5) == u"http:" || h.substr(0, 5) == u"file:" || h == u"https:") return Ref<String>(url);
  // A bare name: an existing file or folder opens as a file, anything else
  // as a web address. The anchor stays at the end either way.
  std::u16string_view text = url->View();
  std::size_t hash = text.find(u'#');
  Ref<String> name = String::FromUnits(text.substr(0, hash));
  Ref<String> anchor =
      hash == std::u16string_view::npos ? Ref<String>() : String::FromUnits(text.substr(hash));
  Ref<String> path = AbsolutePath(name);
  if (PathType(path) != 0) return vrConcatStrings(vrConcatStrings(u"file:"_vs, path), anchor);
  return vrConcatStrings(vrConcatStrings(u"http:"_vs, name), anchor);
}

}  // namespace vrl
