// The system back-ends, in the order system::Init tries them. A new back-end
// gets an entry here, and a line in the list of system/SystemDriver.h.
#include "system/SystemDriver.h"

#include "system/SDLSystemDriver.h"

namespace vrl {

namespace {

constexpr SystemBackend kSystemBackends[] = {
    {"SDL", &TSDLSystemDriver::StaticClass, []() -> Ref<TSystemDriver> { return New<TSDLSystemDriver>(); }},
};

}  // namespace

std::span<const SystemBackend> SystemBackends() { return kSystemBackends; }

}  // namespace vrl
