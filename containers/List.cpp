#include "containers/List.h"

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TLink::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLink>("TLink", [](auto& d) {
    d.template Field<&TLink::_value>("_value");
    d.template Field<&TLink::_succ>("_succ");
    d.template Field<&TLink::_pred>("_pred");
    d.template Method<&TLink::Value>("Value");
    d.template Method<&TLink::NextLink>("NextLink");
    d.template Method<&TLink::PrevLink>("PrevLink");
    d.template Method<&TLink::Remove>("Remove");
  });
  return record;
}

const ClassRecord& TList::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TList>("TList", [](auto& d) {
    d.template Field<&TList::_head>("_head");
    d.template Method<&TList::_pad>("_pad");
    d.template Method<&TList::Clear>("Clear");
    d.template Method<&TList::IsEmpty>("IsEmpty");
    d.template Method<&TList::Contains>("Contains");
    d.template Method<&TList::AddFirst>("AddFirst");
    d.template Method<&TList::AddLast>("AddLast");
    d.template Method<&TList::First>("First");
    d.template Method<&TList::Last>("Last");
    d.template Method<&TList::RemoveFirst>("RemoveFirst");
    d.template Method<&TList::RemoveLast>("RemoveLast");
    d.template Method<&TList::FirstLink>("FirstLink");
    d.template Method<&TList::LastLink>("LastLink");
    d.template Method<&TList::InsertBeforeLink>("InsertBeforeLink");
    d.template Method<&TList::InsertAfterLink>("InsertAfterLink");
    d.template Method<&TList::FindLink>("FindLink");
    d.template Method<&TList::ValueAtIndex>("ValueAtIndex");
    d.template Method<&TList::Count>("Count");
    d.template Method<&TList::Remove>("Remove");
    d.template Method<&TList::Swap>("Swap");
    d.template Method<&TList::Copy>("Copy");
    d.template Method<&TList::Reverse>("Reverse");
    d.template Method<&TList::Reversed>("Reversed");
    d.template Method<&TList::Sort>("Sort", "(i,(:Object,:Object)i)i");
    d.template Method<&TList::ObjectEnumerator>("ObjectEnumerator");
    d.template Method<&TList::ToArray>("ToArray", "()[]:Object");
    d.template Function<&TList::FromArray>("FromArray", "([]:Object):TList");
  });
  return record;
}

const ClassRecord& TListEnum::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TListEnum>("TListEnum", [](auto& d) {
    d.template Field<&TListEnum::_link>("_link");
    d.template Method<&TListEnum::HasNext>("HasNext");
    d.template Method<&TListEnum::NextObject>("NextObject");
  });
  return record;
}

void containers::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(TLink::StaticClass());
  vrRegisterClass(TList::StaticClass());
  vrRegisterClass(TListEnum::StaticClass());
}

// ---------------------------------------------------------------------------

Ref<TLink> TLink::NextLink() { return _succ->IsSentinel() ? Ref<TLink>() : _succ; }
Ref<TLink> TLink::PrevLink() { return _pred->IsSentinel() ? Ref<TLink>() : _pred; }

int32_t TLink::Remove() {
  // A link that is no longer between its neighbours was removed already;
  // unlinking it again with those stale neighbours could drop a live link
  // inserted since, or put a dead one back into the chain.
  if (_succ->_pred.get() != this || _pred->_succ.get() != this) return 0;
  _value = nullptr;
  _succ->_pred = _pred;
  _pred->_succ = _succ;
  return 0;
}

int32_t CompareObjects(Object* a, Object* b) {
  if (IsNull(a)) ThrowNullObjectException();
  // Compare methods are handed an object: Null as the Null object.
  return a->Compare(IsNull(b) ? Null() : b);
}

TList::TList() {
  Ref<TLink> sentinel = New<TLink>();
  sentinel->_succ = sentinel;
  sentinel->_pred = sentinel;
  sentinel->_value = sentinel.get();
  _head = sentinel;
}

// The links reference each other in cycles: clear them, then the sentinel's
// own references, so that dropping a list frees its links and releases its
// values.
TList::~TList() {
  if (_head.IsNull()) return;
  Clear();
  _head->_value = nullptr;
  _head->_succ = nullptr;
  _head->_pred = nullptr;
}

int32_t TList::Clear() {
  while (!_head->_succ->IsSentinel()) _head->_succ->Remove();
  return 0;
}

int32_t TList::IsEmpty() { return _head->_succ->IsSentinel() ? 1 : 0; }

int32_t TList::Contains(Object* value) { return FindLink(value).IsNull() ? 0 : 1; }

Ref<TLink> TList::AddFirst(Object* value) { return InsertAfterLink(value, _head); }
Ref<TLink> TList::AddLast(Object* value) { return InsertBeforeLink(value, _head); }

Ref<Object> TList::First() { return IsEmpty() ? Ref<Object>() : _head->_succ->_value; }
Ref<Object> TList::Last() { return IsEmpty() ? Ref<Object>() : _head->_pred->_value; }

Ref<Object> TList::RemoveFirst() {
  if (IsEmpty()) return Ref<Object>();
  Ref<TLink> link = _head->_succ;
  Ref<Object> value = link->_value;
  link->Remove();
  return value;
}

Ref<Object> TList::RemoveLast() {
  if (IsEmpty()) return Ref<Object>();
  Ref<TLink> link = _head->_pred;
  Ref<Object> value = link->_value;
  link->Remove();
  return value;
}

Ref<TLink> TList::FirstLink() { return IsEmpty() ? Ref<TLink>() : _head->_succ; }
Ref<TLink> TList::LastLink() { return IsEmpty() ? Ref<TLink>() : _head->_pred; }

Ref<TLink> TList::InsertBeforeLink(Object* value, TLink* succ) {
  if (!succ) ThrowNullObjectException();
  Ref<TLink> link = New<TLink>();
  link->_value = value;
  link->_succ = succ;
  link->_pred = succ->_pred;
  link->_pred->_succ = link;
  succ->_pred = link;
  return link;
}

Ref<TLink> TList::InsertAfterLink(Object* value, TLink* pred) {
  if (!pred) ThrowNullObjectException();
  Ref<TLink> link = New<TLink>();
  link->_value = value;
  link->_pred = pred;
  link->_succ = pred->_succ;
  link->_succ->_pred = link;
  pred->_succ = link;
  return link;
}

Ref<TLink> TList::FindLink(Object* value) {
  for (TLink* link = _head->_succ.get(); !link->IsSentinel(); link = link->_succ.get()) {
    if (CompareObjects(link->_value.object(), value) == 0) return Ref<TLink>(link);
  }
  return Ref<TLink>();
}

Ref<Object> TList::ValueAtIndex(int32_t index) {
  if (index >= 0) {
    TLink* link = _head->_succ.get();
    for (; index > 0 && !link->IsSentinel(); --index) link = link->_succ.get();
    if (!link->IsSentinel()) return link->_value;
  }
  vrRuntimeError("List index out of range");
}

int32_t TList::Count() {
  int32_t count = 0;
  for (TLink* link = _head->_succ.get(); !link->IsSentinel(); link = link->_succ.get()) ++count;
  return count;
}

int32_t TList::Remove(Object* value) {
  Ref<TLink> link = FindLink(value);
  if (link.IsNull()) return 0;
  link->Remove();
  return 1;
}

int32_t TList::Swap(TList* other) {
  if (!other) ThrowNullObjectException();
  _head.SwapWith(other->_head);
  return 0;
}

Ref<TList> TList::Copy() {
  Ref<TList> copy = New<TList>();
  for (TLink* link = _head->_succ.get(); !link->IsSentinel(); link = link->_succ.get()) {
    copy->AddLast(link->_value.object());
  }
  return copy;
}

int32_t TList::Reverse() {
  TLink* link = _head.get();
  do {
    link->_succ.SwapWith(link->_pred);
    link = link->_pred.get();  // the old successor
  } while (link != _head.get());
  return 0;
}

Ref<TList> TList::Reversed() {
  Ref<TList> reversed = New<TList>();
  for (TLink* link = _head->_succ.get(); !link->IsSentinel(); link = link->_succ.get()) {
    reversed->AddFirst(link->_value.object());
  }
  return reversed;
}

// Bottom-up merge sort on the circular list: runs of k links are merged in
// pairs, k doubling each pass, until a pass makes at most one merge. Ties
// take the left run, so equal keys keep their order in both directions. The
// comparison only ever sees element values.
int32_t TList::Sort(int32_t ascending, CompareFunction compare) {
  if (!compare) ThrowNullFunctionException();
  int32_t direction = ascending ? 1 : -1;
  TLink* head = _head.get();
  for (int32_t k = 1;; k *= 2) {
    int32_t merges = 0;
    TLink* tail = head;
    TLink* p = head->_succ.get();
    while (p != head) {
      ++merges;
      TLink* q = p;
      int32_t psize = 0;
      for (int32_t i = 0; i < k && q != head; ++i) {
        q = q->_succ.get();
        ++psize;
      }
      int32_t qsize = k;
      while (psize > 0 || (qsize > 0 && q != head)) {
        // The right run gives the next link when the left one is used up,
        // or when both have links and the right one's value comes first.
        bool fromRight = psize == 0 || (qsize > 0 && q != head &&
                                        compare(p->_value.object(), q->_value.object()) * direction > 0);
        TLink* taken = fromRight ? q : p;
        if (fromRight) {
          q = q->_succ.get();
          --qsize;
        } else {
          p = p->_succ.get();
          --psize;
        }
        taken->_pred = tail;
        tail->_succ = taken;
        tail = taken;
      }
      p = q;
    }
    tail->_succ = head;
    head->_pred = tail;
    if (merges <= 1) return 0;
  }
}

Ref<TListEnum> TList::ObjectEnumerator() {
  Ref<TListEnum> e = New<TListEnum>();
  e->_link = _head->_succ;
  return e;
}

Ref<Array> TList::ToArray() {
  Ref<Array> array = Array::New(":Object", Count());
  int32_t i = 0;
  for (TLink* link = _head->_succ.get(); !link->IsSentinel(); link = link->_succ.get()) {
    array->SetObject(i++, link->_value.object());
  }
  return array;
}

Ref<TList> TList::FromArray(Array* objects) {
  Ref<TList> list = New<TList>();
  if (!objects || !objects->HoldsObjects()) return list;
  for (int32_t i = 0, n = objects->Length(); i < n; ++i) list->AddLast(objects->GetObject(i));
  return list;
}

Ref<Object> TListEnum::NextObject() {
  Ref<Object> value = _link->_value;
  _link = _link->_succ;
  return value;
}

// ---------------------------------------------------------------------------

namespace {
TList* Checked(TList* list) {
  if (!list) ThrowNullObjectException();
  return list;
}
}  // namespace

Ref<TList> CreateList() { return New<TList>(); }
int32_t ClearList(TList* list) { return Checked(list)->Clear(); }
int32_t CountList(TList* list) { return Checked(list)->Count(); }
int32_t ListIsEmpty(TList* list) { return Checked(list)->IsEmpty(); }
int32_t ListContains(TList* list, Object* value) { return Checked(list)->Contains(value); }
int32_t SortList(TList* list, int32_t ascending, CompareFunction compare) {
  return Checked(list)->Sort(ascending, compare);
}
Ref<Array> ListToArray(TList* list) { return Checked(list)->ToArray(); }
Ref<TList> ListFromArray(Array* objects) { return TList::FromArray(objects); }
int32_t SwapLists(TList* a, TList* b) { return Checked(a)->Swap(b); }
int32_t ReverseList(TList* list) { return Checked(list)->Reverse(); }
Ref<TLink> ListFindLink(TList* list, Object* value) { return Checked(list)->FindLink(value); }
Ref<TLink> ListAddLast(TList* list, Object* value) { return Checked(list)->AddLast(value); }
Ref<TLink> ListAddFirst(TList* list, Object* value) { return Checked(list)->AddFirst(value); }
int32_t ListRemove(TList* list, Object* value) { return Checked(list)->Remove(value); }
int32_t RemoveLink(TLink* link) {
  if (!link) ThrowNullObjectException();
  return link->Remove();
}

}  // namespace vrl
