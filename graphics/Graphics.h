// Graphics drivers, graphics contexts and display modes, and the module
// state that opens, selects and flips the display on a program's behalf.
//
// A driver (TGraphicsDriver) makes graphics contexts (TGraphics): a window
// (depth 0) or a full-screen display mode (depth > 0). One driver and one
// context are current; GraphicsGeneration changes whenever the driver or the
// display changes, so that holders of driver resources (image frames) can
// tell that theirs are stale. Everything here runs on the main thread.
#pragma once

#include <cstdint>

#include "runtime/Array.h"
#include "runtime/Object.h"

namespace vrl {

class TGraphics;

class TGraphicsMode : public Object {
  VRL_CLASS(TGraphicsMode, Object)
  // "width,height,depth hertzHz".
  Ref<String> ToString() override;

  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 0;
  int32_t hertz = 0;
};

// A display back-end. Every operation is abstract in this base class.
class TGraphicsDriver : public Object {
  VRL_CLASS(TGraphicsDriver, Object)
  // The display modes the driver offers: an array of TGraphicsMode.
  virtual Ref<Array> GraphicsModes();
  // A context drawing into an existing window of the program, or Null.
  virtual Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags);
  // A new window (depth 0) or full-screen context, or Null.
  virtual Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                        int32_t flags);
  // Makes the context current for rendering; Null detaches.
  virtual int32_t SetGraphics(TGraphics* graphics);
  // Presents the back buffer: sync 0 at once, positive at the vertical blank.
  virtual int32_t Flip(int32_t sync);
};

class TGraphics : public Object {
  VRL_CLASS(TGraphics, Object)
  int32_t _pad() { return 0; }
  virtual Ref<TGraphicsDriver> Driver();
  virtual void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags);
  virtual void Close();
};

// Changes on every change of driver or display; never 0.
extern int32_t GraphicsGeneration;
// The hook id run at the start of every Flip, with Null data.
int32_t FlipHookId();

void SelectGraphicsDriver(TGraphicsDriver* driver, int32_t flags);
TGraphicsDriver* SelectedGraphicsDriver();
int32_t SelectedGraphicsFlags();

// A copy of the current driver's modes (cached).
Ref<Array> GraphicsModes();
int32_t GraphicsModeCount();
void GraphicsModeAt(int32_t index, int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz);
// 1 when some mode matches every argument that is not 0.
int32_t HasGraphicsMode(int32_t width, int32_t height, int32_t depth, int32_t hertz);

// The driver's context, or Null when the driver raised anything.
Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags);
void SetGraphics(TGraphics* graphics);
void CloseGraphicsContext(TGraphics* graphics);

// Opens the display for the program (closing one opened before), starts
// polled input and arranges for ShutdownGraphics to run at program end.
// Null when the display cannot be opened.
Ref<TGraphics> OpenGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
void ShutdownGraphics();

int32_t CurrentGraphicsWidth();
int32_t CurrentGraphicsHeight();
int32_t CurrentGraphicsDepth();
int32_t CurrentGraphicsHertz();
int32_t CurrentGraphicsFlags();
TGraphics* CurrentGraphics();

// Presents the frame. Sync -1 lets the framework pace: a full-screen display
// opened with a refresh rate waits for the vertical blank, a window opened
// with one is limited to that rate by sleeping.
int32_t Flip(int32_t sync = -1);

namespace graphics {
void Init();
}  // namespace graphics

}  // namespace vrl
