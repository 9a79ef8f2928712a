#include "audio/drivers/AudioDrivers.h"

#include "audio/AudioDriver.h"
#include "audio/drivers/DirectSoundAudioDriver.h"
#include "audio/drivers/aurimix/AurimixAudioDriver.h"
#include "audio/drivers/openal/OpenALAudioDriver.h"
#include "runtime/Runtime.h"

namespace vrl {

namespace {

// Registration order. ActiveAudioDriver's default choice goes by name
// ("DirectSound", then "Null"), not by this order; the order decides what
// AudioDriverNames lists and which of two drivers of one name is found.
constexpr AudioBackend kBackends[] = {
    {"DirectSound", &directsound::Init},
    {"Aurimix", &aurimix::Init},  // also "Aurimix DirectSound" and "Aurimix Multimedia", before it
    {"OpenAL", &openal::Init},    // only when the OpenAL library opens
};

}  // namespace

std::span<const AudioBackend> AudioBackends() { return kBackends; }

void audiodrivers::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  audio::Init();
  for (const AudioBackend& backend : kBackends) backend.init();
}

}  // namespace vrl
