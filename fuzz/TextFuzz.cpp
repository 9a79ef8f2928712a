// libFuzzer target: arbitrary bytes as text in each of the four encodings of
// the text streams (whole, line by line, character by character and as
// hexadecimal bytes) and through LoadText. Reading may stop with
// TStreamReadException (a character cut short by the end) or, for
// hexadecimal lines, "Malformed line terminator"; it must never read beyond
// the data, the lines must be the whole text cut at its line ends, writing
// the text in the same encoding must read back to itself, and LoadText must
// give what its byte-order mark (or Latin-1 without one) says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::ramstream::Init();
  vrl::textstream::Init();
  return 0;
}

namespace {

using namespace vrl;

bool IsReadError(const ThrownObject& e) { return e.As<TStreamReadException>() != nullptr; }

Ref<TTextStream> Over(std::vector<uint8_t>& bytes, int32_t encoding) {
  return TTextStream::Create(TRamStream::Create(bytes.data(), static_cast<int32_t>(bytes.size()), 1, 0),
                             encoding);
}

// The whole text, or false when the data ends inside a character.
bool ReadWhole(std::vector<uint8_t>& bytes, int32_t encoding, std::u16string& text) {
  try {
    text = Over(bytes, encoding)->ReadFile()->View();
    return true;
  } catch (const ThrownObject& e) {
    if (!IsReadError(e)) __builtin_trap();
    return false;
  }
}

// The lines ReadLine gives up to the end, or false as above. Each call takes
// at least one byte, so the loop ends.
bool ReadLines(std::vector<uint8_t>& bytes, int32_t encoding, std::vector<std::u16string>& lines) {
  Ref<TTextStream> stream = Over(bytes, encoding);
  try {
    for (size_t n = 0; !stream->Eof(); ++n) {
      if (n > bytes.size()) __builtin_trap();
      lines.emplace_back(stream->ReadLine()->View());
    }
    return true;
  } catch (const ThrownObject& e) {
    if (!IsReadError(e)) __builtin_trap();
    return false;
  }
}

// The text cut where ReadLine cuts it: at LF and 0, CR dropped, no empty
// line after a final line end.
std::vector<std::u16string> CutLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::u16string line;
  bool open = false;
  for (char16_t c : text) {
    open = true;
    if (c == 10 || c == 0) {
      lines.push_back(line);
      line.clear();
      open = false;
    } else if (c != 13) {
      line += c;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

void CheckEncoding(std::vector<uint8_t>& bytes, int32_t encoding) {
  std::u16string text;
  const bool whole = ReadWhole(bytes, encoding, text);
  std::vector<std::u16string> lines;
  const bool byLine = ReadLines(bytes, encoding, lines);
  if (whole != byLine) __builtin_trap();
  if (!whole) return;
  if (text.size() > bytes.size()) __builtin_trap();
  if (lines != CutLines(text)) __builtin_trap();
  if (encoding == TTextStream::LATIN1) {
    if (text.size() != bytes.size()) __builtin_trap();
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] != bytes[i]) __builtin_trap();
  } else if (encoding != TTextStream::UTF8) {
    if (text.size() * 2 != bytes.size()) __builtin_trap();
  }
  // Written again in the same encoding (at most three bytes a unit), the
  // text reads back to itself.
  std::vector<uint8_t> written(text.size() * 3 + 1);
  Ref<TRamStream> out = TRamStream::Create(written.data(), static_cast<int32_t>(written.size()), 0, 1);
  TTextStream::Create(out, encoding)->WriteString(String::FromUnits(text));
  written.resize(static_cast<size_t>(out->Pos()));
  std::u16string again;
  if (!ReadWhole(written, encoding, again) || again != text) __builtin_trap();
}

// Hexadecimal lines: as many bytes as the data has digits for, then the end
// of the data or a malformed line end.
void CheckHex(std::vector<uint8_t>& bytes) {
  Ref<TTextStream> stream = Over(bytes, TTextStream::LATIN1);
  uint8_t buffer[48];
  try {
    for (size_t n = 0; n <= bytes.size(); ++n) {
      if (stream->Read(buffer, sizeof buffer) != sizeof buffer) __builtin_trap();
    }
    __builtin_trap();  // more bytes than the data has digits for
  } catch (const ThrownObject& e) {
    if (!IsReadError(e) && std::string_view(e.what()) != "Malformed line terminator") __builtin_trap();
  }
}

// A count from the data: exactly that many characters, or the end first.
void CheckReadString(std::vector<uint8_t>& bytes, int32_t encoding) {
  if (bytes.empty()) return;
  const int32_t count = bytes[0] | (bytes.size() > 1 ? bytes[1] << 8 : 0);
  try {
    if (Over(bytes, encoding)->ReadString(count)->Length() != count) __builtin_trap();
  } catch (const ThrownObject& e) {
    if (!IsReadError(e)) __builtin_trap();
  }
}

void CheckLoadText(std::vector<uint8_t>& bytes) {
  int32_t encoding = 0;
  size_t mark = 0;
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    encoding = TTextStream::UTF16BE, mark = 2;
  } else if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    encoding = TTextStream::UTF16LE, mark = 2;
  } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    encoding = TTextStream::UTF8, mark = 3;
  }
  std::vector<uint8_t> rest(bytes.begin() + static_cast<std::ptrdiff_t>(mark), bytes.end());
  std::u16string expected;
  bool readable = true;
  if (encoding) {
    readable = ReadWhole(rest, encoding, expected);
  } else {
    expected.assign(bytes.begin(), bytes.end());
  }
  try {
    Ref<String> text = LoadText(TRamStream::Create(bytes.data(), static_cast<int32_t>(bytes.size()), 1, 0));
    if (!readable || text->View() != expected) __builtin_trap();
  } catch (const ThrownObject& e) {
    if (readable || !IsReadError(e)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 65536) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  {
    for (int32_t encoding = TTextStream::LATIN1; encoding <= TTextStream::UTF16LE; ++encoding) {
      CheckEncoding(bytes, encoding);
      CheckReadString(bytes, encoding);
    }
    CheckHex(bytes);
    CheckLoadText(bytes);
  }
  GCCollect();
  return 0;
}
