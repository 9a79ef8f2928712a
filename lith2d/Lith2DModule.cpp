// The 2D drawing module's initialisation: its classes, those of the images
// and fonts, and the built-in font's bitmap "vorlfont.bin".
#include "lith2d/Collision.h"
#include "lith2d/Font.h"
#include "lith2d/Image.h"
#include "lith2d/ImageFont.h"
#include "lith2d/Lith2D.h"
#include "lith2d/RecordingDriver.h"
#include "pixmap/Pixmap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"

#include "RegisterImageFontData.h"  // generated: registers "vorlfont.bin"

namespace vrl {

void lith2d::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  pixmap::Init();
  graphics::Init();
  vrRegisterClass(TLith2DGraphics::StaticClass());
  vrRegisterClass(TLith2DDriver::StaticClass());
  vrRegisterClass(TImageFrame::StaticClass());
  vrRegisterClass(TImage::StaticClass());
  vrRegisterClass(TGlyph::StaticClass());
  vrRegisterClass(TFont::StaticClass());
  vrRegisterClass(TFontLoader::StaticClass());
  vrRegisterClass(TImageGlyph::StaticClass());
  vrRegisterClass(TImageFont::StaticClass());
  vrRegisterClass(TQuad::StaticClass());
  vrRegisterClass(TRecordingGraphics::StaticClass());
  vrRegisterClass(TRecordingLith2DDriver::StaticClass());
  vrRegisterClass(TRecordingImageFrame::StaticClass());
  RegisterImageFontData();
}

}  // namespace vrl
