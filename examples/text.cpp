// Text in the built-in font, and in a TrueType font when one is installed
// (DejaVu Sans, or the font file named on the command line).
#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "lith2d/ImageFont.h"
#include "lith2d/Lith2D.h"
#include "lith2d/freetype/FreeTypeFont.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([&] {
    using namespace vrl;
    freetype::Init();
    glgraphics::Init();
    gl2d::Init();
    OpenGraphics(640, 200, 0, 60, 0);
    const char* file = argc > 1 ? argv[1] : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    Ref<TImageFont> built_in = GetDrawFont();
    Ref<TImageFont> truetype = LoadImageFontSource(String::FromUtf8(file), 32, 0);
    while (TakeKeyHits(27) == 0 && TakeTerminateRequest() == 0) {
      Cls();
      SetDrawFont(built_in);
      DrawString(String::FromUtf8("The built-in font"), 10, 10);
      if (!truetype.IsNull()) {
        SetDrawFont(truetype);
        SetColor(255, 220, 120);
        DrawString(String::FromUtf8("A TrueType font, 32 pixels"), 10, 60);
        SetColor(255, 255, 255);
      }
      Flip(1);
    }
  });
  vrl::End();
}
