#include "gldriver/GLGraphicsDriver.h"

#include <SDL.h>

#include <string>

#include "RegisterGLTextFont.h"  // generated: registers "gldrawtextfont.bin"
#include "platform/Sdl.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "system/SystemDriver.h"

namespace vrl {

const ClassRecord& TGLGraphics::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGLGraphics>("TGLGraphics", [](auto& d) {
    d.template Field<&TGLGraphics::_context>("_context");
    d.template Method<&TGLGraphics::Driver>("Driver");
    d.template Method<&TGLGraphics::GetSettings>("GetSettings");
    d.template Method<&TGLGraphics::Close>("Close");
  });
  return record;
}

const ClassRecord& TGLGraphicsDriver::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGLGraphicsDriver>("TGLGraphicsDriver", [](auto& d) {
    d.template Method<&TGLGraphicsDriver::GraphicsModes>("GraphicsModes", "()[]:TGraphicsMode");
    d.template Method<&TGLGraphicsDriver::AttachGraphics>("AttachGraphics");
    d.template Method<&TGLGraphicsDriver::CreateGraphics>("CreateGraphics");
    d.template Method<&TGLGraphicsDriver::SetGraphics>("SetGraphics");
    d.template Method<&TGLGraphicsDriver::Flip>("Flip");
  });
  return record;
}

namespace {

struct State {
  GLWindowRecord* records = nullptr;  // open records, newest first
  GLWindowRecord* current = nullptr;
  GLWindowRecord* shared = nullptr;
  GLWindowRecord* displayOwner = nullptr;  // the full-screen record holding the display mode
  bool sharedTried = false;
  bool videoAcquired = false;
  bool displayModeFailed = false;  // a focus gain could not take the mode back
  void (*closingHook)(GLWindowRecord*) = nullptr;
};

State& S() {
  static auto* state = new State;
  return *state;
}

int FocusWatch(void* data, SDL_Event* event);

// The video subsystem is held from the first window to the end of the run;
// without a display it cannot be had and no window can be made. The screen
// saver is refused only while a program window is open (SDL refuses it from
// its start by default).
bool EnsureVideo() {
  if (S().videoAcquired) return true;
  if (!platform::AcquireSdl(platform::kSdlVideo)) return false;
  S().videoAcquired = true;
  if (!S().records) SDL_EnableScreenSaver();
  SDL_AddEventWatch(&FocusWatch, nullptr);
  return true;
}

// Gives the current record its context back after another one was made
// current for a moment.
void RestoreCurrent() {
  GLWindowRecord* current = S().current;
  if (current)
    SDL_GL_MakeCurrent(current->window, static_cast<SDL_GLContext>(current->context));
  else
    SDL_GL_MakeCurrent(nullptr, nullptr);
}

// The swap interval belongs to a context: the record's is made current for
// the call.
void SetSwapIntervalOf(GLWindowRecord* record, int32_t interval) {
  if (!record->context) return;
  bool other = S().current != record;
  if (other) SDL_GL_MakeCurrent(record->window, static_cast<SDL_GLContext>(record->context));
  SetSwapInterval(interval);
  if (other) RestoreCurrent();
}

// The pixel format asked for, from the graphics flags.
void RequestPixelFormat(int32_t flags) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (flags & GRAPHICS_BACKBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, (flags & GRAPHICS_ALPHABUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, (flags & GRAPHICS_DEPTHBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, (flags & GRAPHICS_STENCILBUFFER) ? 1 : 0);
  int accum = (flags & GRAPHICS_ACCUMBUFFER) ? 1 : 0;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
}

// A new context shares its textures with the hidden shared context, which
// must be current while the context is made.
SDL_GLContext CreateContext(SDL_Window* window) {
  GLWindowRecord* shared = S().shared;
  if (shared) {
    SDL_GL_MakeCurrent(shared->window, shared->context);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
  }
  SDL_GLContext context = SDL_GL_CreateContext(window);
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  RestoreCurrent();
  return context;
}

void Link(GLWindowRecord* record) {
  if (!S().records) SDL_DisableScreenSaver();
  record->next = S().records;
  S().records = record;
}

void Unlink(GLWindowRecord* record) {
  for (GLWindowRecord** p = &S().records; *p; p = &(*p)->next) {
    if (*p == record) {
      *p = record->next;
      if (!S().records) SDL_EnableScreenSaver();
      return;
    }
  }
}

GLWindowRecord* FindRecord(uint32_t windowId) {
  for (GLWindowRecord* r = S().records; r; r = r->next) {
    if (r->window && SDL_GetWindowID(r->window) == windowId) return r;
  }
  return nullptr;
}

// The depth of a display mode as GraphicsModes reports it: four bytes a
// pixel (such as 24-bit RGB888) count as 32 bits.
int32_t ModeDepth(uint32_t format) {
  return SDL_BYTESPERPIXEL(format) == 4 ? 32 : static_cast<int32_t>(SDL_BITSPERPIXEL(format));
}

// A display mode of the record's size and depth, at its refresh rate when
// `withRate` is set.
bool FindDisplayMode(GLWindowRecord* record, bool withRate, SDL_DisplayMode& found) {
  int display = SDL_GetWindowDisplayIndex(record->window);
  if (display < 0) display = 0;
  int count = SDL_GetNumDisplayModes(display);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(display, i, &mode) != 0) break;
    if (mode.w == record->width && mode.h == record->height && ModeDepth(mode.format) == record->depth &&
        (!withRate || mode.refresh_rate == record->hertz)) {
      found = mode;
      return true;
    }
  }
  return false;
}

void ReleaseDisplayMode(GLWindowRecord* record, bool minimise);

// Switches the display to the record's size and depth, at its refresh rate
// when it asks for one and the display has it, else at any rate. The swap
// interval is 1 only when the asked rate was had. False when the display
// has no such mode or refuses it.
bool TakeDisplayMode(GLWindowRecord* record) {
  SDL_DisplayMode mode{};
  bool withRate = record->hertz != 0 && FindDisplayMode(record, true, mode);
  if (!withRate && !FindDisplayMode(record, false, mode)) return false;
  // One record holds the display at a time.
  GLWindowRecord* owner = S().displayOwner;
  if (owner && owner != record) ReleaseDisplayMode(owner, false);
  if (SDL_SetWindowDisplayMode(record->window, &mode) != 0 ||
      SDL_SetWindowFullscreen(record->window, SDL_WINDOW_FULLSCREEN) != 0) {
    return false;
  }
  S().displayOwner = record;
  SetSwapIntervalOf(record, withRate ? 1 : 0);
  return true;
}

// Restores the desktop mode if the record holds the display.
void ReleaseDisplayMode(GLWindowRecord* record, bool minimise) {
  if (S().displayOwner != record) return;
  S().displayOwner = nullptr;
  SDL_SetWindowFullscreen(record->window, 0);
  if (minimise) SDL_MinimizeWindow(record->window);
  SetSwapIntervalOf(record, 0);
}

// A full-screen window gives the display back when it loses the keyboard
// focus (Alt+Tab) and takes it again when it regains it. SDL reports focus
// changes while it pumps the window system's events on the main thread;
// other threads push only their own event types, which are let through
// untouched. Nothing may be thrown into SDL: a mode that cannot be taken
// back is reported by the next Flip.
void OnFocusChange(uint32_t windowId, bool gained) {
  GLWindowRecord* record = FindRecord(windowId);
  if (!record || record->kind != 3) return;
  if (!gained) {
    ReleaseDisplayMode(record, true);
  } else if (S().displayOwner != record) {
    if (SDL_GetWindowFlags(record->window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(record->window);
    if (!TakeDisplayMode(record)) S().displayModeFailed = true;
  }
}

int FocusWatch(void*, SDL_Event* event) {
  if (event->type != SDL_WINDOWEVENT) return 0;
  uint8_t kind = event->window.event;
  if (kind != SDL_WINDOWEVENT_FOCUS_GAINED && kind != SDL_WINDOWEVENT_FOCUS_LOST) return 0;
  try {
    OnFocusChange(event->window.windowID, kind == SDL_WINDOWEVENT_FOCUS_GAINED);
  } catch (...) {
    S().displayModeFailed = true;
  }
  return 0;
}

void CloseRecord(GLWindowRecord* record) {
  if (S().closingHook && record->context && record->kind != 0) {
    bool other = S().current != record;
    if (other) SDL_GL_MakeCurrent(record->window, static_cast<SDL_GLContext>(record->context));
    S().closingHook(record);
    if (other) RestoreCurrent();
  }
  Unlink(record);
  if (record->window && record->kind != 0) SetWindowEventSource(SDL_GetWindowID(record->window), nullptr);
  ReleaseDisplayMode(record, false);
  if (S().current == record) {
    SDL_GL_MakeCurrent(nullptr, nullptr);
    S().current = nullptr;
  }
  if (record->context) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(record->context));
  if (record->window && (record->kind == 2 || record->kind == 3)) SDL_DestroyWindow(record->window);
  delete record;
}

}  // namespace

Ref<TGLGraphics> TGLGraphics::Wrap(GLWindowRecord* record) {
  Ref<TGLGraphics> graphics = New<TGLGraphics>();
  graphics->_context = record;
  SetWindowEventSource(SDL_GetWindowID(record->window), graphics);
  return graphics;
}

void SetSwapInterval(int32_t interval) {
  SDL_GL_SetSwapInterval(interval);
  SDL_GLContext context = SDL_GL_GetCurrentContext();
  for (GLWindowRecord* r = S().records; r && context; r = r->next) {
    if (r->context == context) r->swapInterval = interval;
  }
}

GLWindowRecord* CurrentGLRecord() { return S().current; }

void SetGLContextClosingHook(void (*hook)(GLWindowRecord* record)) { S().closingHook = hook; }
GLWindowRecord* DisplayModeOwner() { return S().displayOwner; }

bool CreateSharedContext() {
  State& s = S();
  if (s.shared) return true;
  if (s.sharedTried || !EnsureVideo()) return false;
  s.sharedTried = true;
  RequestPixelFormat(0);
  SDL_Window* window =
      SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
  if (!window) return false;
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context) {
    SDL_DestroyWindow(window);
    return false;
  }
  auto* record = new GLWindowRecord;
  record->window = window;
  record->context = context;
  s.shared = record;
  RestoreCurrent();
  return true;
}

// ---------------------------------------------------------------------------
// TGLGraphics

TGLGraphics::~TGLGraphics() {
  // A context dropped without Close still gives its window back.
  if (_context) CloseRecord(_context);
}

Ref<TGraphicsDriver> TGLGraphics::Driver() { return Ref<TGraphicsDriver>(OpenGLGraphicsDriver()); }

void TGLGraphics::GetSettings(int32_t& width, int32_t& height, int32_t& depth, int32_t& hertz,
                              int32_t& flags) {
  if (!_context) {
    width = height = depth = hertz = flags = 0;
    return;
  }
  if (_context->kind == 1) {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(_context->window, &w, &h);
    _context->width = w;
    _context->height = h;
  }
  width = _context->width;
  height = _context->height;
  depth = _context->depth;
  hertz = _context->hertz;
  flags = _context->flags;
}

void TGLGraphics::Close() {
  if (!_context) return;
  GLWindowRecord* record = _context;
  _context = nullptr;
  CloseRecord(record);
}

// ---------------------------------------------------------------------------
// TGLGraphicsDriver

Ref<Array> TGLGraphicsDriver::GraphicsModes() {
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

Ref<TGraphics> TGLGraphicsDriver::AttachGraphics(int32_t widget, int32_t flags) {
  if (!EnsureVideo() || !CreateSharedContext()) return Ref<TGraphics>();
  SDL_Window* window = SDL_GetWindowFromID(static_cast<Uint32>(widget));
  if (!window || !(SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL)) return Ref<TGraphics>();
  RequestPixelFormat(flags);
  SDL_GLContext context = CreateContext(window);
  if (!context) return Ref<TGraphics>();
  auto* record = new GLWindowRecord;
  record->kind = 1;
  record->flags = flags;
  record->window = window;
  record->context = context;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  record->width = w;
  record->height = h;
  Link(record);
  return TGLGraphics::Wrap(record);
}

Ref<TGraphics> TGLGraphicsDriver::CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                                 int32_t flags) {
  if (width <= 0 || height <= 0 || !EnsureVideo() || !CreateSharedContext()) return Ref<TGraphics>();
  RequestPixelFormat(flags);
  Uint32 windowFlags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  if (depth != 0) {
    windowFlags |= SDL_WINDOW_BORDERLESS;
    x = y = 0;
  }
  std::string title = ApplicationTitle()->ToUtf8String();
  SDL_Window* window = SDL_CreateWindow(title.c_str(), x, y, width, height, windowFlags);
  if (!window) return Ref<TGraphics>();
  SDL_GLContext context = CreateContext(window);
  if (!context) {
    SDL_DestroyWindow(window);
    return Ref<TGraphics>();
  }
  auto* record = new GLWindowRecord;
  record->kind = depth != 0 ? 3 : 2;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->window = window;
  record->context = context;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  record->width = w ? w : width;
  record->height = h ? h : height;
  Link(record);
  Ref<TGLGraphics> graphics = TGLGraphics::Wrap(record);
  SDL_ShowWindow(window);
  if (record->kind == 3) {
    record->width = width;
    record->height = height;
    if (!TakeDisplayMode(record)) {
      graphics->Close();
      vrRuntimeError("GLGraphicsDriver failed to set display mode");
    }
  }
  SDL_RaiseWindow(window);
  return graphics;
}

int32_t TGLGraphicsDriver::SetGraphics(TGraphics* graphics) {
  GLWindowRecord* record = nullptr;
  if (auto* gl = CastRaw<TGLGraphics>(graphics)) record = gl->_context;
  if (record == S().current) return 0;
  if (record)
    SDL_GL_MakeCurrent(record->window, static_cast<SDL_GLContext>(record->context));
  else
    SDL_GL_MakeCurrent(nullptr, nullptr);
  S().current = record;
  return 0;
}

int32_t TGLGraphicsDriver::Flip(int32_t sync) {
  if (S().displayModeFailed) {
    S().displayModeFailed = false;
    vrRuntimeError("GLGraphicsDriver failed to set display mode");
  }
  GLWindowRecord* record = S().current;
  if (!record) return 0;
  SetSwapInterval(sync ? 1 : 0);
  SDL_GL_SwapWindow(record->window);
  return 0;
}

TGLGraphicsDriver* OpenGLGraphicsDriver() {
  static auto* driver = new Ref<TGLGraphicsDriver>(New<TGLGraphicsDriver>());
  return driver->get();
}

Ref<TGraphics> OpenGLGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
  SelectGraphicsDriver(OpenGLGraphicsDriver(), GRAPHICS_BACKBUFFER);
  return OpenGraphics(width, height, depth, hertz, flags);
}

void glgraphics::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  graphics::Init();
  vrRegisterClass(TGLGraphics::StaticClass());
  vrRegisterClass(TGLGraphicsDriver::StaticClass());
  RegisterGLTextFont();
  SelectGraphicsDriver(OpenGLGraphicsDriver(), GRAPHICS_BACKBUFFER);
}

}  // namespace vrl
