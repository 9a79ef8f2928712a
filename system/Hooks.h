// Hook chains: 256 numbered chains of callbacks, each ordered by priority
// (higher runs earlier; equal priorities in install order). Calling a chain
// threads a data object through its hooks: each receives what the previous
// one returned.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "runtime/Object.h"

namespace vrl {

/// A hook callback: gets the chain id, the data and its context object
/// (nullptr for Null) and returns the data for the hooks after it.
using HookFunction = Ref<Object> (*)(int32_t id, Object* data, Object* context);

/// One hook of a chain. Made and linked only by the functions below.
class THook : public Object {
  VRL_CLASS(THook, Object)

 private:
  friend class HookChains;  // Hooks.cpp: the chains and their functions

  Ref<THook> succ;
  int32_t priority = 0;
  HookFunction func = nullptr;
  Ref<Object> context;
};

inline constexpr int32_t kHookChains = 256;

/// The next hook id, from 0; the 257th call throws the text "Too many hook ids".
int32_t NewHookId();
/// Ids outside 0..255 throw TArrayBoundsException in the three below.
int32_t InstallHook(int32_t id, HookFunction func, Object* context, int32_t priority);
/// Removes the first hook whose function and context are these; a hook
/// removed while the chain runs still passes the call on to the one after it.
int32_t UninstallHook(int32_t id, HookFunction func, Object* context);
/// Runs the chain; the result is the data returned by the last hook (`data`
/// itself when the chain is empty). Null (nullptr) data is passed as Null.
Ref<Object> CallHooks(int32_t id, Object* data);

}  // namespace vrl
