// A window with a picture in it, until Escape is pressed or the window is
// closed. The picture is the file named on the command line, or the
// examples' own.
#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "lith2d/Lith2D.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([&] {
    vrl::pixmaploaders::Init();
    vrl::glgraphics::Init();
    vrl::gl2d::Init();
    vrl::OpenGraphics(640, 480, 0, 60, 0);
    vrl::Ref<vrl::TPixmap> picture =
        vrl::LoadPixmap(vrl::String::FromUtf8(argc > 1 ? argv[1] : EXAMPLE_ASSETS "/winter.jpg"));
    while (vrl::TakeKeyHits(27) == 0 && vrl::TakeTerminateRequest() == 0) {
      vrl::Cls();
      if (!picture.IsNull()) vrl::DrawPixmap(picture, 160, 120);
      vrl::Flip(1);
    }
  });
  vrl::End();
}
