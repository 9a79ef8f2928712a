#include "swdriver/SoftGraphicsDriver.h"

#include <SDL.h>

#include <string>

#include "platform/Sdl.h"
#include "platform/Window.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "system/SystemDriver.h"

namespace vrl {

const ClassRecord& TSoftGraphics::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSoftGraphics>("TSoftGraphics", [](auto& d) {
    d.template Field<&TSoftGraphics::_kind>("_kind");
    d.template Field<&TSoftGraphics::_width>("_width");
    d.template Field<&TSoftGraphics::_height>("_height");
    d.template Field<&TSoftGraphics::_depth>("_depth");
    d.template Field<&TSoftGraphics::_hertz>("_hertz");
    d.template Field<&TSoftGraphics::_flags>("_flags");
    d.template Method<&TSoftGraphics::Driver>("Driver");
    d.template Method<&TSoftGraphics::GetSettings>("GetSettings");
    d.template Method<&TSoftGraphics::Close>("Close");
  });
  return record;
}

const ClassRecord& TSoftGraphicsDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSoftGraphicsDriver>("TSoftGraphicsDriver", [](auto& d) {
    d.template Method<&TSoftGraphicsDriver::GraphicsModes>("GraphicsModes", "()[]:TGraphicsMode");
    d.template Method<&TSoftGraphicsDriver::AttachGraphics>("AttachGraphics");
    d.template Method<&TSoftGraphicsDriver::CreateGraphics>("CreateGraphics");
    d.template Method<&TSoftGraphicsDriver::SetGraphics>("SetGraphics");
    d.template Method<&TSoftGraphicsDriver::Flip>("Flip");
  });
  return record;
}

namespace {

// The largest frame buffer side: far beyond any display, small enough that
// width x height x 4 stays well inside memory.
constexpr int32_t kMaxSide = 16384;

// The video subsystem is held from the first window to the end of the run.
bool EnsureVideo() {
  static bool acquired = false;
  if (acquired) return true;
  acquired = platform::AcquireSdl(platform::kSdlVideo);
  return acquired;
}

int32_t ModeDepth(uint32_t format) {
  return SDL_BYTESPERPIXEL(format) == 4 ? 32 : static_cast<int32_t>(SDL_BITSPERPIXEL(format));
}

// A display mode of the size and depth, at the refresh rate when `hertz` is
// not 0.
bool FindDisplayMode(SDL_Window* window, int32_t width, int32_t height, int32_t depth, int32_t hertz,
                     SDL_DisplayMode& found) {
  int display = SDL_GetWindowDisplayIndex(window);
  if (display < 0) display = 0;
  int count = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(display, i, &mode) != 0) break;
    if (mode.w == width && mode.h == height && ModeDepth(mode.format) == depth &&
        (hertz == 0 || mode.refresh_rate == hertz)) {
      found = mode;
      return true;
    }
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// TSoftGraphics

TSoftGraphics::~TSoftGraphics() { Close(); }

Ref<TGraphicsDriver> TSoftGraphics::Driver() { return Ref<TGraphicsDriver>(SoftwareGraphicsDriver()); }

void TSoftGraphics::GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz,
                                int32_t& flags) {
  if (!_window) {
    width = height = depth = hertz = flags = 0;
    return;
  }
  width = _width;
  height = _height;
  depth = _depth;
  hertz = _hertz;
  flags = _flags;
}

void TSoftGraphics::Close() {
  if (!_window) return;
  SDL_Window* window = _window;
  _window = nullptr;
  platform::ReleaseFramePresenter(_windowId);
  SetWindowEventSource(_windowId, nullptr);
  _windowId = 0;
  if (_kind == 3) SDL_SetWindowFullscreen(window, 0);
  if (_kind == 2 || _kind == 3) SDL_DestroyWindow(window);
}

bool TSoftGraphics::Present() {
  if (!_window) return false;
  return platform::PresentFrame(_windowId, _pixels.data(), _width, _height, _width * 4,
                                (_flags & SOFTGRAPHICS_TEXTURE) != 0);
}

// ---------------------------------------------------------------------------
// TSoftGraphicsDriver

Ref<Array> TSoftGraphicsDriver::GraphicsModes() {
  std::vector<Ref<TGraphicsMode>> modes;
  if (EnsureVideo()) {
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count && i < 1024; ++i) {
      SDL_DisplayMode mode;
      if (SDL_GetDisplayMode(0, i, &mode) != 0) break;
      int32_t depth = ModeDepth(mode.format);
      if (depth < 16) continue;
      Ref<TGraphicsMode> m = New<TGraphicsMode>();
      m->width = mode.w;
      m->height = mode.h;
      m->depth = depth;
      m->hertz = mode.refresh_rate;
      modes.push_back(m);
    }
  }
  Ref<Array> array = Array::New(":TGraphicsMode", static_cast<int32_t>(modes.size()));
  for (std::size_t i = 0; i < modes.size(); ++i) array->SetObject(static_cast<int32_t>(i), modes[i]);
  return array;
}

Ref<TGraphics> TSoftGraphicsDriver::AttachGraphics(int32_t widget, int32_t flags) {
  if (!EnsureVideo()) return Ref<TGraphics>();
  SDL_Window* window = SDL_GetWindowFromID(static_cast<Uint32>(widget));
  if (!window) return Ref<TGraphics>();
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return Ref<TGraphics>();
  Ref<TSoftGraphics> graphics = New<TSoftGraphics>();
  graphics->_window = window;
  graphics->_windowId = SDL_GetWindowID(window);
  graphics->_kind = 1;
  graphics->_width = w;
  graphics->_height = h;
  graphics->_flags = flags;
  graphics->_pixels.assign(std::size_t(w) * std::size_t(h), 0xFF000000u);
  SetWindowEventSource(graphics->_windowId, graphics);
  return graphics;
}

Ref<TGraphics> TSoftGraphicsDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth,
                                                   int32_t hertz, int32_t flags) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || !EnsureVideo())
    return Ref<TGraphics>();
  Uint32 windowFlags = SDL_WINDOW_HIDDEN;
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  if (depth != 0) {
    windowFlags |= SDL_WINDOW_BORDERLESS;
    x = y = 0;
  }
  std::string title = ApplicationTitle()->ToUtf8String();
  SDL_Window* window = SDL_CreateWindow(title.c_str(), x, y, width, height, windowFlags);
  if (!window) return Ref<TGraphics>();
  Ref<TSoftGraphics> graphics = New<TSoftGraphics>();
  graphics->_window = window;
  graphics->_windowId = SDL_GetWindowID(window);
  graphics->_kind = depth != 0 ? 3 : 2;
  graphics->_width = width;
  graphics->_height = height;
  graphics->_depth = depth;
  graphics->_hertz = hertz;
  graphics->_flags = flags;
  graphics->_pixels.assign(std::size_t(width) * std::size_t(height), 0xFF000000u);
  SetWindowEventSource(graphics->_windowId, graphics);
  SDL_ShowWindow(window);
  if (depth != 0) {
    // The asked rate when the display has it, else any rate.
    SDL_DisplayMode mode{};
    bool found = FindDisplayMode(window, width, height, depth, hertz, mode) ||
                 FindDisplayMode(window, width, height, depth, 0, mode);
    if (!found || SDL_SetWindowDisplayMode(window, &mode) != 0 ||
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0) {
      graphics->Close();
      vrRuntimeError("SoftGraphicsDriver failed to set display mode");
    }
  }
  SDL_RaiseWindow(window);
  return graphics;
}

int32_t TSoftGraphicsDriver::SetGraphics(TGraphics* graphics) {
  _current = CastRaw<TSoftGraphics>(graphics);
  return 0;
}

int32_t TSoftGraphicsDriver::Flip(int32_t) {
  if (!_current.IsNull()) _current->Present();
  return 0;
}

TSoftGraphicsDriver* SoftwareGraphicsDriver() {
  static auto* driver = new Ref<TSoftGraphicsDriver>(New<TSoftGraphicsDriver>());
  return driver->get();
}

void softgraphics::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  graphics::Init();
  vrRegisterClass(TSoftGraphics::StaticClass());
  vrRegisterClass(TSoftGraphicsDriver::StaticClass());
}

}  // namespace vrl
