// Windows, the pointer and the desktop, by SDL window id. Everything here
// runs on the main thread and answers "nothing" (false, 0) while SDL's video
// subsystem is not running, so it works without a display.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

/// True when the id names an open window.
bool WindowExists(uint32_t window);
/// True when the window is open and not hidden.
bool WindowShown(uint32_t window);
/// The window's client size in pixels.
bool WindowClientSize(uint32_t window, int32_t& width, int32_t& height);
/// The pointer's position in the window's client coordinates.
bool PointerPositionIn(uint32_t window, int32_t& x, int32_t& y);
/// The window with the keyboard focus (the active window), 0 for none.
uint32_t ActiveWindow();
/// Raises a shown window of this process and gives it the keyboard focus.
void FocusWindow(uint32_t window);
/// Moves the pointer to client coordinates of `window`, or to desktop
/// coordinates when `window` is 0.
void WarpPointer(uint32_t window, int32_t x, int32_t y);
/// Shows or hides the pointer over the framework's windows.
void SetPointerShown(bool shown);
/// The pointer's visibility as last set (true initially).
bool PointerShown();

/// The desktop display mode. A mode of 4 bytes a pixel (SDL's 24-bit RGB888)
/// counts as 32 bits. False when no display can be reached.
struct DesktopMetrics {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  int32_t refreshRate = 0;  // 0 when unknown (Xvfb)
};
bool QueryDesktopMetrics(DesktopMetrics& metrics);

/// A plain window that takes keyboard and mouse input, for tools and tests
/// (the framework's own windows are made by the graphics drivers). Acquires
/// the video subsystem while open. Returns the window id, 0 on failure.
uint32_t OpenPlainWindow(const std::string& title, int32_t width, int32_t height);
void ClosePlainWindow(uint32_t window);

/// Shows a frame of 32-bit pixels (0xAARRGGBB, alpha ignored), `pitch`
/// bytes a row, in the window's client area, cut to the smaller of the two
/// sizes. It goes through the window's surface, or through a streaming
/// texture of a renderer made for the window when `texture` is set or the
/// window has no surface; a window keeps the way its first frame took until
/// ReleaseFramePresenter. False when neither way works.
bool PresentFrame(uint32_t window, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                  bool texture);
/// True when the window's frames go through a streaming texture.
bool PresentsThroughTexture(uint32_t window);
/// Gives back the renderer and texture PresentFrame made for the window;
/// called before the window is destroyed.
void ReleaseFramePresenter(uint32_t window);

}  // namespace vrl::platform
