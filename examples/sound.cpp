// Sound: a quiet looping chord under a bell that moves from the left to the
// right each time Space is pressed. Both are made in memory as samples, so no
// file is needed; a sound file would be loaded the same way, by its name.
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numbers>

#include "audio/AudioDriver.h"
#include "audio/AudioSample.h"
#include "audio/drivers/AudioDrivers.h"
#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "input/PolledInput.h"
#include "lith2d/Lith2D.h"
#include "runtime/Exceptions.h"
#include "runtime/Startup.h"

namespace {

// `seconds` of 16-bit mono at 44100 Hz: the sum of the given frequencies,
// each at `level`, fading out when `fade` is set.
vrl::Ref<vrl::TAudioSample> Tone(double seconds, std::initializer_list<double> hertz, double level,
                                 bool fade) {
  const int32_t length = static_cast<int32_t>(seconds * 44100);
  vrl::Ref<vrl::TAudioSample> sample = vrl::NewAudioSample(length, 44100, vrl::SAMPLE_MONO16LE);
  auto* data = reinterpret_cast<int16_t*>(sample->samples);
  for (int32_t i = 0; i < length; ++i) {
    double t = i / 44100.0, v = 0;
    for (double f : hertz) v += std::sin(2 * std::numbers::pi * f * t) * level;
    if (fade) v *= 1.0 - static_cast<double>(i) / length;
    data[i] = static_cast<int16_t>(v * 32767);
  }
  return sample;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartProgram(argc, argv, __builtin_frame_address(0));
  vrl::RunGuarded([] {
    using namespace vrl;
    audiodrivers::Init();
    glgraphics::Init();
    gl2d::Init();
    OpenGraphics(480, 120, 0, 60, 0);
    // One second of the chord, looped: every frequency has whole cycles in
    // it, so the loop has no seam.
    Ref<TSound> chord = LoadSoundSource(Tone(1.0, {220, 277, 330}, 0.1, false), SOUNDFLAG_LOOP);
    Ref<TSound> bell = LoadSoundSource(Tone(0.8, {880, 1320}, 0.3, true), 0);
    StartSound(chord);
    float pan = -1;
    while (TakeKeyHits(27) == 0 && TakeTerminateRequest() == 0) {
      if (TakeKeyHits(32) > 0) {
        Ref<TChannel> channel = PrepareSound(bell);  // cued: set up, then started
        ChannelPan(channel, pan);
        ContinueChannel(channel);
        pan = pan >= 1 ? -1 : pan + 0.5f;
      }
      Cls();
      DrawString(String::FromUtf8("Space rings the bell, Escape ends"), 10, 50);
      Flip(1);
    }
  });
  vrl::End();
}
