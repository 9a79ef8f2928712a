#include "net/rivo/RIvoWire.h"

#include <bit>
#include <cmath>

#include "runtime/Exceptions.h"
#include "runtime/Limits.h"

namespace vrl::rivo {

namespace {

[[noreturn]] void Corrupt() { vrThrowText("Corrupt RIvo message"); }

bool TravellingState(int32_t state) {
  return state == STATE_CREATED || state == STATE_MODIFIED || state == STATE_CLOSED || state == STATE_MESSAGE;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int32_t bytes) {
  for (int32_t shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

uint32_t GetBigEndian(const uint8_t* p, int32_t bytes) {
  uint32_t value = 0;
  for (int32_t i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// Rounds `value >> shift` to nearest, ties to even.
uint32_t ShiftRounded(uint32_t value, int32_t shift) {
  const uint32_t kept = value >> shift;
  const uint32_t rest = value & ((1u << shift) - 1);
  const uint32_t half = 1u << (shift - 1);
  return rest > half || (rest == half && (kept & 1)) ? kept + 1 : kept;
}

}  // namespace

uint16_t FloatToHalf(float value) {
  const auto bits = std::bit_cast<uint32_t>(value);
  const auto sign = uint16_t(bits >> 16 & 0x8000);
  const auto exponent = int32_t(bits >> 23 & 0xff);
  const uint32_t mantissa = bits & 0x7fffff;
  if (exponent == 0xff) {
    // Infinity, or NaN with its top mantissa bits (never the infinity code).
    if (mantissa == 0) return uint16_t(sign | 0x7c00);
    return uint16_t(sign | 0x7e00 | mantissa >> 13);
  }
  const int32_t e = exponent - 127 + 15;
  if (e >= 31) return uint16_t(sign | 0x7c00);
  if (e <= 0) {
    // Below 2^-25 everything rounds to zero; above it, a subnormal (or the
    // smallest normal, when rounding carries into the exponent).
    if (e < -10) return sign;
    return uint16_t(sign | ShiftRounded(mantissa | 0x800000, 14 - e));
  }
  // Rounding may carry into the exponent, and from the largest finite value
  // into infinity, which is what the carry gives.
  return uint16_t(sign | ShiftRounded(uint32_t(e) << 23 | mantissa, 13));
}

float HalfToFloat(uint16_t half) {
  const uint32_t sign = uint32_t(half & 0x8000) << 16;
  const int32_t exponent = half >> 10 & 0x1f;
  const uint32_t mantissa = half & 0x3ffu;
  if (exponent == 0) {
    const float magnitude = std::ldexp(float(mantissa), -24);
    return sign ? -magnitude : magnitude;
  }
  if (exponent == 31) return std::bit_cast<float>(sign | 0x7f800000 | mantissa << 13);
  return std::bit_cast<float>(sign | uint32_t(exponent - 15 + 127) << 23 | mantissa << 13);
}

void AppendSlot(std::vector<uint8_t>& out, int32_t index, int32_t type, int32_t intValue, float floatValue,
                std::u16string_view text) {
  if (type == SLOT_UNSET) return;
  if (type < SLOT_UNSET || type > SLOT_FLOAT) vrThrowText("Invalid RIvo data type");
  if (type == SLOT_STRING && text.size() > std::size_t(limits::kRivoStringBytes))
    vrThrowText("RIvo message data too large");
  out.push_back(uint8_t(type << 5 | (index & 31)));
  switch (type) {
    case SLOT_INT:
      PutBigEndian(out, uint32_t(intValue), 4);
      break;
    case SLOT_HALF:
      PutBigEndian(out, FloatToHalf(floatValue), 2);
      break;
    case SLOT_STRING:
      PutBigEndian(out, uint32_t(text.size()), 2);
      for (char16_t unit : text) out.push_back(uint8_t(unit));
      break;
    case SLOT_BYTE:
      out.push_back(uint8_t(intValue));
      break;
    case SLOT_SHORT:
      PutBigEndian(out, uint32_t(intValue) & 0xffff, 2);
      break;
    default:  // SLOT_FLOAT
      PutBigEndian(out, std::bit_cast<uint32_t>(floatValue), 4);
      break;
  }
}

std::vector<WireSlot> UnpackSlotData(std::span<const uint8_t> data) {
  std::vector<WireSlot> slots;
  std::size_t pos = 0;
  // The bytes of the next field, after checking that they are all there.
  auto take = [&](std::size_t count) {
    if (data.size() - pos < count) Corrupt();
    const uint8_t* field = data.data() + pos;
    pos += count;
    return field;
  };
  while (pos < data.size()) {
    const uint8_t header = *take(1);
    WireSlot slot;
    slot.index = header & 31;
    slot.type = header >> 5;
    switch (slot.type) {
      case SLOT_INT:
        slot.intValue = int32_t(GetBigEndian(take(4), 4));
        break;
      case SLOT_HALF:
        slot.floatValue = HalfToFloat(uint16_t(GetBigEndian(take(2), 2)));
        break;
      case SLOT_STRING: {
        const uint32_t length = GetBigEndian(take(2), 2);
        slot.text = std::span<const uint8_t>(take(length), length);
        break;
      }
      case SLOT_BYTE:
        slot.intValue = *take(1);
        break;
      case SLOT_SHORT:
        slot.intValue = int32_t(GetBigEndian(take(2), 2));
        break;
      case SLOT_FLOAT:
        slot.floatValue = std::bit_cast<float>(GetBigEndian(take(4), 4));
        break;
      default:  // 0 and 7
        vrThrowText("Invalid RIvo data type");
    }
    slots.push_back(slot);
  }
  return slots;
}

WireMessage DecodeMessage(std::span<const uint8_t> packet) {
  if (packet.size() < std::size_t(kHeaderSize)) Corrupt();
  WireMessage message;
  message.state = packet[0] >> 4;
  message.id = (packet[0] & 15) << 8 | packet[1];
  if (!TravellingState(message.state) || message.id == 0) Corrupt();
  message.data = packet.subspan(kHeaderSize);
  if (message.data.size() > std::size_t(kMaxPackedSize)) vrThrowText("RIvo message data too large");
  message.slots = UnpackSlotData(message.data);
  return message;
}

void EncodeHeader(uint8_t* out, int32_t state, int32_t id) {
  if (!TravellingState(state) || id < 1 || id > kMaxId) vrThrowText("RIvo error");
  out[0] = uint8_t(state << 4 | id >> 8);
  out[1] = uint8_t(id & 0xff);
}

}  // namespace vrl::rivo
