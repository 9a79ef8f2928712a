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

// The 256 chains, and the work of the free functions below, which forward
// here. Never destroyed: hooks may run from end handlers.
class HookChains {
 public:
  static int32_t NewId() {
    HookChains& c = Instance();
    if (c._lastId + 1 >= kHookChains) vrThrowText("Too many hook ids");
    return ++c._lastId;
  }

  static void Install(int32_t id, HookFunction func, Object* context, int32_t priority) {
    Ref<THook>& head = Head(id);
    Ref<THook> hook = New<THook>();
    hook->priority = priority;
    hook->func = func;
    hook->context = context;
    if (head.IsNull() || head->priority < priority) {
      hook->succ = head;
      head = hook;
      return;
    }
    THook* pred = head.get();
    while (!pred->succ.IsNull() && pred->succ->priority >= priority) pred = pred->succ.get();
    hook->succ = pred->succ;
    pred->succ = hook;
  }

  static void Uninstall(int32_t id, HookFunction func, Object* context) {
    Ref<THook>& head = Head(id);
    Object* wanted = IsNull(context) ? Null() : context;
    // The removed hook keeps its successor, so a running Call goes on.
    if (head.IsNull()) return;
    if (head->func == func && head->context.object() == wanted) {
      head = head->succ;
      return;
    }
    for (THook* pred = head.get(); !pred->succ.IsNull(); pred = pred->succ.get()) {
      THook* hook = pred->succ.get();
      if (hook->func == func && hook->context.object() == wanted) {
        pred->succ = hook->succ;
        return;
      }
    }
  }

  static Ref<Object> Call(int32_t id, Object* data) {
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

 private:
  static HookChains& Instance() {
    static HookChains* chains = new HookChains;
    return *chains;
  }

  static Ref<THook>& Head(int32_t id) {
    if (id < 0 || id >= kHookChains) ThrowArrayBoundsException();
    return Instance()._heads[id];
  }

  Ref<THook> _heads[kHookChains];
  int32_t _lastId = -1;
};

int32_t NewHookId() { return HookChains::NewId(); }

int32_t InstallHook(int32_t id, HookFunction func, Object* context, int32_t priority) {
  HookChains::Install(id, func, context, priority);
  return 0;
}

int32_t UninstallHook(int32_t id, HookFunction func, Object* context) {
  HookChains::Uninstall(id, func, context);
  return 0;
}

Ref<Object> CallHooks(int32_t id, Object* data) { return HookChains::Call(id, data); }

}  // namespace vrl
