// vcat URL [FILE]: copies whatever the stream layer opens for URL (a file
// path, "incbin::name", "littleendian::", "bigendian::", the text protocols
// "latin1::", "utf8::", "utf16be::", "utf16le::", "tcp::host:port",
// "http::host/resource") to standard output, or to FILE. Bytes are copied
// as they come, except through the text protocols, whose characters are
// decoded and written as UTF-8. The framework's two
// built-in 8 x 16 fonts are embedded, so "incbin::vorlfont.bin" and
// "incbin::gldrawtextfont.bin" always open.
//
// Exit status: 0 when everything was copied; 1 with a message on standard
// error when URL does not open, FILE cannot be written, or the data fails on
// the way; 2 with a usage line for bad arguments.
#include <cstdio>

#include "RegisterVcatFiles.h"  // generated: the built-in fonts
#include "net/HttpStream.h"
#include "net/SocketStream.h"
#include "runtime/Exceptions.h"
#include "runtime/NativeText.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/BankStream.h"
#include "stream/CStream.h"
#include "stream/EndianStream.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "stream/StreamCloser.h"
#include "stream/TextStream.h"

namespace {

int Fail(const char* what, const char* name) {
  std::fprintf(stderr, "vcat: %s: %s\n", what, name);
  return 1;
}

int Run(int argc, char** argv) {
  using namespace vrl;
  if (argc < 2 || argc > 3 || argv[1][0] == 0) {
    std::fprintf(stderr, "usage: vcat URL [FILE]\n");
    return 2;
  }
  RegisterVcatFiles();
  stream::Init();
  ramstream::Init();
  bankstream::Init();
  endianstream::Init();
  textstream::Init();
  socketstream::Init();
  httpstream::Init();

  Ref<TStream> from = ReadStream(TextFromNative(argv[1]));
  if (from.IsNull()) return Fail("cannot open", argv[1]);
  StreamCloser closeFrom(from);
  Ref<TStream> to;
  if (argc == 3) {
    to = WriteStream(TextFromNative(argv[2]));
    if (to.IsNull()) return Fail("cannot write", argv[2]);
  } else {
    to = TCStream::CreateWithCStream(stdout, TCStream::MODE_WRITE);
  }
  StreamCloser closeTo(to);
  try {
    if (auto* text = CastRaw<TTextStream>(from)) {
      // A text protocol: its characters, written as UTF-8. (The raw bytes of
      // a text stream are its hexadecimal lines, which is not what one
      // asks "utf8::notes.txt" for.)
      Ref<String> characters = text->ReadFile();
      TTextStream::Create(to, TTextStream::UTF8)->WriteString(characters);
    } else {
      CopyStream(from, to, 65536);
    }
  } catch (const ThrownObject& thrown) {
    if (thrown.As<TStreamWriteException>())
      return Fail("write failed", argc == 3 ? argv[2] : "standard output");
    // A read exception, or what a protocol throws about its data.
    return Fail("read failed", argv[1]);
  }
  closeFrom.Close();
  if (!closeTo.CloseSave()) return Fail("write failed", argc == 3 ? argv[2] : "standard output");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 2;
  vrl::RunGuarded([&] { status = Run(argc, argv); });
  return status;
}
