// The limits every parser of outside data applies, in one place, each with
// its reason. A file, a packet or a server says how much follows; these are
// the most the framework believes before it allocates for it or keeps
// reading. Something above a limit is refused the way its parser documents
// (a Null picture or sample, a stream exception, a refused header, a decoder
// error), never half-taken.
//
// The lowest layer, so that every module may include it; it has no code and
// includes nothing of the framework.
#pragma once

#include <cstdint>

namespace vrl::limits {

// ---------------------------------------------------------------------------
// Pictures (pixmap/loaders/PictureLimits.h applies them)

/// The longest side of any picture: above every texture size the graphics
/// drivers take, and it keeps a row's bytes far inside 32 bits.
inline constexpr int64_t kPictureSide = 16384;
/// The most pixels of any picture (64 Mi, 256 MiB at four bytes a pixel),
/// whatever its sides: what one loaded picture may cost.
inline constexpr int64_t kPicturePixels = int64_t(1) << 26;
/// The longest side of a TGA picture: the format's 16-bit sides allow
/// 65535, far beyond any TGA a program of ours writes or reads.
inline constexpr int32_t kTgaSide = 4096;
/// The largest BMP info header (the known ones have 12 to 124 bytes): the
/// loader skips what it does not read of it.
inline constexpr int32_t kBmpInfoHeaderBytes = 4096;
/// The most scans of a progressive JPEG: real files have about ten; each scan
/// makes libjpeg walk the whole picture again.
inline constexpr int32_t kJpegScans = 500;
/// The largest PNG chunk besides the picture data that the PNG loader
/// takes into memory (text, colour profiles, unknown chunks), also once
/// decompressed: libpng otherwise allocates whatever a chunk's 31-bit length
/// claims before it reads a byte of it.
inline constexpr int32_t kPngChunkBytes = 8 << 20;
/// Decompression ratios: the most a stored byte can stand for, so that a
/// picture claims no more memory than its file's bytes can fill.
/// Uncompressed rows: a byte is a byte.
inline constexpr int64_t kStoredRatio = 1;
/// Run-length packets: a BMP packet of 2 bytes gives at most 255 pixels, a
/// TGA packet of 1 + n bytes at most 128 pixels of n bytes.
inline constexpr int64_t kRunLengthRatio = 128;
/// Deflate (PNG): a 258-byte match costs at least 2 bits, so no stream
/// inflates by more than about 1032 to 1.
inline constexpr int64_t kDeflateRatio = 1032;
/// JPEG, counted in pixels: every 8 x 8 block that a scan codes costs at
/// least one bit, so a byte holds at most 512 pixels.
inline constexpr int64_t kJpegPixelsPerByte = 512;

// ---------------------------------------------------------------------------
// Samples

/// The most bytes of sample data (and of a WAV chunk the loader reads or
/// skips): a sample's memory is addressed with 32-bit signed lengths.
inline constexpr int64_t kSampleBytes = INT32_MAX;
/// The most channels of a sample: the sample formats are mono and stereo.
inline constexpr int32_t kSampleChannels = 2;

// ---------------------------------------------------------------------------
// Text and whole streams

/// The most UTF-16 units of a text read whole or of one line (LoadText, the
/// text streams' ReadFile and ReadLine): a string's length is a 32-bit
/// signed count.
inline constexpr int64_t kTextUnits = INT32_MAX;
/// The most bytes of a stream read whole (ReadAllBytes, LoadByteArray): an
/// array's length is a 32-bit signed count.
inline constexpr int64_t kStreamBytes = INT32_MAX;

// ---------------------------------------------------------------------------
// Fonts

/// The largest font file read through the stream layer (it is held in
/// memory whole for FreeType): above the largest font collections (CJK
/// faces reach some 30 MiB).
inline constexpr int32_t kFontFileBytes = 64 << 20;
/// The longest side of one rendered glyph: a glyph of a 2000-pixel font
/// still fits, while a hostile outline cannot make FreeType render tens of
/// megabytes for one character. A larger glyph is drawn as nothing; its size
/// is known from the outline before it is rendered.
inline constexpr int32_t kGlyphSide = 4096;
/// The most pixels of one rendered glyph (4 MiB of coverage), for the same
/// reason.
inline constexpr int64_t kGlyphPixels = int64_t(1) << 22;

// ---------------------------------------------------------------------------
// HTTP

/// The longest line of an HTTP response header: servers send lines of a few
/// hundred bytes and refuse requests with lines above 8 KiB themselves.
inline constexpr int32_t kHttpLine = 8192;
/// The most bytes of a whole response header, the status line included.
inline constexpr int32_t kHttpHeaderBytes = 65536;
/// How long the "http" protocol waits for the whole header by default
/// (milliseconds; SetHttpHeaderTimeout changes it), so a server that sends
/// nothing, or a byte at a time, cannot hold a program.
inline constexpr int32_t kHttpHeaderTimeoutMs = 15000;
/// How long a socket connection may take by default (milliseconds;
/// SetSocketConnectTimeout changes it).
inline constexpr int32_t kSocketConnectTimeoutMs = 10000;

// ---------------------------------------------------------------------------
// RIvo

/// The most bytes of packed slots in one RIvo message: 32 slots of the
/// largest kind fit many times over, and a message stays one small packet.
inline constexpr int32_t kRivoPackedBytes = 65520;
/// The header of a RIvo message: state and object id.
inline constexpr int32_t kRivoHeaderBytes = 2;
/// The largest RIvo packet, header and slots, and so the largest packet ENet
/// accepts from a peer (its maximumPacketSize): ENet refuses bigger ones
/// before it allocates for them.
inline constexpr int32_t kRivoPacketBytes = kRivoHeaderBytes + kRivoPackedBytes;
/// The longest string slot: its length travels in 2 bytes.
inline constexpr int32_t kRivoStringBytes = 0xFFFF;

// ---------------------------------------------------------------------------
// Lua

/// The largest Lua source compiled: Lua's parser needs memory and time in
/// proportion to it, and a script of ours is a few KiB.
inline constexpr int64_t kLuaSourceBytes = int64_t(16) << 20;

}  // namespace vrl::limits
