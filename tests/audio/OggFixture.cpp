#include "tests/audio/OggFixture.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdlib>

namespace vrl::testing_support {

namespace {

void Append(std::vector<uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

}  // namespace

std::vector<uint8_t> EncodeOgg(int channels, int rate, const std::vector<float>& interleaved, float quality) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) std::abort();
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1234);
  ogg_packet header, comment, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comment);
  ogg_stream_packetin(&os, &code);
  ogg_page page;
  while (ogg_stream_flush(&os, &page)) Append(out, page);

  const int frames = int(interleaved.size()) / channels;
  int done = 0;
  bool eos = false;
  while (!eos) {
    int n = std::min(1024, frames - done);
    if (n > 0) {
      float** buffer = vorbis_analysis_buffer(&vd, n);
      for (int i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c) buffer[c][i] = interleaved[std::size_t(done + i) * channels + c];
      vorbis_analysis_wrote(&vd, n);
      done += n;
    } else {
      vorbis_analysis_wrote(&vd, 0);
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page)) {
          Append(out, page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

std::vector<float> Sine(double hertz, int rate, int frames, double level) {
  std::vector<float> out(static_cast<std::size_t>(frames));
  for (int i = 0; i < frames; ++i) out[std::size_t(i)] = float(level * std::sin(2 * M_PI * hertz * i / rate));
  return out;
}

Bytes& FmtChunk(Bytes& b, int formatTag, int channels, int rate, int bits, int extra) {
  int align = channels * bits / 8;
  b.Tag("fmt ").U32(uint32_t(16 + extra)).U16(uint32_t(formatTag)).U16(uint32_t(channels));
  b.U32(uint32_t(rate)).U32(uint32_t(rate * align)).U16(uint32_t(align)).U16(uint32_t(bits));
  for (int i = 0; i < extra; ++i) b.data.push_back(0);
  return b;
}

}  // namespace vrl::testing_support
