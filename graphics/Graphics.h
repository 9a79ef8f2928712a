// Graphics drivers, graphics contexts and display modes, and the module
// state that opens, selects and flips the display on a program's behalf.
//
// A driver (TGraphicsDriver) makes graphics contexts (TGraphics): a window
// (depth 0) or a full-screen display mode (depth > 0). One driver and one
// context are current. Everything here runs on the main thread.
//
// The contract of a graphics driver
//
// - Thread: every operation is called on the main thread, the one that
//   opened the display; nothing is locked, and a driver must not call the
//   framework from any other thread (window-system callbacks it installs
//   run on the main thread while events are pumped).
// - GraphicsModes gives a new array of TGraphicsMode each call; the module
//   caches it and hands callers copies. An empty array is allowed (asked
//   again next time).
// - CreateGraphics and AttachGraphics give a new context, or Null when the
//   display or window cannot be had. They may also throw: the module turns
//   any exception into Null, so a driver need not catch its own errors
//   there. The flags arrive with the module's default flags ORed in; their
//   meaning is the driver's.
// - SetGraphics(graphics) makes that context (one of this driver's) current
//   for rendering; Null detaches. The module calls it with Null before it
//   switches to another driver while a context is current. Making the
//   current context current again must be harmless.
// - Flip(sync) presents the current context's back buffer: 0 at once, a
//   positive value at the vertical blank. Pacing (sync -1) is the module's,
//   never the driver's.
// - What a driver's operations may not do: select drivers, open or shut
//   down the display (OpenGraphics, ShutdownGraphics), or change the
//   module's current context behind its back; those are the program's and
//   the module's. (A back-end's module initialisation may select its own
//   driver, see the back-end tables below.)
// - The base class implements nothing: each operation throws
//   TNullMethodException, so a driver overrides all five.
// - A TGraphics belongs to the driver that made it (Driver() gives it back)
//   and lives as long as it is referenced. Close gives back its window or
//   context; a context dropped without Close must give back what it holds
//   when it is freed. The module keeps the current and the opened context
//   counted, and closes the opened one at ShutdownGraphics (at the latest
//   when the program ends).
// - The graphics generation (GraphicsGeneration()) moves on at every
//   SelectGraphicsDriver, successful OpenGraphics and ShutdownGraphics. Holders of
//   driver resources (image frames, textures) note the generation they were
//   made in and treat theirs as gone once it differs; a driver whose
//   resources die for another reason may advance it itself.
//
// The back-ends of a program and the order in which they register are
// listed in one table per driver kind (gldriver/GraphicsBackends.h).
#pragma once

#include <cstdint>

#include "runtime/Array.h"
#include "runtime/Object.h"

namespace vrl {

class TGraphics;

/// A display mode: a plain record of four values.
class TGraphicsMode : public Object {
  VRL_CLASS(TGraphicsMode, Object)
  /// "width,height,depth hertzHz".
  Ref<String> ToString() override;

  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 0;
  int32_t hertz = 0;
};

/// A display back-end. Every operation is abstract in this base class.
class TGraphicsDriver : public Object {
  VRL_CLASS(TGraphicsDriver, Object)
  /// The display modes the driver offers: an array of TGraphicsMode.
  virtual Ref<Array> GraphicsModes();
  /// A context drawing into an existing window of the program, or Null.
  virtual Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags);
  /// A new window (depth 0) or full-screen context, or Null.
  virtual Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                        int32_t flags);
  /// Makes the context current for rendering; Null detaches.
  virtual int32_t SetGraphics(TGraphics* graphics);
  /// Presents the back buffer: sync 0 at once, positive at the vertical blank.
  virtual int32_t Flip(int32_t sync);
};

class TGraphics : public Object {
  VRL_CLASS(TGraphics, Object)
  int32_t _pad() { return 0; }
  virtual Ref<TGraphicsDriver> Driver();
  virtual void GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz, int32_t& flags);
  virtual void Close();
};

/// The graphics generation: starts at 1, changes on every change of driver
/// or display, and is never 0.
int32_t GraphicsGeneration();
/// Moves the generation on (skipping 0 when it wraps); the module does so at
/// every change of driver or display.
void AdvanceGraphicsGeneration();
/// The hook id run at the start of every Flip, with Null data.
int32_t FlipHookId();

void SelectGraphicsDriver(TGraphicsDriver* driver, int32_t flags);
TGraphicsDriver* SelectedGraphicsDriver();
int32_t SelectedGraphicsFlags();

/// A copy of the current driver's modes (cached).
Ref<Array> GraphicsModes();
int32_t GraphicsModeCount();
void GraphicsModeAt(int32_t index, int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz);
/// 1 when some mode matches every argument that is not 0.
int32_t HasGraphicsMode(int32_t width, int32_t height, int32_t depth, int32_t hertz);

/// The driver's context, or Null when the driver raised anything.
Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags);
void SetGraphics(TGraphics* graphics);
void CloseGraphicsContext(TGraphics* graphics);

/// Opens the display for the program (closing one opened before), starts
/// polled input and arranges for ShutdownGraphics to run at program end.
/// Null when the display cannot be opened.
Ref<TGraphics> OpenGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
void ShutdownGraphics();

int32_t CurrentGraphicsWidth();
int32_t CurrentGraphicsHeight();
int32_t CurrentGraphicsDepth();
int32_t CurrentGraphicsHertz();
int32_t CurrentGraphicsFlags();
TGraphics* CurrentGraphics();

/// Presents the frame. Sync -1 lets the framework pace: a full-screen display
/// opened with a refresh rate waits for the vertical blank, a window opened
/// with one is limited to that rate by sleeping.
int32_t Flip(int32_t sync = -1);

/// One back-end of a driver kind, as the back-end tables list it.
struct GraphicsBackend {
  const char* name;
  /// Initialises the back-end's module: registers its classes and, for a
  /// back-end that is a default candidate, selects its driver when usable.
  void (*init)();
  /// The back-end's driver.
  TGraphicsDriver* (*driver)();
};

namespace graphics {
void Init();
/// For tests of the wrap: the value the generation has until it is next
/// advanced.
void SetGenerationForTesting(int32_t generation);
}  // namespace graphics

}  // namespace vrl
