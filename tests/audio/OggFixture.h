// Ogg Vorbis fixtures encoded in the test with libvorbisenc, and WAV files
// written byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrl::testing_support {

// Encodes `frames` frames of `channels` interleaved float samples (-1..1) at
// a VBR quality from -0.1 to 1 (which picks the block sizes too).
std::vector<uint8_t> EncodeOgg(int channels, int rate, const std::vector<float>& interleaved,
                               float quality = 0.5f);

// A sine of `hertz` at `rate` with amplitude `level`, `frames` long.
std::vector<float> Sine(double hertz, int rate, int frames, double level);

// Little-endian byte writer for hand-made files.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& Tag(const char* tag) {
    for (int i = 0; i < 4; ++i) data.push_back(uint8_t(tag[i]));
    return *this;
  }
  Bytes& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(uint8_t(v >> (8 * i)));
    return *this;
  }
  Bytes& U16(uint32_t v) {
    data.push_back(uint8_t(v));
    data.push_back(uint8_t(v >> 8));
    return *this;
  }
  Bytes& Raw(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) data.push_back(b);
    return *this;
  }
};

// A fmt chunk body of 16 bytes (plus `extra` zero bytes, counted in its size).
Bytes& FmtChunk(Bytes& b, int formatTag, int channels, int rate, int bits, int extra = 0);

}  // namespace vrl::testing_support
