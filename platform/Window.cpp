#include "platform/Window.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/Sdl.h"

namespace vrl::platform {

namespace {

bool VideoRunning() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

SDL_Window* Find(uint32_t window) {
  if (!VideoRunning() || !window) return nullptr;
  return SDL_GetWindowFromID(window);
}

bool gPointerShown = true;

// A window that shows its frames through a streaming texture.
struct TexturePresenter {
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int32_t width = 0, height = 0;
};

std::unordered_map<uint32_t, TexturePresenter>& Presenters() {
  static auto* presenters = new std::unordered_map<uint32_t, TexturePresenter>;
  return *presenters;
}

bool PresentThroughSurface(SDL_Window* w, const uint32_t* pixels, int32_t width, int32_t height,
                           int32_t pitch) {
  // The frame is drawn already: the window system shows the surface itself
  // rather than SDL drawing it as an OpenGL texture, unless the program
  // asked otherwise.
  if (!SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION)) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Surface* surface = SDL_GetWindowSurface(w);
  if (!surface) return false;
  int32_t cw = std::min(width, surface->w), ch = std::min(height, surface->h);
  uint32_t format = surface->format->format;
  if (format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888) {
    // The frame's own layout: rows are copied as they are.
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
    const auto* from = reinterpret_cast<const uint8_t*>(pixels);
    auto* to = static_cast<uint8_t*>(surface->pixels);
    for (int32_t y = 0; y < ch; ++y) {
      std::memcpy(to + std::ptrdiff_t(y) * surface->pitch, from + std::ptrdiff_t(y) * pitch,
                  std::size_t(cw) * 4);
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  } else {
    // Any other layout: SDL converts while it copies.
    SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), width, height, 32,
                                                            pitch, SDL_PIXELFORMAT_ARGB8888);
    if (!frame) return false;
    SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_NONE);
    SDL_Rect area{0, 0, cw, ch};
    int failed = SDL_BlitSurface(frame, &area, surface, nullptr);
    SDL_FreeSurface(frame);
    if (failed) return false;
  }
  return SDL_UpdateWindowSurface(w) == 0;
}

bool PresentThroughTexture(uint32_t window, SDL_Window* w, const uint32_t* pixels, int32_t width,
                           int32_t height, int32_t pitch) {
  TexturePresenter& p = Presenters()[window];
  if (!p.renderer) {
    p.renderer = SDL_CreateRenderer(w, -1, 0);
    if (!p.renderer) {
      Presenters().erase(window);
      return false;
    }
  }
  if (!p.texture || p.width != width || p.height != height) {
    if (p.texture) SDL_DestroyTexture(p.texture);
    p.texture =
        SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    p.width = width;
    p.height = height;
    if (!p.texture) return false;
  }
  if (SDL_UpdateTexture(p.texture, nullptr, pixels, pitch) != 0) return false;
  int cw = 0, ch = 0;
  SDL_GetWindowSize(w, &cw, &ch);
  SDL_Rect area{0, 0, std::min(width, cw), std::min(height, ch)};
  SDL_RenderClear(p.renderer);
  SDL_RenderCopy(p.renderer, p.texture, &area, &area);
  SDL_RenderPresent(p.renderer);
  return true;
}

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

bool PresentFrame(uint32_t window, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                  bool texture) {
  SDL_Window* w = Find(window);
  if (!w || !pixels || width <= 0 || height <= 0 || pitch < width * 4) return false;
  if (texture || Presenters().count(window))
    return PresentThroughTexture(window, w, pixels, width, height, pitch);
  if (PresentThroughSurface(w, pixels, width, height, pitch)) return true;
  return PresentThroughTexture(window, w, pixels, width, height, pitch);
}

bool PresentsThroughTexture(uint32_t window) { return Presenters().count(window) != 0; }

void ReleaseFramePresenter(uint32_t window) {
  auto it = Presenters().find(window);
  if (it == Presenters().end()) return;
  if (it->second.texture) SDL_DestroyTexture(it->second.texture);
  if (it->second.renderer) SDL_DestroyRenderer(it->second.renderer);
  Presenters().erase(it);
}

}  // namespace vrl::platform
