// The framework's general container: a circular doubly linked list of object
// references with a sentinel link.
//
// The sentinel is the one link whose value is the link itself; an empty list
// is one whose sentinel points to itself. Links reference each other through
// counted references, so they form cycles: Remove and Clear break them, and a
// dropped list clears itself, which frees its links and releases its values.
//
// Enumeration tolerates changes to the list: the enumerator holds the link
// after the one whose value it last returned. Removing the returned value's
// link is harmless; removing the link it points to makes it yield Null once
// (a typed loop skips it) and go on with the link that followed; values added
// at the end are visited. In C++:
//
//   for (TSnowflake* flake : ListOf<TSnowflake>(flakes)) { ... }
//
// casts each value to the loop variable's class and skips those that are not.
// A list belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <iterator>

#include "runtime/Array.h"
#include "runtime/Object.h"

namespace vrl {

class TList;

class TLink : public Object {
  VRL_CLASS(TLink, Object)
  Ref<Object> Value() { return _value; }
  /// The next or previous link, Null at either end of the list.
  Ref<TLink> NextLink();
  Ref<TLink> PrevLink();
  /// Unlinks: the value becomes Null, the neighbours point past this link.
  /// The link keeps its own neighbours, so an enumerator on it goes on. A
  /// link that is no longer between its neighbours (one removed already) is
  /// left as it is: a second Remove does nothing.
  int32_t Remove();

  bool IsSentinel() const { return _value.object() == this; }

 private:
  friend class TList;
  friend class TListEnum;
  template <class T>
  friend class ListOf;

  Ref<Object> _value;
  Ref<TLink> _succ;
  Ref<TLink> _pred;
};

/// Orders two values: negative, 0 or positive.
using CompareFunction = int32_t (*)(Object* a, Object* b);
/// The default comparison: a's Compare with b.
int32_t CompareObjects(Object* a, Object* b);

class TListEnum;

class TList : public Object {
  VRL_CLASS(TList, Object)
  TList();
  ~TList() override;

  int32_t _pad() { return 0; }
  int32_t Clear();
  int32_t IsEmpty();
  /// 1 when a value's Compare with `value` is 0.
  int32_t Contains(Object* value);
  Ref<TLink> AddFirst(Object* value);
  Ref<TLink> AddLast(Object* value);
  Ref<Object> First();
  Ref<Object> Last();
  Ref<Object> RemoveFirst();
  Ref<Object> RemoveLast();
  Ref<TLink> FirstLink();
  Ref<TLink> LastLink();
  Ref<TLink> InsertBeforeLink(Object* value, TLink* succ);
  Ref<TLink> InsertAfterLink(Object* value, TLink* pred);
  Ref<TLink> FindLink(Object* value);
  /// Throws the runtime error "List index out of range".
  Ref<Object> ValueAtIndex(int32_t index);
  int32_t Count();
  int32_t Remove(Object* value);
  /// Exchanges the two lists' contents.
  int32_t Swap(TList* other);
  Ref<TList> Copy();
  int32_t Reverse();
  Ref<TList> Reversed();
  /// Stable bottom-up merge sort; ties keep their order.
  int32_t Sort(int32_t ascending = 1, CompareFunction compare = &CompareObjects);
  Ref<TListEnum> ObjectEnumerator();
  /// An array of tag ":Object" with the values in order.
  Ref<Array> ToArray();
  static Ref<TList> FromArray(Array* objects);

  TLink* Sentinel() const { return _head.get(); }

 private:
  Ref<TLink> _head;
};

class TListEnum : public Object {
  VRL_CLASS(TListEnum, Object)
  int32_t HasNext() { return _link->IsSentinel() ? 0 : 1; }
  Ref<Object> NextObject();

 private:
  friend class TList;

  Ref<TLink> _link;
};

/// Range over a list's values of class T (failed casts are skipped), with the
/// enumerator's rules for changes made during the loop.
template <class T>
class ListOf {
 public:
  explicit ListOf(TList* list) : _first(list ? list->Sentinel()->_succ.get() : nullptr) {}

  class iterator {
   public:
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    explicit iterator(TLink* link) : _link(link) { SkipToMatch(); }
    T* operator*() const { return _current; }
    /// The value the next step looks at first, not yet cast (it may be of
    /// another class); nullptr at the end. For a look ahead, such as fetching
    /// memory early: the loop body has not run on it.
    Object* Upcoming() const {
      TLink* link = _link.get();
      return link && !link->IsSentinel() ? link->_value.object() : nullptr;
    }
    iterator& operator++() {
      SkipToMatch();
      return *this;
    }
    bool operator==(std::default_sentinel_t) const { return _current == nullptr; }

   private:
    /// Takes values until one is of class T; the held link is the one after
    /// the value returned.
    void SkipToMatch() {
      _current = nullptr;
      while (_link && !_link->IsSentinel()) {
        Object* value = _link->_value.object();
        _link = _link->_succ.get();
        if ((_current = CastRaw<T>(value))) return;
      }
    }
    Ref<TLink> _link;
    T* _current = nullptr;
  };

  iterator begin() const { return iterator(_first); }
  std::default_sentinel_t end() const { return {}; }

 private:
  TLink* _first;
};

/// Module functions forwarding to the methods.
Ref<TList> CreateList();
int32_t ClearList(TList* list);
int32_t CountList(TList* list);
int32_t ListIsEmpty(TList* list);
int32_t ListContains(TList* list, Object* value);
int32_t SortList(TList* list, int32_t ascending = 1, CompareFunction compare = &CompareObjects);
Ref<Array> ListToArray(TList* list);
Ref<TList> ListFromArray(Array* objects);
int32_t SwapLists(TList* a, TList* b);
int32_t ReverseList(TList* list);
Ref<TLink> ListFindLink(TList* list, Object* value);
Ref<TLink> ListAddLast(TList* list, Object* value);
Ref<TLink> ListAddFirst(TList* list, Object* value);
int32_t ListRemove(TList* list, Object* value);
int32_t RemoveLink(TLink* link);

namespace containers {
/// Registers the list classes.
void Init();
}  // namespace containers

}  // namespace vrl
