// The software graphics driver: SDL2 windows (windowed, full-screen with a
// display-mode change, or attached to a window of the program by SDL window
// id) whose pictures are drawn by the processor into a frame buffer in
// memory, one uint32_t 0xAARRGGBB a pixel. Flip shows the buffer through the
// window's surface, or through a streaming texture when the graphics were
// made with SOFTGRAPHICS_TEXTURE (or the window has no surface).
//
// The buffer keeps its contents across Flip. Flip(sync) presents at once
// whatever sync says: neither a window surface nor a plain renderer waits
// for the vertical blank. Everything here runs on the main thread; without a
// display no window can be made (the graphics module then answers Null).
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/Graphics.h"

struct SDL_Window;

namespace vrl {

/// Graphics flag of this driver: present through a streaming texture.
inline constexpr int32_t SOFTGRAPHICS_TEXTURE = 64;

/// One window and its frame buffer. Close gives back the window; the buffer
/// lives as long as the object, so that a driver still holding it never
/// draws into freed memory.
class TSoftGraphics : public TGraphics {
  VRL_CLASS(TSoftGraphics, TGraphics)
 public:
  ~TSoftGraphics() override;
  Ref<TGraphicsDriver> Driver() override;
  void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags) override;
  void Close() override;

  /// The frame buffer: Width() x Height() pixels, rows of Width().
  uint32_t* Pixels() { return _pixels.data(); }
  int32_t Width() const { return _width; }
  int32_t Height() const { return _height; }
  /// The SDL window id, 0 once closed.
  uint32_t WindowId() const { return _windowId; }
  /// Shows the buffer in the window; false when it could not.
  bool Present();

 private:
  friend class TSoftGraphicsDriver;  // makes the windows

  SDL_Window* _window = nullptr;
  uint32_t _windowId = 0;
  int32_t _kind = 0;  // 1 attached, 2 windowed, 3 full-screen
  int32_t _width = 0, _height = 0, _depth = 0, _hertz = 0, _flags = 0;
  std::vector<uint32_t> _pixels;
};

class TSoftGraphicsDriver : public TGraphicsDriver {
  VRL_CLASS(TSoftGraphicsDriver, TGraphicsDriver)
 public:
  Ref<Array> GraphicsModes() override;
  Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags) override;
  /// Throws the runtime error "SoftGraphicsDriver failed to set display
  /// mode" when a full-screen mode cannot be had.
  Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                int32_t flags) override;
  int32_t SetGraphics(TGraphics* graphics) override;
  int32_t Flip(int32_t sync) override;

  /// The current graphics, or nullptr.
  TSoftGraphics* Current() const { return _current.get(); }

 private:
  Ref<TSoftGraphics> _current;
};

TSoftGraphicsDriver* SoftwareGraphicsDriver();

namespace softgraphics {
/// The back-end's entry among the graphics drivers of
/// gldriver/GraphicsBackends.h: registers the classes. It never selects its
/// driver.
void Init();
}  // namespace softgraphics

}  // namespace vrl
