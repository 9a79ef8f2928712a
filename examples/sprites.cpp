// Sprites turning, growing and fading: one image drawn twelve times a frame
// with its own rotation, scale and alpha, on a dark blue background.
#include <cmath>

#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([] {
    using namespace vrl;
    pixmaploaders::Init();
    glgraphics::Init();
    gl2d::Init();
    OpenGraphics(640, 480, 0, 60, 0);
    SetAutoCentreHandle(1);  // images turn and grow about their centres
    Ref<TImage> star = LoadImageSource(String::FromUtf8(EXAMPLE_ASSETS "/star.png"));
    SetClsColor(10, 20, 60);
    SetBlend(BLEND_ALPHA);
    for (int frame = 0; TakeKeyHits(27) == 0 && TakeTerminateRequest() == 0; ++frame) {
      Cls();
      for (int i = 0; i < 12; ++i) {
        float turn = static_cast<float>(frame + i * 30);
        float scale = 0.5f + 0.4f * std::sin(turn * 0.02f);
        SetDrawTransform(turn, scale, scale);
        SetAlpha(static_cast<float>(i + 1) / 12.0f);
        DrawImageAt(star, 320 + 180 * std::cos(static_cast<float>(i) * 0.5236f),
                    240 + 180 * std::sin(static_cast<float>(i) * 0.5236f));
      }
      Flip(1);
    }
  });
  vrl::End();
}
