#include "system/SDLSystemDriver.h"

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Messages.h"
#include "platform/Sdl.h"
#include "platform/Window.h"
#include "runtime/ClassRecord.h"
#include "runtime/Startup.h"
#include "stream/NativePath.h"

namespace vrl {

VRL_CLASS_RECORD(TSDLSystemDriver, "TSDLSystemDriver")

namespace {

void Translate(const platform::Message& message, void*) { TranslateSystemMessage(message); }

// Texts and paths for the desktop as UTF-8, characters outside the 16-bit
// range included, with the file layer's conversion (stream/NativePath.h), so
// that a path read back from a requester names the same file. A 0 unit ends
// the text, as it would for any C string.
std::string Utf8(std::u16string_view units) {
  Ref<String> text = String::FromUnits(units.substr(0, units.find(u'\0')));
  return NativePath(text).value_or(std::string());
}

std::string Utf8(String* s) { return s ? Utf8(s->View()) : std::string(); }

Ref<String> FromUtf8(const std::string& bytes) { return PathFromNative(bytes); }

// The program's own dialog: its focus changes are not reported.
class ModalDialog {
 public:
  ModalDialog() { BeginModalDialog(); }
  ~ModalDialog() { EndModalDialog(); }
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;
};

int32_t Box(platform::MessageBoxKind kind, String* text, int32_t serious) {
  std::string caption = Utf8(ApplicationTitle());
  std::string message = Utf8(text);
  ModalDialog dialog;
  return platform::ShowMessageBox(kind, caption, message, serious != 0);
}

}  // namespace

TSDLSystemDriver::TSDLSystemDriver() : _running(platform::AcquireSdl(platform::kSdlEvents)) {}

TSDLSystemDriver::~TSDLSystemDriver() {
  if (_running) platform::ReleaseSdl(platform::kSdlEvents);
}

int32_t TSDLSystemDriver::Poll() {
  platform::PumpMessages(&Translate, nullptr);
  return 0;
}

int32_t TSDLSystemDriver::Wait() {
  if (!platform::WaitForMessages()) return 0;
  Poll();
  return 1;
}

int32_t TSDLSystemDriver::MoveMouse(int32_t x, int32_t y) {
  platform::WarpPointer(platform::ActiveWindow(), x, y);
  return 0;
}

int32_t TSDLSystemDriver::SetMouseVisible(int32_t visible) {
  SetPointerVisibleFlag(visible);
  return 0;
}

int32_t TSDLSystemDriver::Notify(String* text, int32_t serious) {
  Box(platform::MessageBoxKind::Notify, text, serious);
  return 0;
}

int32_t TSDLSystemDriver::Confirm(String* text, int32_t serious) {
  return Box(platform::MessageBoxKind::Confirm, text, serious);
}

int32_t TSDLSystemDriver::Proceed(String* text, int32_t serious) {
  return Box(platform::MessageBoxKind::Proceed, text, serious);
}

Ref<String> TSDLSystemDriver::RequestFile(String* title, String* filter, int32_t save, String* path) {
  std::string p = Utf8(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  std::size_t slash = p.rfind('/');
  // A file in the root keeps "/" as its directory.
  std::string directory = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
  std::string file = slash == std::string::npos ? p : p.substr(slash + 1);

  // The converted list holds description, patterns, description, ... each
  // ended by NUL.
  std::vector<platform::FileFilterGroup> groups;
  Ref<String> converted = ConvertFileFilter(filter);
  std::u16string_view list = converted->View();
  std::vector<std::string> parts;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t end = list.find(u'\0', start);
    if (end == std::u16string_view::npos) end = list.size();
    parts.push_back(Utf8(list.substr(start, end - start)));
    start = end + 1;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
    if (!parts[i].empty() || !parts[i + 1].empty()) groups.push_back({parts[i], parts[i + 1]});

  int32_t preselected = PreselectedFilterGroup(filter, path);
  std::string chosen;
  {
    ModalDialog dialog;
    chosen = platform::RequestFileWithDialog(Utf8(title), groups, preselected, save != 0, directory, file);
  }
  return FromUtf8(chosen);
}

Ref<String> TSDLSystemDriver::RequestDir(String* title, String* path) {
  std::string chosen;
  {
    ModalDialog dialog;
    chosen = platform::RequestDirWithDialog(Utf8(title), Utf8(path));
  }
  return FromUtf8(chosen);
}

int32_t TSDLSystemDriver::OpenURL(String* url) { return platform::OpenUrlWithDesktop(Utf8(url)) ? 1 : 0; }

}  // namespace vrl
