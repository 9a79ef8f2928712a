// The snow card: a winter picture, falling and settling snow, and "Silent
// night" on the piano, until Escape is pressed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Card.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "platform/Sdl.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([] {
    vrl::card::InitModules();
    if (!vrl::card::Start()) {
      std::string reason = vrl::platform::SdlVideoError();
      std::fprintf(stderr, "snowcard: the display could not be opened: %s\n",
                   reason.empty() ? "unknown reason" : reason.c_str());
      std::exit(1);
    }
    while (vrl::TakeKeyHits(27) == 0) vrl::card::Frame();
    vrl::ShutdownGraphics();
  });
  vrl::End();
}
