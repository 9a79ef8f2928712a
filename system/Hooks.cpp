#include "system/Hooks.h"

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"

namespace vrl {

const ClassRecord& THook::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<THook>("THook", [](auto& d) {
    d.template Field<&THook::succ>("succ");
    d.template Field<&THook::priority>("priority");
    d.template Field<&THook::func>("func", "(i,:Object,:Object):Object");
    d.template Field<&THook::context>("context");
  });
  return record;
}

namespace {

struct Chains {
  Ref<THook> heads[kHookChains];
  int32_t lastId = -1;
};

// Never destroyed: hooks may run from end handlers.
Chains& C() {
  static Chains* chains = new Chains;
  return *chains;
}

Ref<THook>& Head(int32_t id) {
  if (id < 0 || id >= kHookChains) ThrowArrayBoundsException();
  return C().heads[id];
}

}  // namespace

int32_t NewHookId() {
  Chains& c = C();
  if (c.lastId + 1 >= kHookChains) vrThrowText("Too many hook ids");
  return ++c.lastId;
}

int32_t InstallHook(int32_t id, HookFunction func, Object* context, int32_t priority) {
  Ref<THook>& head = Head(id);
  Ref<THook> hook = New<THook>();
  hook->priority = priority;
  hook->func = func;
  hook->context = context;
  if (head.IsNull() || head->priority < priority) {
    hook->succ = head;
    head = hook;
    return 0;
  }
  THook* pred = head.get();
  while (!pred->succ.IsNull() && pred->succ->priority >= priority) pred = pred->succ.get();
  hook->succ = pred->succ;
  pred->succ = hook;
  return 0;
}

int32_t UninstallHook(int32_t id, HookFunction func, Object* context) {
  Ref<THook>& head = Head(id);
  Object* wanted = context ? context : Null();
  // The removed hook keeps its successor, so a running CallHooks goes on.
  if (head.IsNull()) return 0;
  if (head->func == func && head->context.object() == wanted) {
    head = head->succ;
    return 0;
  }
  for (THook* pred = head.get(); !pred->succ.IsNull(); pred = pred->succ.get()) {
    THook* hook = pred->succ.get();
    if (hook->func == func && hook->context.object() == wanted) {
      pred->succ = hook->succ;
      return 0;
    }
  }
  return 0;
}

Ref<Object> CallHooks(int32_t id, Object* data) {
  Ref<Object> current(data);
  Ref<THook> hook = Head(id);
  while (!hook.IsNull()) {
    HookFunction func = hook->func;
    if (!func) ThrowNullFunctionException();
    current = func(id, current.get(), hook->context.get());
    hook = hook->succ;
  }
  return current;
}

}  // namespace vrl
