// Streams: a text file written and read back line by line, then a file
// embedded in the program read through an "incbin::" URL. Every loader in the
// framework takes such URLs, so pictures and sounds load the same way.
//
// A program starts in its own folder (the framework enters it), so relative
// paths name files beside the program; this one writes to the temporary
// folder instead.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "runtime/Exceptions.h"
#include "runtime/Startup.h"
#include "runtime/String.h"
#include "stream/EmbeddedFiles.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([] {
    using namespace vrl;
    ramstream::Init();  // the "incbin" protocol; it starts the stream module first
    std::string file = (std::filesystem::temp_directory_path() / "vrl-streams-example.txt").string();
    Ref<String> path = String::FromUtf8(file);
    Ref<TStream> out = WriteStream(path);
    if (out.IsNull()) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
      std::exit(1);
    }
    WriteLine(out, String::FromUtf8("first line"));
    WriteLine(out, String::FromUtf8("second line"));
    CloseStream(out);

    Ref<TStream> in = ReadStream(path);
    while (StreamEof(in) == 0) std::printf("file: %s\n", ReadLine(in)->ToUtf8String().c_str());
    CloseStream(in);
    std::remove(file.c_str());

    static const char kGreeting[] = "Hello from inside the program";
    AddEmbeddedFile(String::FromUtf8("greeting.txt"), kGreeting, sizeof kGreeting - 1);
    std::printf("incbin: %s\n", LoadString(String::FromUtf8("incbin::greeting.txt"))->ToUtf8String().c_str());
  });
  vrl::End();
}
