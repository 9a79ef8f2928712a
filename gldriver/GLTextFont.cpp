// GLTextAt: text in the built-in 8 x 16 font for programs that draw with
// OpenGL directly.
#include <GL/gl.h>

#include "gldriver/GLLith2DDriver.h"
#include "runtime/Exceptions.h"
#include "stream/EmbeddedFiles.h"

namespace vrl {

namespace {
// The font texture: 128 character cells of 8 x 16 in a 1024 x 16 texture
// (characters 32 to 127 in the first 96), made on first use and kept.
GLuint FontTexture() {
  static GLuint texture = 0;
  if (texture) return texture;
  const uint8_t* bits = EmbeddedFilePointer(u"gldrawtextfont.bin"_vs);
  bool complete = bits && EmbeddedFileLength(u"gldrawtextfont.bin"_vs) >= 1536;
  Ref<TPixmap> sheet = NewPixmap(1024, 16, PIXFMT_RGBA32, 4);
  sheet->ClearPixels(0);
  for (int32_t i = 0; i < 16 && complete; ++i) {
    auto* row = reinterpret_cast<uint32_t*>(sheet->PixelPtr(0, i));
    for (int32_t j = 0; j < 96; ++j) {
      uint8_t byte = bits[i * 96 + j];
      for (int32_t k = 0; k < 8; ++k) row[8 * j + k] = (byte >> k) & 1 ? 0xFFFFFFFFu : 0u;
    }
  }
  sheet->MarkChanged();  // filled through PixelPtr
  texture = static_cast<GLuint>(TextureFromPixmap(sheet, 1));
  return texture;
}
}  // namespace

void GLTextAt(String* text, int32_t x, int32_t y) {
  if (!text) return;
  GLuint texture = FontTexture();
  BeginRaw2D();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glBegin(GL_QUADS);
  for (int32_t i = 0; i < text->Length(); ++i, x += 8) {
    int32_t c = (*text)[i];
    if (c < 32 || c > 127) continue;
    float u = static_cast<float>(c - 32) * 0.0078125f;
    glTexCoord2f(u, 0);
    glVertex2i(x, y);
    glTexCoord2f(u + 0.0078125f, 0);
    glVertex2i(x + 8, y);
    glTexCoord2f(u + 0.0078125f, 1);
    glVertex2i(x + 8, y + 16);
    glTexCoord2f(u, 1);
    glVertex2i(x, y + 16);
  }
  glEnd();
  EndRaw2D();
}

}  // namespace vrl
