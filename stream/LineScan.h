// Helpers of the line readers' bulk path (TStream.ReadLine and
// TTextStream.ReadLine over a stream's own buffer).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/String.h"

namespace vrl::linescan {

/// True when no byte is 0 or 13 (which a line reader treats specially) and,
/// with `asciiOnly`, none is 128 or more (which UTF-8 decodes): such bytes
/// read as one unit each.
inline bool PlainBytes(const uint8_t* bytes, std::size_t count, bool asciiOnly) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), cr = _mm_set1_epi8(13);
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    int special = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, cr)));
    if (asciiOnly) special |= _mm_movemask_epi8(v);
    if (special) return false;
  }
#endif
  for (; i < count; ++i) {
    const unsigned b = bytes[i];
    if (b == 0 || b == 13 || (asciiOnly && b >= 128)) return false;
  }
  return true;
}

/// The string of `count` bytes, one unit each, built in one step: short
/// lines are widened on the stack and copied once into the string.
inline Ref<String> PlainString(const uint8_t* bytes, std::size_t count) {
  constexpr std::size_t kStack = 512;
  if (count > kStack) return String::FromByteBuffer(bytes, static_cast<int32_t>(count));
  char16_t units[kStack];
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < count; ++i) units[i] = bytes[i];
  return String::FromUnitBuffer(units, static_cast<int32_t>(count));
}

/// The length of a line whose line feed stands at `upto`, without the CR of
/// a CR LF ending.
inline std::size_t WithoutReturn(const uint8_t* bytes, std::size_t upto) {
  return upto > 0 && bytes[upto - 1] == 13 ? upto - 1 : upto;
}

}  // namespace vrl::linescan
