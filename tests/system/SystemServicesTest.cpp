// Desktop services of the system module: requesters (through a stand-in
// zenity), URLs (through a stand-in xdg-open), message boxes without a
// display, date and time texts, desktop metrics, main-thread callbacks.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Window.h"
#include "platform/testing/Injection.h"
#include "runtime/Startup.h"
#include "system/EventQueue.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"
#include "tests/support/DummyVideo.h"

using namespace vrl;

namespace {

std::string N(String* s) { return s ? s->ToNarrow() : std::string(); }
Ref<String> S(const std::string& text) { return String::FromNarrow(text); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder put first on PATH holding stand-ins for the desktop's programs.
class SystemServicesTest : public testing::Test {
 protected:
  void SetUp() override {
    UseDummyVideo();
    system::Init();
    char dir[] = "/tmp/vrl-services-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    _dir = dir;
    const char* path = getenv("PATH");
    _path = path ? path : "";
    setenv("PATH", (_dir + ":" + _path).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", _path.c_str(), 1);
    std::string cmd = "rm -rf '" + _dir + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  // A program that writes its arguments, one a line, to <name>.args and
  // prints `output`, ending with `status`.
  void StandIn(const std::string& name, const std::string& output, int status = 0) {
    std::string file = _dir + "/" + name;
    std::ofstream script(file);
    script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << _dir << "/" << name
           << ".args.tmp'\nmv '" << _dir << "/" << name << ".args.tmp' '" << _dir << "/" << name
           << ".args'\nprintf '%s\\n' '" << output << "'\nexit " << status << "\n";
    script.close();
    chmod(file.c_str(), 0755);
  }
  std::string Args(const std::string& name, int waitMs = 0) {
    std::string file = _dir + "/" + name + ".args";
    for (int i = 0; i < waitMs / 10 && access(file.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadFile(file);
  }

  std::string _dir, _path;
};

TEST_F(SystemServicesTest, FilterConversion) {
  std::string converted = N(ConvertFileFilter(S("Image Files:png,jpg;Text:txt")));
  EXPECT_EQ(converted, std::string("Image Files\0*.png;*.jpg\0Text\0*.txt\0", 35));
  converted = N(ConvertFileFilter(S("png,jpg")));
  EXPECT_EQ(converted, std::string("Files\0*.png;*.jpg\0", 18));
  EXPECT_EQ(ConvertFileFilter(nullptr)->Length(), 0);
  EXPECT_EQ(ConvertFileFilter(S(""))->Length(), 0);
}

TEST_F(SystemServicesTest, PreselectedGroupFollowsTheInitialFilesExtension) {
  Ref<String> filter = S("Image Files:png,JPG;Text:txt,md;All:*");
  EXPECT_EQ(PreselectedFilterGroup(filter, S("/home/me/shot.PNG")), 1);
  EXPECT_EQ(PreselectedFilterGroup(filter, S("a.jpg")), 1);
  EXPECT_EQ(PreselectedFilterGroup(filter, S("notes.txt")), 2);
  EXPECT_EQ(PreselectedFilterGroup(filter, S("dir.d/notes.md")), 2);  // the last of a group
  EXPECT_EQ(PreselectedFilterGroup(filter, S("C:\\x\\y.bmp")), 0);
  EXPECT_EQ(PreselectedFilterGroup(filter, S("noext")), 0);
  EXPECT_EQ(PreselectedFilterGroup(S("a:x;b:y"), S("f.y")), 2);  // the last group
  EXPECT_EQ(PreselectedFilterGroup(S("png,jpg"), S("f.jpg")), 1);
  EXPECT_EQ(PreselectedFilterGroup(S("Pictures:apng"), S("f.png")), 0);  // whole names only
}

TEST_F(SystemServicesTest, RequestFileRunsZenityWithThePreselectedGroupFirst) {
  StandIn("zenity", "/chosen/b.txt");
  Ref<String> chosen = RequestFile(S("Pick"), S("Image Files:png,jpg;Text:txt"), 1, S("/home/me/old.txt"));
  EXPECT_EQ(N(chosen), "/chosen/b.txt");
  EXPECT_EQ(Args("zenity"),
            "--file-selection\n--title=Pick\n--save\n--confirm-overwrite\n"
            "--filename=/home/me/old.txt\n--file-filter=Text | *.txt\n"
            "--file-filter=Image Files | *.png *.jpg\n");
}

TEST_F(SystemServicesTest, CancelledOrMissingRequestersGiveTheEmptyString) {
  StandIn("zenity", "ignored", 1);  // zenity's status for Cancel
  EXPECT_EQ(RequestFile(S("Open"), S("png"), 0, nullptr)->Length(), 0);
  EXPECT_EQ(Args("zenity"), "--file-selection\n--title=Open\n--file-filter=Files | *.png\n");
  EXPECT_EQ(RequestDir(S("Folder"), S("C:\\data"))->Length(), 0);
  EXPECT_EQ(Args("zenity"), "--file-selection\n--directory\n--title=Folder\n--filename=C:/data/\n");
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(RequestFile(S("Open"), nullptr, 0, nullptr)->Length(), 0);
  EXPECT_EQ(RequestDir(S("Folder"), nullptr)->Length(), 0);
}

TEST_F(SystemServicesTest, OpenURLHandsTheUrlToTheDesktop) {
  StandIn("xdg-open", "");
  EXPECT_EQ(OpenURL(S("https://example.org/a#b")), 1);
  EXPECT_EQ(Args("xdg-open", 3000), "https://example.org/a#b\n");
  EXPECT_EQ(N(NormaliseURL(S("HTTP://x"))), "HTTP://x");
  EXPECT_EQ(N(NormaliseURL(S("file:/tmp"))), "file:/tmp");
  EXPECT_EQ(N(NormaliseURL(S("nowhere-to-be-found.example#top"))), "http:nowhere-to-be-found.example#top");
}

TEST_F(SystemServicesTest, BareNamesOfExistingFilesOpenAsFiles) {
  StandIn("xdg-open", "");
  std::ofstream(_dir + "/page.html") << "<p>";
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(_dir.c_str()), 0);
  EXPECT_EQ(N(NormaliseURL(S("page.html#part"))), "file:" + _dir + "/page.html#part");
  EXPECT_EQ(N(NormaliseURL(S("./missing.html"))), "http:./missing.html");
  EXPECT_EQ(OpenURL(S("page.html")), 1);
  EXPECT_EQ(Args("xdg-open", 3000), "file:" + _dir + "/page.html\n");
  EXPECT_EQ(chdir(old), 0);
  free(old);
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(OpenURL(S("http://example.org")), 0);  // no opener installed
}

TEST_F(SystemServicesTest, MessageBoxesWithoutADisplayAnswerNoAndCancel) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(Notify(S("note")), 0);
  EXPECT_EQ(Confirm(S("sure?"), 1), 0);
  EXPECT_EQ(Proceed(S("go on?")), -1);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
}

TEST_F(SystemServicesTest, DateAndTimeTexts) {
  std::string date = N(DateText());
  std::string time = N(TimeText());
  // "07 Dec 2026", "09:05:59": each character against its class.
  auto matches = [](const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      bool ok = shape[i] == '9'   ? (c >= '0' && c <= '9')
                : shape[i] == 'A' ? (c >= 'A' && c <= 'Z')
                : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                                  : c == shape[i];
      if (!ok) return false;
    }
    return true;
  };
  EXPECT_TRUE(matches(date, "99 Aaa 9999")) << date;
  EXPECT_TRUE(matches(time, "99:99:99")) << time;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(std::stoi(date.substr(7)), local.tm_year + 1900);
}

TEST_F(SystemServicesTest, DesktopMetricsOfTheDummyDisplay) {
  EXPECT_EQ(DesktopWidth(), 1024);
  EXPECT_EQ(DesktopHeight(), 768);
  EXPECT_EQ(DesktopDepth(), 32);
  EXPECT_EQ(DesktopHertz(), 0);  // the dummy display, like Xvfb, states no rate
}

TEST_F(SystemServicesTest, DesktopMetricsWithoutADisplayAreZero) {
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  EXPECT_EQ(DesktopWidth(), 0);
  EXPECT_EQ(DesktopHeight(), 0);
  EXPECT_EQ(DesktopDepth(), 0);
  EXPECT_EQ(DesktopHertz(), 0);
  UseDummyVideo();
  EXPECT_EQ(DesktopWidth(), 1024);
}

// U+1F600, outside the 16-bit range: a surrogate pair in our strings, four
// bytes in UTF-8.
const std::u16string kFace = u"\U0001F600";
const std::string kFaceUtf8 = "\xF0\x9F\x98\x80";

TEST_F(SystemServicesTest, TextBeyondSixteenBitsReachesTheDesktopAsUtf8AndComesBack) {
  StandIn("zenity", "/tmp/pictures/" + kFaceUtf8 + ".png");
  Ref<String> title = String::FromUnits(u"Pick " + kFace);
  Ref<String> filter = String::FromUnits(u"Faces " + kFace + u":png");
  Ref<String> start = String::FromUnits(u"/tmp/" + kFace + u"/old.png");
  Ref<String> chosen = RequestFile(title, filter, 0, start);
  EXPECT_EQ(std::u16string(chosen->View()), u"/tmp/pictures/" + kFace + u".png");
  EXPECT_EQ(Args("zenity"), "--file-selection\n--title=Pick " + kFaceUtf8 + "\n--filename=/tmp/" + kFaceUtf8 +
                                "/old.png\n--file-filter=Faces " + kFaceUtf8 + " | *.png\n");

  StandIn("zenity", "/tmp/" + kFaceUtf8);
  chosen = RequestDir(title, start);
  EXPECT_EQ(std::u16string(chosen->View()), u"/tmp/" + kFace);

  // A name that is not UTF-8 (Linux names are bytes) comes back as the same
  // bytes, as the file layer reads it.
  StandIn("zenity", "/tmp/latin1-\xE9.txt");
  chosen = RequestFile(title, nullptr, 0, nullptr);
  EXPECT_EQ(chosen->Length(), 17);
  EXPECT_EQ(chosen->View()[12], u'\xDCE9');

  StandIn("xdg-open", "");
  EXPECT_EQ(OpenURL(String::FromUnits(u"https://example.org/" + kFace)), 1);
  EXPECT_EQ(Args("xdg-open"), "https://example.org/" + kFaceUtf8 + "\n");
}

TEST_F(SystemServicesTest, OpenURLReportsTheOpenersAnswer) {
  StandIn("xdg-open", "", 4);  // xdg-open's status when no handler takes it
  EXPECT_EQ(OpenURL(S("https://example.org/")), 0);
  EXPECT_EQ(Args("xdg-open"), "https://example.org/\n");
  StandIn("xdg-open", "", 0);
  EXPECT_EQ(OpenURL(S("https://example.org/")), 1);
}

std::vector<int32_t> gFocusEvents;
Ref<Object> RecordFocus(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (e && (e->id == kEventAppSuspend || e->id == kEventAppResume)) gFocusEvents.push_back(e->id);
  return Ref<Object>(data);
}

TEST_F(SystemServicesTest, TheProgramsOwnDialogsGiveNoSuspendOrResume) {
  uint32_t window = platform::OpenPlainWindow("dialogs", 200, 100);
  ASSERT_NE(window, 0u);
  InstallHook(EmitEventHookId(), &RecordFocus, nullptr, 1);
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusGained);
  PollSystemEvents();
  gFocusEvents.clear();

  // A requester that stays open until the test has moved the focus away,
  // the way the dialog's window takes it.
  std::string release = _dir + "/release";
  std::ofstream script(_dir + "/zenity");
  script << "#!/bin/sh\n: > '" << _dir << "/zenity.started'\nwhile [ ! -e '" << release
         << "' ]; do sleep 0.01; done\nprintf '%s\\n' /tmp/chosen\n";
  script.close();
  chmod((_dir + "/zenity").c_str(), 0755);
  std::thread dialog([&] {
    std::string started = _dir + "/zenity.started";
    while (access(started.c_str(), F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    platform::InjectWindowSignal(window, platform::WindowSignal::FocusLost);
    std::ofstream(release.c_str()) << "";
  });
  Ref<String> chosen = RequestFile(S("Open"), nullptr, 0, nullptr);
  dialog.join();
  EXPECT_EQ(N(chosen), "/tmp/chosen");
  // The focus given back to the window once the dialog has closed.
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusGained);
  PollSystemEvents();
  EXPECT_TRUE(gFocusEvents.empty());

  // Brackets nest: a message box (without a display it closes at once)
  // inside another dialog does not end the outer one.
  unsetenv("DISPLAY");
  BeginModalDialog();
  Notify(S("note"));
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusLost);
  EndModalDialog();
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusGained);
  PollSystemEvents();
  EXPECT_TRUE(gFocusEvents.empty());

  // A switch the user made before the dialog opened is still reported.
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusLost);
  BeginModalDialog();
  EndModalDialog();
  PollSystemEvents();
  EXPECT_EQ(gFocusEvents, std::vector<int32_t>{kEventAppSuspend});
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusGained);
  PollSystemEvents();
  gFocusEvents.clear();

  // Afterwards the user's own switches are reported again.
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusLost);
  PollSystemEvents();
  platform::InjectWindowSignal(window, platform::WindowSignal::FocusGained);
  PollSystemEvents();
  EXPECT_EQ(gFocusEvents, (std::vector<int32_t>{kEventAppSuspend, kEventAppResume}));
  UninstallHook(EmitEventHookId(), &RecordFocus, nullptr);
  platform::ClosePlainWindow(window);
  FlushEvents();
}

int gCalled = 0;
Object* gArgument = nullptr;
void Callback(Object* argument, int32_t value) {
  gCalled += value;
  gArgument = argument;
}

TEST_F(SystemServicesTest, MainThreadCallbacksRunWhileEventsArePumped) {
  gCalled = 0;
  Ref<String> argument = S("payload");
  uint32_t before = argument->RefCount();
  argument->Retain();  // handed over with the release flag
  ASSERT_TRUE(PostMainThreadCallback(&Callback, argument, 5, true));
  std::thread other([] { EXPECT_TRUE(PostMainThreadCallback(&Callback, nullptr, 2, false)); });
  other.join();
  EXPECT_EQ(gCalled, 0);
  PollSystemEvents();
  EXPECT_EQ(gCalled, 7);
  EXPECT_EQ(argument->RefCount(), before);
  EXPECT_EQ(PostMainThreadCallback(nullptr, nullptr, 0, false), false);
}

}  // namespace
