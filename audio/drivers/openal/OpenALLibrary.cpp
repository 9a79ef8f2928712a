#include "audio/drivers/openal/OpenALLibrary.h"

#include <dlfcn.h>

#include <string>

namespace vrl::openal {

namespace {

struct LibraryState {
  std::string file = "libopenal.so.1";
  bool tried = false;
  bool loaded = false;
  EntryPoints entries;
};

LibraryState& State() {
  static auto* state = new LibraryState;
  return *state;
}

// Looks `name` up in `library` into `entry`; false when it is missing.
template <class F>
bool Find(void* library, const char* name, F*& entry) {
  // A function pointer from dlsym: the POSIX way of converting it.
  void* symbol = dlsym(library, name);
  entry = reinterpret_cast<F*>(symbol);
  return entry != nullptr;
}

}  // namespace

void SetLibraryFile(const char* file) { State().file = file ? file : ""; }
const char* LibraryFile() { return State().file.c_str(); }

bool Load() {
  LibraryState& s = State();
  if (s.tried) return s.loaded;
  s.tried = true;
  // The library stays open for the whole run: the drivers live that long.
  void* library = dlopen(s.file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  EntryPoints& e = s.entries;
  bool all = true;
  all &= Find(library, "alcOpenDevice", e.alcOpenDevice);
  all &= Find(library, "alcCreateContext", e.alcCreateContext);
  all &= Find(library, "alcMakeContextCurrent", e.alcMakeContextCurrent);
  all &= Find(library, "alcDestroyContext", e.alcDestroyContext);
  all &= Find(library, "alcCloseDevice", e.alcCloseDevice);
  Find(library, "alcGetString", e.alcGetString);
  all &= Find(library, "alGetError", e.alGetError);
  all &= Find(library, "alDistanceModel", e.alDistanceModel);
  all &= Find(library, "alGenBuffers", e.alGenBuffers);
  all &= Find(library, "alBufferData", e.alBufferData);
  all &= Find(library, "alDeleteBuffers", e.alDeleteBuffers);
  all &= Find(library, "alGenSources", e.alGenSources);
  all &= Find(library, "alSourcei", e.alSourcei);
  all &= Find(library, "alSourcef", e.alSourcef);
  all &= Find(library, "alSource3f", e.alSource3f);
  all &= Find(library, "alGetSourcei", e.alGetSourcei);
  all &= Find(library, "alSourcePlay", e.alSourcePlay);
  all &= Find(library, "alSourcePause", e.alSourcePause);
  all &= Find(library, "alSourceStop", e.alSourceStop);
  all &= Find(library, "alSourceRewind", e.alSourceRewind);
  Find(library, "alGetSource3f", e.alGetSource3f);
  // A library without an entry the driver calls would be called through a
  // null pointer: it counts as missing.
  s.loaded = all;
  return all;
}

bool Loaded() { return State().loaded; }

const EntryPoints& AL() { return State().entries; }

}  // namespace vrl::openal
