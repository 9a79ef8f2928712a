// libFuzzer target: arbitrary bytes as a RIvo packet (DecodeMessage) and as
// packed slots (UnpackSlotData, and TGNetObject.UnpackSlots into an object).
// A decoder may refuse with one of its three errors; it must never read out
// of bounds, and what it accepts must pack again to the very same bytes (a
// half-precision NaN may come back quiet).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "net/rivo/RIvo.h"
#include "net/rivo/RIvoWire.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"

namespace {

using namespace vrl;
using namespace vrl::rivo;

bool IsDecoderError(const ThrownObject& e) {
  const std::string_view text = e.what();
  return text == "Corrupt RIvo message" || text == "Invalid RIvo data type" ||
         text == "RIvo message data too large";
}

// Packs decoded slots again; false when a slot differs from its bytes.
bool RepacksTo(const std::vector<WireSlot>& slots, std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  for (const WireSlot& slot : slots) {
    if (slot.text.data() &&
        (slot.text.data() < data.data() || slot.text.data() + slot.text.size() > data.data() + data.size()))
      return false;
    const std::size_t start = out.size();
    std::u16string text(slot.text.begin(), slot.text.end());
    AppendSlot(out, slot.index, slot.type, slot.intValue, slot.floatValue, text);
    if (slot.type == SLOT_HALF && std::isnan(slot.floatValue)) {
      if (start + 3 > data.size()) return false;
      out[start + 1] = data[start + 1];
      out[start + 2] = data[start + 2];
    }
  }
  return out.size() == data.size() && std::equal(out.begin(), out.end(), data.begin());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::rivo::Init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every frame of this input lies below this one.
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 0x7fffffff) return 0;
  const std::span<const uint8_t> input(data, size);
  try {
    const WireMessage message = DecodeMessage(input);
    if (message.id < 1 || message.id > kMaxId || message.data.size() != size - kHeaderSize) __builtin_trap();
    if (!RepacksTo(message.slots, message.data)) __builtin_trap();
  } catch (const ThrownObject& e) {
    if (!IsDecoderError(e)) __builtin_trap();
  }
  try {
    if (!RepacksTo(UnpackSlotData(input), input)) __builtin_trap();
  } catch (const ThrownObject& e) {
    if (!IsDecoderError(e)) __builtin_trap();
  }
  {
    // Into an object through its setters: all or nothing.
    Ref<TGNetObject> obj = TGNetObject::Create(1, STATE_SYNCED, nullptr, nullptr);
    Ref<Array> bytes = Array::New("b", int32_t(size));
    if (size) std::memcpy(bytes->Data(), data, size);
    try {
      obj->UnpackSlots(bytes);
    } catch (const ThrownObject& e) {
      if (!IsDecoderError(e) || obj->Modified() != 0 || obj->State() != STATE_SYNCED) __builtin_trap();
    }
  }
  GCCollect();
  return 0;
}
