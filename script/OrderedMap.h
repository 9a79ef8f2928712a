// The ordered map: a red-black tree of key/value object pairs ordered by the
// keys' own Compare (strings by their text, other objects by their class's
// rule). Reflection keeps its registries in it.
//
// Every map shares one black sentinel node (TMap::Sentinel()), which stands
// for every leaf; the sentinel's links point at itself and are never
// changed. Nodes hold their children and their parent through counted
// references, so a tree is a web of cycles: Clear (also run when a map is
// destroyed) breaks every parent link, after which the counts of all nodes
// fall to zero. An enumerator that still holds a node keeps that node (and
// what hangs below it) alive.
//
// A map belongs to one thread at a time.
#pragma once

#include <cstdint>

#include "runtime/Object.h"

namespace vrl {

class TMap;
class TNode;

class TKeyValue : public Object {
  VRL_CLASS(TKeyValue, Object)
  virtual Ref<Object> Key();
  virtual Ref<Object> Value();

 protected:
  Ref<Object> _key;
  Ref<Object> _value;
};

class TNode : public TKeyValue {
  VRL_CLASS(TNode, TKeyValue)
  /// A new node has colour 0 and all three links at the sentinel.
  TNode();

  Ref<Object> Key() override;
  Ref<Object> Value() override;
  /// The node after or before this one in key order; the sentinel past
  /// either end.
  virtual Ref<TNode> NextNode();
  virtual Ref<TNode> PrevNode();
  /// Cuts this node's parent link and those of every node below it.
  virtual int32_t Clear();
  /// A copy of this subtree (same keys, values and colours) hanging from
  /// `parent`.
  virtual Ref<TNode> Copy(TNode* parent);

  int32_t Color() const { return _color; }
  bool IsLeaf() const;
  TNode* Parent() const { return _parent.get(); }
  TNode* Left() const { return _left.get(); }
  TNode* Right() const { return _right.get(); }

 private:
  friend class TMap;
  struct SentinelTag {};
  explicit TNode(SentinelTag) {}

  int32_t _color = 0;
  Ref<TNode> _parent;
  Ref<TNode> _left;
  Ref<TNode> _right;
};

/// Walks the nodes of a map in key order; NextObject yields the node itself.
class TNodeEnumerator : public Object {
  VRL_CLASS(TNodeEnumerator, Object)
  explicit TNodeEnumerator(TNode* first = nullptr);
  virtual int32_t HasNext();
  virtual Ref<Object> NextObject();

 protected:
  /// The current node, and moves on to the next one.
  Ref<TNode> Advance();

 private:
  Ref<TNode> _node;
};

class TKeyEnumerator : public TNodeEnumerator {
  VRL_CLASS(TKeyEnumerator, TNodeEnumerator)
  using TNodeEnumerator::TNodeEnumerator;
  Ref<Object> NextObject() override;
};

class TValueEnumerator : public TNodeEnumerator {
  VRL_CLASS(TValueEnumerator, TNodeEnumerator)
  using TNodeEnumerator::TNodeEnumerator;
  Ref<Object> NextObject() override;
};

/// What Keys() and Values() answer: a for-each loop asks it for its
/// enumerator.
class TMapEnumerator : public Object {
  VRL_CLASS(TMapEnumerator, Object)
  explicit TMapEnumerator(TNodeEnumerator* enumerator = nullptr) : _enumerator(enumerator) {}
  virtual Ref<TNodeEnumerator> ObjectEnumerator();

 private:
  Ref<TNodeEnumerator> _enumerator;
};

class TMap : public Object {
  VRL_CLASS(TMap, Object)
  static constexpr int32_t RED = -1;
  static constexpr int32_t BLACK = 1;

  TMap();
  ~TMap() override;

  virtual int32_t Clear();
  virtual int32_t IsEmpty();
  /// Adds the pair, or replaces the value of the node whose key compares
  /// equal (that node keeps its key object).
  virtual int32_t Insert(Object* key, Object* value);
  virtual int32_t Contains(Object* key);
  /// The value, or Null when no key compares equal.
  virtual Ref<Object> ValueForKey(Object* key);
  /// 1 when a pair was removed, 0 when none matched.
  virtual int32_t Remove(Object* key);
  virtual Ref<TMapEnumerator> Keys();
  virtual Ref<TMapEnumerator> Values();
  /// A new map with the same structure and colours, sharing keys and values.
  virtual Ref<TMap> Copy();
  /// The nodes in key order (each a TKeyValue).
  virtual Ref<TNodeEnumerator> ObjectEnumerator();

  /// The shared leaf of every map.
  static TNode* Sentinel();
  TNode* Root() const { return _root.get(); }

 private:
  virtual Ref<TNode> _FirstNode();
  virtual Ref<TNode> _LastNode();
  virtual Ref<TNode> _FindNode(Object* key);
  virtual int32_t _RemoveNode(TNode* node);
  virtual int32_t _InsertFixup(TNode* node);
  virtual int32_t _RotateLeft(TNode* node);
  virtual int32_t _RotateRight(TNode* node);
  virtual int32_t _DeleteFixup(TNode* node, TNode* parent);

  Ref<TNode> _root;
};

/// Module functions of the same effect as the methods.
Ref<TMap> CreateMap();
int32_t ClearMap(TMap* map);
int32_t MapIsEmpty(TMap* map);
int32_t MapInsert(TMap* map, Object* key, Object* value);
int32_t MapContains(TMap* map, Object* key);
Ref<Object> MapValueForKey(TMap* map, Object* key);
int32_t MapRemove(TMap* map, Object* key);
Ref<TMapEnumerator> MapKeys(TMap* map);
Ref<TMapEnumerator> MapValues(TMap* map);
Ref<TMap> CopyMap(TMap* map);

namespace orderedmap {
/// Registers the seven map classes and creates the sentinel.
void Init();
}  // namespace orderedmap

}  // namespace vrl
