// The OpenGL graphics driver: OpenGL windows and contexts on SDL2 windowed,
// full-screen with a display-mode change, or attached to a window of the
// program (by SDL window id). Every context shares textures with one hidden
// shared context. Fixed-function OpenGL 1.x (a compatibility context).
//
// Everything here runs on the main thread. Without a display, creating a
// context fails (the graphics module then answers Null).
//
// A full-screen window holds its display mode only while it has the keyboard
// focus: losing it restores the desktop mode and minimises the window,
// regaining it takes the mode again. The screen saver and monitor power-down
// are refused while any window of this driver is open.
#pragma once

#include <cstdint>

#include "graphics/Graphics.h"

struct SDL_Window;

namespace vrl {

/// One OpenGL window or context.
struct GLWindowRecord {
  GLWindowRecord* next = nullptr;
  int32_t kind = 0;  // 1 attached, 2 windowed, 3 full-screen; 0 the hidden shared one
  int32_t width = 0, height = 0;
  int32_t depth = 0, hertz = 0, flags = 0;
  SDL_Window* window = nullptr;
  void* context = nullptr;    // SDL_GLContext
  int32_t swapInterval = -1;  // last given to this context (-1 never)
};

/// Close, or the destruction of a graphics that was never closed, gives back
/// the record: the window's event source, the context, the window of kinds 2
/// and 3 and the display mode.
class TGLGraphics : public TGraphics {
  VRL_CLASS(TGLGraphics, TGraphics)
 public:
  ~TGLGraphics() override;
  Ref<TGraphicsDriver> Driver() override;
  void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags) override;
  void Close() override;

  /// The record, or nullptr once closed.
  GLWindowRecord* Record() const { return _context; }

 private:
  friend class TGLGraphicsDriver;  // wraps the records it makes

  /// A graphics holding the record; the window's events carry it as their
  /// source.
  static Ref<TGLGraphics> Wrap(GLWindowRecord* record);

  GLWindowRecord* _context = nullptr;
};

class TGLGraphicsDriver : public TGraphicsDriver {
  VRL_CLASS(TGLGraphicsDriver, TGraphicsDriver)
 public:
  Ref<Array> GraphicsModes() override;
  Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags) override;
  Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                int32_t flags) override;
  int32_t SetGraphics(TGraphics* graphics) override;
  /// Throws the runtime error "GLGraphicsDriver failed to set display mode"
  /// once when a full-screen window regained the focus but not its mode.
  int32_t Flip(int32_t sync) override;
};

/// Graphics flags (the pixel format asked for).
inline constexpr int32_t GRAPHICS_BACKBUFFER = 2;
inline constexpr int32_t GRAPHICS_ALPHABUFFER = 4;
inline constexpr int32_t GRAPHICS_DEPTHBUFFER = 8;
inline constexpr int32_t GRAPHICS_STENCILBUFFER = 16;
inline constexpr int32_t GRAPHICS_ACCUMBUFFER = 32;

TGLGraphicsDriver* OpenGLGraphicsDriver();
/// Selects the OpenGL graphics driver and opens the display with it.
Ref<TGraphics> OpenGLGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
/// The record that is current, or nullptr.
GLWindowRecord* CurrentGLRecord();
/// The full-screen record that holds the display mode, or nullptr.
GLWindowRecord* DisplayModeOwner();
/// Makes the hidden shared context once; false when no GL context can be made.
bool CreateSharedContext();
/// Sets the swap interval of the current context when the platform supports
/// it, and notes it in that context's record.
void SetSwapInterval(int32_t interval);
/// Runs `hook` whenever a record of a window is closed, with that record's
/// context current and just before the context is deleted, so that whoever
/// keeps GL objects made for that context can delete them. The hook must not
/// throw. One hook at a time (the 2D driver's); nullptr removes it.
void SetGLContextClosingHook(void (*hook)(GLWindowRecord* record));

namespace glgraphics {
/// Registers the classes and "gldrawtextfont.bin" and selects the driver.
void Init();
}  // namespace glgraphics

}  // namespace vrl
