// The RIvo wire format, apart from any host or connection.
//
// One ENet packet carries one message:
//   byte 0: the state in the high 4 bits, bits 8 to 11 of the object id in
//           the low 4 bits;
//   byte 1: bits 0 to 7 of the id;
//   bytes 2 onward: the packed slots (possibly none).
// Packed slots: for each slot sent, in slot order, one header byte
// (type << 5 | slot index) and the payload of its type: 1 a 32-bit integer
// (4 bytes, big-endian), 2 an IEEE half-precision float (2 bytes,
// big-endian), 3 a string (2-byte big-endian length, then one byte per
// character), 4 an 8-bit unsigned integer (1 byte), 5 a 16-bit unsigned
// integer (2 bytes, big-endian), 6 an IEEE single-precision float (its 4
// bytes big-endian). Packed slots never exceed kMaxPackedSize bytes.
//
// Everything a peer sends is hostile: the decoders check the whole message
// (every slot header, every length) against the bytes there are before
// anything of it is used, and never read past them. They throw the texts
// "Corrupt RIvo message" (a field that runs past the end, a header that
// names no state or no object), "Invalid RIvo data type" (slot type 0 or 7)
// and "RIvo message data too large" (more than kMaxPackedSize bytes of
// slots), as String objects.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/Limits.h"

namespace vrl::rivo {

/// Object and message states.
enum : int32_t {
  STATE_CREATED = 1,   // new, not yet sent
  STATE_MODIFIED = 2,  // slots changed since the last sync
  STATE_CLOSED = 3,    // closing; the close is sent at the next sync
  STATE_SYNCED = 4,    // nothing to send
  STATE_MESSAGE = 5,   // a one-off message object
  STATE_GONE = -1,     // removed at the next sync
};

/// Slot types; the same numbers travel in the slot headers.
enum : int32_t {
  SLOT_UNSET = 0,
  SLOT_INT = 1,     // 32-bit integer
  SLOT_HALF = 2,    // 16-bit float
  SLOT_STRING = 3,  // string, one byte per character
  SLOT_BYTE = 4,    // 8-bit unsigned integer
  SLOT_SHORT = 5,   // 16-bit unsigned integer
  SLOT_FLOAT = 6,   // 32-bit float
};

inline constexpr int32_t kSlotCount = 32;
/// Object ids run from 1 to kMaxId; 0 is no object.
inline constexpr int32_t kMaxId = 4095;
inline constexpr int32_t kIdSpace = kMaxId + 1;
inline constexpr int32_t kHeaderSize = limits::kRivoHeaderBytes;
inline constexpr int32_t kMaxPackedSize = limits::kRivoPackedBytes;

/// IEEE 754 binary16 conversions. FloatToHalf rounds to nearest, ties to
/// even; values beyond the half range become infinities, NaN stays NaN.
uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t half);

/// One slot as it travels.
struct WireSlot {
  int32_t index = 0;
  int32_t type = SLOT_UNSET;
  int32_t intValue = 0;
  float floatValue = 0;
  /// Type 3: the characters, one byte each; a view into the decoded bytes.
  std::span<const uint8_t> text;
};

/// Appends one slot's header and payload. A string keeps the low byte of
/// each unit; one longer than 65535 units throws "RIvo message data too
/// large". Type 0 appends nothing; another unknown type throws "Invalid RIvo
/// data type". The caller checks the total against kMaxPackedSize.
void AppendSlot(std::vector<uint8_t>& out, int32_t index, int32_t type, int32_t intValue, float floatValue,
                std::u16string_view text);

/// Decodes packed slots in full. Throws as described at the top; the result
/// views `data`, which must outlive it.
std::vector<WireSlot> UnpackSlotData(std::span<const uint8_t> data);

/// A decoded packet. `data` and the slots' texts view the packet's bytes.
struct WireMessage {
  int32_t state = 0;
  int32_t id = 0;
  std::span<const uint8_t> data;
  std::vector<WireSlot> slots;
};

/// Decodes and checks a whole packet: at least the two header bytes, a state
/// that travels (1, 2, 3 or 5), an id from 1 to kMaxId, and packed slots that
/// decode in full within kMaxPackedSize bytes.
WireMessage DecodeMessage(std::span<const uint8_t> packet);

/// Writes the two header bytes. The state must be one that travels and the
/// id within 1..kMaxId; anything else throws "RIvo error".
void EncodeHeader(uint8_t* out, int32_t state, int32_t id);

}  // namespace vrl::rivo
