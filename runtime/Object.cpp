#include "runtime/Object.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"

namespace vrl {

constinit NullObject gNull;

VRL_CLASS_RECORD(Object, "Object")

Object::Object() : _refs(0) {
  MarkLiveAllocation(this);
  vrGCFree(this);
}

Ref<String> Object::ToString() {
  // Two digits per byte of a pointer, leading zeros kept and no prefix
  // (glibc's "%p" would add "0x" and drop the zeros).
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this)));
  return String::FromNarrow(buffer);
}

int32_t Object::Compare(Object* other) {
  // nullptr is Null: it orders where the Null object does.
  if (IsNull(other)) other = Null();
  auto difference = reinterpret_cast<uintptr_t>(this) - reinterpret_cast<uintptr_t>(other);
  return static_cast<int32_t>(static_cast<uint32_t>(difference));
}

Ref<Object> Object::ReceiveMessage(Object*, Object*) { return Ref<Object>(); }

void Object::Reserved1() { vrThrowText("Illegal call to reserved method"); }
void Object::Reserved2() { vrThrowText("Illegal call to reserved method"); }
void Object::Reserved3() { vrThrowText("Illegal call to reserved method"); }

// Ordinary objects go through their deleting destructor, which hands the
// dynamic type's size to Object::operator delete.
void Object::Free() { delete this; }

Ref<String> NullObject::ToString() { ThrowNullObjectException(); }
int32_t NullObject::Compare(Object*) { ThrowNullObjectException(); }
Ref<Object> NullObject::ReceiveMessage(Object*, Object*) { ThrowNullObjectException(); }
void NullObject::Free() { ResetSharedCount(); }

bool InstanceOf(const Object* object, const ClassRecord& target) {
  if (IsNull(object)) return false;
  return object->Class().Extends(target);
}

Object* vrCastObject(Object* object, const ClassRecord& target) {
  return InstanceOf(object, target) ? object : Null();  // nullptr reads as Null
}

namespace {
std::vector<const ClassRecord*>& ClassList() {
  static auto* list = new std::vector<const ClassRecord*>;
  return *list;
}
}  // namespace

void vrRegisterClass(const ClassRecord& record) { ClassList().push_back(&record); }
const std::vector<const ClassRecord*>& RegisteredClasses() { return ClassList(); }

Ref<Object> vrNewObject(const ClassRecord& record) { return record.NewInstance(); }

void detail::RefuseDeclaration(std::string_view className, std::string_view member, std::string_view tag) {
  std::fprintf(stderr, "class record %.*s: member %.*s cannot carry the tag \"%.*s\"\n",
               static_cast<int>(className.size()), className.data(), static_cast<int>(member.size()),
               member.data(), static_cast<int>(tag.size()), tag.data());
  std::abort();
}

}  // namespace vrl
