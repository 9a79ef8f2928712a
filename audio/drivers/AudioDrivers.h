// The audio back-ends a program can choose from, in the one table that
// lists them (AudioDrivers.cpp). A new back-end adds its entry there; no
// program initialises a back-end module by itself.
#pragma once

#include <span>

namespace vrl {

struct AudioBackend {
  const char* name;  // the driver name the back-end registers (its last, when it registers several)
  void (*init)();    // its module's Init: registers its classes and its driver
};

/// The back-ends in the order their drivers register, first registered
/// first. The Null driver is not among them: audio::Init registers it before
/// any of these. AudioDriverNames lists the newest first, so it gives these
/// names in reverse (each after the other drivers its back-end registered
/// before it), then "Null".
std::span<const AudioBackend> AudioBackends();

namespace audiodrivers {
/// Initialises the audio module, then every back-end of the table in order.
void Init();
}  // namespace audiodrivers

}  // namespace vrl
