#include "system/Event.h"

#include <string>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "system/Hooks.h"

namespace vrl {

const ClassRecord& TEvent::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TEvent>("TEvent", [](auto& d) {
    d.template Field<&TEvent::id>("id");
    d.template Field<&TEvent::source>("source");
    d.template Field<&TEvent::data>("data");
    d.template Field<&TEvent::mods>("mods");
    d.template Field<&TEvent::x>("x");
    d.template Field<&TEvent::y>("y");
    d.template Field<&TEvent::extra>("extra");
    d.template Method<&TEvent::Emit>("Emit");
    d.template Function<&TEvent::Create>("Create");
    d.template Function<&TEvent::AllocUserId>("AllocUserId");
    d.template Function<&TEvent::RegisterId>("RegisterId");
    d.template Function<&TEvent::DescriptionForId>("DescriptionForId");
    d.template Method<&TEvent::ToString>("ToString");
  });
  return record;
}

namespace {

struct Registry {
  // "}" then "<id>{<name>}" for every registration, in order.
  std::u16string names = u"}";
  uint32_t lastUserId = 0x80000000u;
  int32_t emitHookId = -1;
};

Registry& R() {
  static Registry* registry = new Registry;
  return *registry;
}

std::u16string Decimal(int64_t value) {
  std::string narrow = std::to_string(value);
  return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace

void events::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(THook::StaticClass());
  vrRegisterClass(TEvent::StaticClass());
  R().emitHookId = NewHookId();
  static const struct {
    int32_t id;
    const char* name;
  } kNames[] = {
      {0x101, "AppSuspend"},
      {0x102, "AppResume"},
      {0x103, "AppTerminate"},
      {0x104, "AppOpenFile"},
      {0x105, "AppIdle"},
      {0x201, "KeyDown"},
      {0x202, "KeyUp"},
      {0x203, "KeyChar"},
      {0x204, "KeyRepeat"},
      {0x401, "MouseDown"},
      {0x402, "MouseUp"},
      {0x403, "MouseMove"},
      {0x404, "MouseWheel"},
      {0x405, "MouseEnter"},
      {0x406, "MouseLeave"},
      {0x801, "TimerTick"},
      {0x1001, "HotkeyHit"},
      {0x2001, "GadgetAction"},
      {0x2002, "GadgetPaint"},
      {0x2003, "GadgetSelect"},
      {0x2004, "GadgetMenu"},
      {0x2005, "GadgetOpen"},
      {0x2006, "GadgetClose"},
      {0x2007, "GadgetDone"},
      {0x2008, "GadgetLostFocus"},
      {0x2009, "GadgetShape"},
      {0x4001, "WindowMove"},
      {0x4002, "WindowSize"},
      {0x4003, "WindowClose"},
      {0x4004, "WindowActivate"},
      {0x4005, "WindowAccept"},
      {0x8001, "MenuAction"},
      {0x10001, "StreamEof"},
      {0x10002, "StreamAvail"},
      {0x20001, "ProcessExit"},
  };
  for (const auto& n : kNames) TEvent::RegisterId(n.id, String::FromNarrow(n.name));
}

int32_t EmitEventHookId() { return R().emitHookId; }

int32_t TEvent::Emit() {
  CallHooks(EmitEventHookId(), this);
  return 0;
}

Ref<TEvent> TEvent::Create(int32_t id, Object* source, int32_t data, int32_t mods, int32_t x, int32_t y,
                           Object* extra) {
  Ref<TEvent> event = New<TEvent>();
  event->id = id;
  event->source = source;
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = extra;
  return event;
}

int32_t TEvent::AllocUserId() { return static_cast<int32_t>(++R().lastUserId); }

int32_t TEvent::RegisterId(int32_t id, String* name) {
  std::u16string_view text = name ? name->View() : std::u16string_view();
  if (text.find(u'}') != std::u16string_view::npos) return 0;
  Registry& r = R();
  r.names += Decimal(id);
  r.names += u'{';
  r.names += text;
  r.names += u'}';
  return 0;
}

Ref<String> TEvent::DescriptionForId(int32_t id) {
  const std::u16string& names = R().names;
  std::u16string key = u"}" + Decimal(id) + u"{";
  std::size_t at = names.find(key);
  if (at == std::u16string::npos) return Ref<String>();
  std::size_t start = at + key.size();
  std::size_t end = names.find(u'}', start);
  return String::FromUnits(std::u16string_view(names).substr(start, end - start));
}

Ref<String> TEvent::ToString() {
  std::u16string text(DescriptionForId(id)->View());
  if (text.empty()) {
    if (static_cast<uint32_t>(id) & 0x80000000u)
      text = u"UserEvent" + Decimal(static_cast<uint32_t>(id) - 0x80000000u);
    else
      text = u"Unknown Event, id=" + Decimal(id);
  }
  text += u": data=" + Decimal(data) + u", mods=" + Decimal(mods) + u", x=" + Decimal(x) + u", y=" +
          Decimal(y) + u", extra=\"";
  if (String* s = extra.IsNull() ? nullptr : CastRaw<String>(extra.object())) text += s->View();
  text += u'"';
  return String::FromUnits(text);
}

int32_t SendEvent(TEvent* event) {
  if (!event) ThrowNullObjectException();
  return event->Emit();
}

Ref<TEvent> MakeEvent(int32_t id, Object* source, int32_t data, int32_t mods, int32_t x, int32_t y,
                      Object* extra) {
  return TEvent::Create(id, source, data, mods, x, y, extra);
}

int32_t NewUserEventId(String* description) {
  int32_t id = TEvent::AllocUserId();
  if (description && description->Length() > 0) TEvent::RegisterId(id, description);
  return id;
}

}  // namespace vrl
