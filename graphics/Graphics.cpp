#include "graphics/Graphics.h"

#include <cstdio>

#include "input/PolledInput.h"
#include "runtime/ClassRecord.h"
#include "runtime/Console.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

namespace vrl {

const ClassRecord& TGraphicsDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGraphicsDriver>("TGraphicsDriver", [](auto& d) {
    d.template Method<&TGraphicsDriver::GraphicsModes>("GraphicsModes", "()[]:TGraphicsMode");
    d.template Method<&TGraphicsDriver::AttachGraphics>("AttachGraphics");
    d.template Method<&TGraphicsDriver::CreateGraphics>("CreateGraphics");
    d.template Method<&TGraphicsDriver::SetGraphics>("SetGraphics");
    d.template Method<&TGraphicsDriver::Flip>("Flip");
  });
  return record;
}

const ClassRecord& TGraphics::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGraphics>("TGraphics", [](auto& d) {
    d.template Method<&TGraphics::_pad>("_pad");
    d.template Method<&TGraphics::Driver>("Driver");
    d.template Method<&TGraphics::GetSettings>("GetSettings");
    d.template Method<&TGraphics::Close>("Close");
  });
  return record;
}

const ClassRecord& TGraphicsMode::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGraphicsMode>("TGraphicsMode", [](auto& d) {
    d.template Field<&TGraphicsMode::width>("width");
    d.template Field<&TGraphicsMode::height>("height");
    d.template Field<&TGraphicsMode::depth>("depth");
    d.template Field<&TGraphicsMode::hertz>("hertz");
  });
  return record;
}

Ref<String> TGraphicsMode::ToString() {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d %dHz", width, height, depth, hertz);
  return String::FromNarrow(text);
}

Ref<Array> TGraphicsDriver::GraphicsModes() { ThrowNullMethodException(); }
Ref<TGraphics> TGraphicsDriver::AttachGraphics(int32_t, int32_t) { ThrowNullMethodException(); }
Ref<TGraphics> TGraphicsDriver::CreateGraphics(int32_t, int32_t, int32_t, int32_t, int32_t) {
  ThrowNullMethodException();
}
int32_t TGraphicsDriver::SetGraphics(TGraphics*) { ThrowNullMethodException(); }
int32_t TGraphicsDriver::Flip(int32_t) { ThrowNullMethodException(); }

Ref<TGraphicsDriver> TGraphics::Driver() { ThrowNullMethodException(); }
void TGraphics::GetSettings(int32_t&, int32_t&, int32_t&, int32_t&, int32_t&) { ThrowNullMethodException(); }
void TGraphics::Close() { ThrowNullMethodException(); }

namespace {

int32_t gGeneration = 1;

// Module state; lives for the whole run.
struct State {
  Ref<TGraphicsDriver> driver;
  int32_t defaultFlags = 0;
  Ref<Array> modes;
  Ref<TGraphics> current;
  int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  Ref<TGraphics> opened;
  bool softSync = false;
  bool vsync = false;
  int32_t softHertz = 0, period = 0, remainder = 0, fraction = 0;
  uint32_t nextTime = 0;
  int32_t flipHookId = 0;
  bool endHandlerRegistered = false;
};

State& S() {
  static auto* state = new State;
  return *state;
}

void ForgetCurrent() {
  State& s = S();
  s.current = nullptr;
  s.width = s.height = s.depth = s.hertz = s.flags = 0;
}

// Makes `driver` current, detaching the old one's context first.
void SwitchDriver(TGraphicsDriver* driver) {
  State& s = S();
  if (s.driver.get() == driver) return;
  if (!s.driver.IsNull() && !s.current.IsNull()) s.driver->SetGraphics(nullptr);
  s.modes = Ref<Array>();
  s.driver = driver;
}

TGraphicsDriver* Driver() {
  if (S().driver.IsNull()) ThrowNullObjectException();
  return S().driver.get();
}

}  // namespace

int32_t GraphicsGeneration() { return gGeneration; }

void AdvanceGraphicsGeneration() {
  // Wraps through the negative values as an unsigned count would.
  gGeneration = static_cast<int32_t>(static_cast<uint32_t>(gGeneration) + 1u);
  if (gGeneration == 0) gGeneration = 1;
}

void graphics::SetGenerationForTesting(int32_t generation) { gGeneration = generation; }

void graphics::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  system::Init();
  input::Init();
  vrRegisterClass(TGraphicsDriver::StaticClass());
  vrRegisterClass(TGraphics::StaticClass());
  vrRegisterClass(TGraphicsMode::StaticClass());
  S().flipHookId = NewHookId();
}

int32_t FlipHookId() { return S().flipHookId; }

void SelectGraphicsDriver(TGraphicsDriver* driver, int32_t flags) {
  AdvanceGraphicsGeneration();
  SwitchDriver(driver);
  S().defaultFlags = flags;
  ForgetCurrent();
}

TGraphicsDriver* SelectedGraphicsDriver() { return S().driver.get(); }
int32_t SelectedGraphicsFlags() { return S().defaultFlags; }

Ref<Array> GraphicsModes() {
  State& s = S();
  if (s.modes->Length() == 0) s.modes = Driver()->GraphicsModes();
  return vrSliceArray(":TGraphicsMode", s.modes, 0, s.modes->Length());
}

int32_t GraphicsModeCount() { return GraphicsModes()->Length(); }

void GraphicsModeAt(int32_t index, int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz) {
  Ref<Array> modes = GraphicsModes();
  auto* mode = CastRaw<TGraphicsMode>(modes->GetObject(index));
  if (!mode) ThrowNullObjectException();
  width = mode->width;
  height = mode->height;
  depth = mode->depth;
  hertz = mode->hertz;
}

int32_t HasGraphicsMode(int32_t width, int32_t height, int32_t depth, int32_t hertz) {
  Ref<Array> modes = GraphicsModes();
  for (int32_t i = 0; i < modes->Length(); ++i) {
    auto* mode = CastRaw<TGraphicsMode>(modes->GetObject(i));
    if (!mode) continue;
    if ((!width || mode->width == width) && (!height || mode->height == height) &&
        (!depth || mode->depth == depth) && (!hertz || mode->hertz == hertz)) {
      return 1;
    }
  }
  return 0;
}

Ref<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
  TGraphicsDriver* driver = Driver();
  try {
    return driver->CreateGraphics(width, height, depth, hertz, flags | S().defaultFlags);
  } catch (const ThrownObject&) {
    return Ref<TGraphics>();
  }
}

Ref<TGraphics> AttachGraphics(int32_t widget, int32_t flags) {
  TGraphicsDriver* driver = Driver();
  try {
    return driver->AttachGraphics(widget, flags | S().defaultFlags);
  } catch (const ThrownObject&) {
    return Ref<TGraphics>();
  }
}

void SetGraphics(TGraphics* graphics) {
  State& s = S();
  if (!graphics) {
    if (!s.driver.IsNull() && !s.current.IsNull()) s.driver->SetGraphics(nullptr);
    ForgetCurrent();
    return;
  }
  Ref<TGraphics> keep(graphics);
  Ref<TGraphicsDriver> driver = graphics->Driver();
  SwitchDriver(driver);
  graphics->GetSettings(s.width, s.height, s.depth, s.hertz, s.flags);
  driver->SetGraphics(graphics);
  s.current = graphics;
}

void CloseGraphicsContext(TGraphics* graphics) {
  if (!graphics) ThrowNullObjectException();
  Ref<TGraphics> keep(graphics);
  State& s = S();
  if (s.opened.get() == graphics) s.opened = nullptr;
  if (s.current.get() == graphics) SetGraphics(nullptr);
  graphics->Close();
}

Ref<TGraphics> OpenGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
  ShutdownGraphics();
  State& s = S();
  Ref<TGraphics> g = CreateGraphics(width, height, depth, hertz, flags | s.defaultFlags);
  if (g.IsNull()) return g;
  AdvanceGraphicsGeneration();
  SetGraphics(g);
  if (depth != 0) {
    s.softSync = false;
    s.vsync = hertz != 0;
    MoveMouse(width / 2, height / 2);
  } else {
    s.vsync = false;
    s.softSync = hertz != 0;
  }
  if (s.softSync) {
    s.softHertz = hertz;
    s.period = hertz ? 1000 / hertz : 0;
    s.remainder = 1000 - s.period * hertz;
    s.fraction = 0;
    s.nextTime = vrMilliseconds();
  }
  StartPolledInput(nullptr);
  s.opened = g;
  if (!s.endHandlerRegistered) {
    s.endHandlerRegistered = true;
    RegisterEndHandler(&ShutdownGraphics);
  }
  return g;
}

void ShutdownGraphics() {
  State& s = S();
  if (s.opened.IsNull()) return;
  AdvanceGraphicsGeneration();
  StopPolledInput();
  CloseGraphicsContext(s.opened);
}

int32_t CurrentGraphicsWidth() { return S().width; }
int32_t CurrentGraphicsHeight() { return S().height; }
int32_t CurrentGraphicsDepth() { return S().depth; }
int32_t CurrentGraphicsHertz() { return S().hertz; }
int32_t CurrentGraphicsFlags() { return S().flags; }
TGraphics* CurrentGraphics() { return S().current.get(); }

int32_t Flip(int32_t sync) {
  State& s = S();
  CallHooks(s.flipHookId, nullptr);
  TGraphicsDriver* driver = Driver();
  if (sync != -1) {
    driver->Flip(sync);
    return 0;
  }
  if (s.current.get() == s.opened.get() && s.softSync) {
    // Spreads 1000 ms over exactly softHertz frames: at 60 Hz the frames
    // take 16, 17, 17 ms. A late frame restarts the schedule from now
    // instead of bursting to catch up.
    s.nextTime += static_cast<uint32_t>(s.period);
    s.fraction += s.remainder;
    if (s.fraction >= s.softHertz) {
      s.fraction -= s.softHertz;
      s.nextTime += 1;
    }
    uint32_t now = vrMilliseconds();
    auto wait = static_cast<int32_t>(s.nextTime - now);
    if (wait > 0)
      vrDelay(wait);
    else
      s.nextTime = now;
    driver->Flip(0);
    return 0;
  }
  // A context made or attached directly waits for the vertical blank, and
  // so does a full-screen display opened with a refresh rate.
  driver->Flip(s.current.get() != s.opened.get() || s.vsync ? 1 : 0);
  return 0;
}

}  // namespace vrl
