// The framework's own installation and the files of its modules, for tools
// that work on them.
//
// The installation directory is the environment variable "VRLPATH" when it
// is set, else the first directory, from the application directory upwards,
// that holds the file "bin/vmk" (the module compiler; on this platform the
// marker has no ".exe" suffix). Once found it is kept for the run and put
// into the environment as VRLPATH, so child processes find it too.
//
// A module vrl.stream lives in <installation>/mod/vrl.mod/stream.mod, and
// its files are named after its identifier, "stream".
#pragma once

#include <cstdint>

#include "containers/List.h"
#include "runtime/String.h"

namespace vrl {

/// The installation directory; throws the string "Unable to locate Vorlith
/// path" when VRLPATH is unset (or empty) and no directory from the
/// application directory up to the root holds bin/vmk.
Ref<String> FrameworkPath();
/// Forgets the kept installation directory, so the next FrameworkPath looks
/// again (the environment variable it set stays). For tests.
void ForgetFrameworkPath();

/// FrameworkPath() + "/mod", then for a non-empty name "/" and the name with
/// each "." replaced by ".mod/", and ".mod".
Ref<String> ModulePath(String* module);
/// The text after the last "." (the whole name when it has none).
Ref<String> ModuleIdent(String* module);
/// `<ModulePath>/<ident>.vls`
Ref<String> ModuleSource(String* module);
/// `<ModulePath>/<ident><variant>.a` and `.i`; a non-empty variant that does not
/// start with "." gets one ("debug" and ".debug" both give ".debug").
Ref<String> ModuleArchive(String* module, String* variant = nullptr);
Ref<String> ModuleInterface(String* module, String* variant = nullptr);
/// Appends to `list` (a new list when Null) the names "namespace.module" of
/// every module installed below `module` (all of them for the empty name),
/// in directory order; returns the list. A missing directory adds nothing.
Ref<TList> EnumModules(String* module, TList* list = nullptr);

namespace modulepaths {
/// Starts the list and file-system modules.
void Init();
}  // namespace modulepaths

}  // namespace vrl
