// The system driver on SDL (platform/): pumps SDL's event queue through the
// translator, shows SDL message boxes, runs zenity for the requesters and
// hands URLs to the desktop. Works without a display: it holds only SDL's
// event queue, which needs none.
#pragma once

#include "system/SystemDriver.h"

namespace vrl {

class TSDLSystemDriver : public TSystemDriver {
  VRL_CLASS(TSDLSystemDriver, TSystemDriver)
 public:
  /// Acquires SDL's event queue (platform/Sdl.h) for the driver's lifetime.
  TSDLSystemDriver();
  ~TSDLSystemDriver() override;

  int32_t Poll() override;
  int32_t Wait() override;
  int32_t MoveMouse(int32_t x, int32_t y) override;
  int32_t SetMouseVisible(int32_t visible) override;
  int32_t Notify(String* text, int32_t serious) override;
  int32_t Confirm(String* text, int32_t serious) override;
  int32_t Proceed(String* text, int32_t serious) override;
  Ref<String> RequestFile(String* title, String* filter, int32_t save, String* path) override;
  Ref<String> RequestDir(String* title, String* path) override;
  int32_t OpenURL(String* url) override;

  /// False when SDL's event queue could not be started.
  bool Running() const { return _running; }

 private:
  bool _running = false;
};

}  // namespace vrl
