#include "runtime/NativeText.h"

#include <cstdint>

namespace vrl {

namespace {

void Put3(std::string& out, unsigned u) {
  out += char(0xE0 | u >> 12);
  out += char(0x80 | ((u >> 6) & 0x3F));
  out += char(0x80 | (u & 0x3F));
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::optional<std::string> NativeText(String* text) {
  std::string out;
  if (!text) return out;
  const char16_t* u = text->Units();
  int32_t n = text->Length();
  out.reserve(std::size_t(n) + 8);
  for (int32_t i = 0; i < n; ++i) {
    unsigned c = u[i];
    if (c == 0) return std::nullopt;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000) {
      unsigned cp = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00u);
      ++i;
      out += char(0xF0 | cp >> 18);
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out += char(c - 0xDC00);  // an escaped byte of a name that was not UTF-8
    } else {
      Put3(out, c);
    }
  }
  return out;
}

Ref<String> TextFromNative(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size());
  auto b = reinterpret_cast<const uint8_t*>(bytes.data());
  std::size_t n = bytes.size(), i = 0;
  while (i < n) {
    uint8_t lead = b[i];
    if (lead < 0x80) {
      units += char16_t(lead);
      ++i;
      continue;
    }
    // Only well-formed, shortest sequences decode; everything else is escaped
    // byte by byte, so that NativeText gives back exactly these bytes.
    std::size_t len = lead >= 0xC2 && lead <= 0xDF   ? 2
                      : lead >= 0xE0 && lead <= 0xEF ? 3
                      : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                     : 0;
    uint32_t cp = 0;
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) ok = IsContinuation(b[i + k]);
    if (ok) {
      if (len == 2) cp = (lead & 0x1Fu) << 6 | (b[i + 1] & 0x3Fu);
      if (len == 3) cp = (lead & 0x0Fu) << 12 | (b[i + 1] & 0x3Fu) << 6 | (b[i + 2] & 0x3Fu);
      if (len == 4)
        cp = (lead & 0x07u) << 18 | (b[i + 1] & 0x3Fu) << 12 | (b[i + 2] & 0x3Fu) << 6 | (b[i + 3] & 0x3Fu);
      // Overlong forms, values above U+10FFFF and encoded surrogates would
      // not come back byte for byte.
      if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
      if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ok = false;
    }
    if (!ok) {
      units += char16_t(0xDC00 + lead);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units += char16_t(0xD800 + (cp >> 10));
      units += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      units += char16_t(cp);
    }
    i += len;
  }
  return String::FromUnits(units);
}

}  // namespace vrl
