// The OpenAL library, opened at run time: one table of the entry points the
// OpenAL driver calls, each looked up by its name. Nothing links OpenAL, so
// a machine without it runs the framework with the other audio drivers.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>

namespace vrl::openal {

/// The entry points, in the order the driver names them. An entry the
/// library does not have stays null.
struct EntryPoints {
  ALCdevice* (*alcOpenDevice)(const ALCchar* devicename) = nullptr;
  ALCcontext* (*alcCreateContext)(ALCdevice* device, const ALCint* attrlist) = nullptr;
  ALCboolean (*alcMakeContextCurrent)(ALCcontext* context) = nullptr;
  void (*alcDestroyContext)(ALCcontext* context) = nullptr;
  ALCboolean (*alcCloseDevice)(ALCdevice* device) = nullptr;
  const ALCchar* (*alcGetString)(ALCdevice* device, ALCenum param) = nullptr;
  ALenum (*alGetError)() = nullptr;
  void (*alDistanceModel)(ALenum distanceModel) = nullptr;
  void (*alGenBuffers)(ALsizei n, ALuint* buffers) = nullptr;
  void (*alBufferData)(ALuint buffer, ALenum format, const ALvoid* data, ALsizei size,
                       ALsizei freq) = nullptr;
  void (*alDeleteBuffers)(ALsizei n, const ALuint* buffers) = nullptr;
  void (*alGenSources)(ALsizei n, ALuint* sources) = nullptr;
  void (*alSourcei)(ALuint source, ALenum param, ALint value) = nullptr;
  void (*alSourcef)(ALuint source, ALenum param, ALfloat value) = nullptr;
  void (*alSource3f)(ALuint source, ALenum param, ALfloat v1, ALfloat v2, ALfloat v3) = nullptr;
  void (*alGetSourcei)(ALuint source, ALenum param, ALint* value) = nullptr;
  void (*alSourcePlay)(ALuint source) = nullptr;
  void (*alSourcePause)(ALuint source) = nullptr;
  void (*alSourceStop)(ALuint source) = nullptr;
  void (*alSourceRewind)(ALuint source) = nullptr;
  /// Not called by the driver itself; the tests read a source's position.
  void (*alGetSource3f)(ALuint source, ALenum param, ALfloat* v1, ALfloat* v2, ALfloat* v3) = nullptr;
};

/// The library file the first Load opens; "libopenal.so.1" unless a program
/// (or a test) names another before the OpenAL module initialises.
void SetLibraryFile(const char* file);
const char* LibraryFile();

/// Opens the library file once and looks up every entry point. True when the
/// library opened and has every entry the driver calls (alcGetString, used
/// only to list devices, and alGetSource3f may be missing). Later calls give
/// the first answer.
bool Load();
/// The answer of Load, false before it was called.
bool Loaded();
/// The table; all null unless the library was opened.
const EntryPoints& AL();

}  // namespace vrl::openal
