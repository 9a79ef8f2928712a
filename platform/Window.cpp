#include "platform/Window.h"

#include <SDL.h>

#include "platform/Sdl.h"

namespace vrl::platform {

namespace {

bool VideoRunning() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

SDL_Window* Find(uint32_t window) {
  if (!VideoRunning() || !window) return nullptr;
  return SDL_GetWindowFromID(window);
}

bool gPointerShown = true;

}  // namespace

bool WindowExists(uint32_t window) { return Find(window) != nullptr; }

bool WindowShown(uint32_t window) {
  SDL_Window* w = Find(window);
  return w && (SDL_GetWindowFlags(w) & SDL_WINDOW_SHOWN) && !(SDL_GetWindowFlags(w) & SDL_WINDOW_HIDDEN);
}

bool WindowClientSize(uint32_t window, int32_t& width, int32_t& height) {
  SDL_Window* w = Find(window);
  if (!w) return false;
  int cw = 0, ch = 0;
  SDL_GetWindowSize(w, &cw, &ch);
  width = cw;
  height = ch;
  return true;
}

bool PointerPositionIn(uint32_t window, int32_t& x, int32_t& y) {
  SDL_Window* w = Find(window);
  if (!w) return false;
  int gx = 0, gy = 0, wx = 0, wy = 0;
  SDL_GetGlobalMouseState(&gx, &gy);
  SDL_GetWindowPosition(w, &wx, &wy);
  x = gx - wx;
  y = gy - wy;
  return true;
}

uint32_t ActiveWindow() {
  if (!VideoRunning()) return 0;
  SDL_Window* w = SDL_GetKeyboardFocus();
  return w ? SDL_GetWindowID(w) : 0;
}

void FocusWindow(uint32_t window) {
  SDL_Window* w = Find(window);
  if (!w) return;
  SDL_RaiseWindow(w);
  // Raising asks the window manager for the focus; without one (Xvfb) only
  // setting it directly moves it.
  SDL_SetWindowInputFocus(w);
}

void WarpPointer(uint32_t window, int32_t x, int32_t y) {
  if (!VideoRunning()) return;
  if (SDL_Window* w = Find(window)) {
    SDL_WarpMouseInWindow(w, x, y);
  } else if (!window) {
    SDL_WarpMouseGlobal(x, y);
  }
}

void SetPointerShown(bool shown) {
  gPointerShown = shown;
  if (VideoRunning()) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

bool PointerShown() { return gPointerShown; }

bool QueryDesktopMetrics(DesktopMetrics& metrics) {
  SdlSubsystems video(kSdlVideo);
  if (!video.Ok()) return false;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
  metrics.width = mode.w;
  metrics.height = mode.h;
  metrics.bitsPerPixel =
      SDL_BYTESPERPIXEL(mode.format) == 4 ? 32 : static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format));
  metrics.refreshRate = mode.refresh_rate;
  return true;
}

uint32_t OpenPlainWindow(const std::string& title, int32_t width, int32_t height) {
  if (!AcquireSdl(kSdlVideo)) return 0;
  SDL_Window* w = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                                   height, SDL_WINDOW_SHOWN);
  if (!w) {
    ReleaseSdl(kSdlVideo);
    return 0;
  }
  return SDL_GetWindowID(w);
}

void ClosePlainWindow(uint32_t window) {
  SDL_Window* w = Find(window);
  if (!w) return;
  SDL_DestroyWindow(w);
  ReleaseSdl(kSdlVideo);
}

}  // namespace vrl::platform
