// The snow card: a winter picture, falling and settling snow, and "Silent
// night" on the piano, until Escape is pressed.
#include "app/Card.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([] {
    vrl::card::InitModules();
    vrl::card::Start();
    while (vrl::TakeKeyHits(27) == 0) vrl::card::Frame();
    vrl::ShutdownGraphics();
  });
  vrl::End();
}
