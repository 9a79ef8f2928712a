#include "platform/AudioOutput.h"

#include <SDL.h>

#include <cstring>

#include "platform/Sdl.h"

namespace vrl::platform {

AudioOutput* AudioOutput::Open(int32_t rate, FillFunction fill, void* context, std::string* error) {
  if (!AcquireSdl(kSdlAudio)) {
    if (error) *error = SdlLastError();
    return nullptr;
  }
  auto* output = new AudioOutput;
  output->_fill = fill;
  output->_context = context;
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = &AudioOutput::Callback;
  want.userdata = output;
  SDL_AudioSpec have;
  // No changes allowed: SDL converts to whatever the device wants, so the
  // callback always sees 16-bit stereo at `rate`.
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device == 0) {
    if (error) *error = SDL_GetError();
    delete output;
    ReleaseSdlDeferringStop(kSdlAudio);
    return nullptr;
  }
  output->_device = device;
  output->_rate = have.freq;
  output->_blockFrames = have.samples;
  SDL_PauseAudioDevice(device, 0);
  return output;
}

void AudioOutput::Close() {
  // SDL_CloseAudioDevice waits for a callback in progress and joins the
  // audio thread.
  SDL_CloseAudioDevice(_device);
  ReleaseSdlDeferringStop(kSdlAudio);
  delete this;
}

void AudioOutput::Callback(void* self, uint8_t* stream, int len) {
  auto* output = static_cast<AudioOutput*>(self);
  int32_t frames = len / 4;
  output->_fill(output->_context, reinterpret_cast<int16_t*>(stream), frames);
  if (len % 4) std::memset(stream + std::size_t(frames) * 4, 0, std::size_t(len % 4));
}

}  // namespace vrl::platform
