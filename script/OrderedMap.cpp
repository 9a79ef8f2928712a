#include "script/OrderedMap.h"

#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TKeyValue::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TKeyValue>("TKeyValue", [](auto& d) {
    d.template Field<&TKeyValue::_key>("_key");
    d.template Field<&TKeyValue::_value>("_value");
    d.template Method<&TKeyValue::Key>("Key");
    d.template Method<&TKeyValue::Value>("Value");
  });
  return record;
}

const ClassRecord& TNode::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TNode>("TNode", [](auto& d) {
    d.template Field<&TNode::_color>("_color");
    d.template Field<&TNode::_parent>("_parent");
    d.template Field<&TNode::_left>("_left");
    d.template Field<&TNode::_right>("_right");
    d.template Method<&TNode::NextNode>("NextNode");
    d.template Method<&TNode::PrevNode>("PrevNode");
    d.template Method<&TNode::Clear>("Clear");
    d.template Method<&TNode::Copy>("Copy");
    d.template Method<&TNode::Key>("Key");
    d.template Method<&TNode::Value>("Value");
  });
  return record;
}

const ClassRecord& TNodeEnumerator::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TNodeEnumerator>("TNodeEnumerator", [](auto& d) {
    d.template Field<&TNodeEnumerator::_node>("_node");
    d.template Method<&TNodeEnumerator::HasNext>("HasNext");
    d.template Method<&TNodeEnumerator::NextObject>("NextObject");
  });
  return record;
}

const ClassRecord& TKeyEnumerator::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TKeyEnumerator>(
      "TKeyEnumerator", [](auto& d) { d.template Method<&TKeyEnumerator::NextObject>("NextObject"); });
  return record;
}

const ClassRecord& TValueEnumerator::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TValueEnumerator>(
      "TValueEnumerator", [](auto& d) { d.template Method<&TValueEnumerator::NextObject>("NextObject"); });
  return record;
}

const ClassRecord& TMapEnumerator::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TMapEnumerator>("TMapEnumerator", [](auto& d) {
    d.template Field<&TMapEnumerator::_enumerator>("_enumerator");
    d.template Method<&TMapEnumerator::ObjectEnumerator>("ObjectEnumerator");
  });
  return record;
}

const ClassRecord& TMap::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TMap>("TMap", [](auto& d) {
    d.template Field<&TMap::_root>("_root");
    d.Constant("RED", "i", "-1");
    d.Constant("BLACK", "i", "1");
    d.template Method<&TMap::Clear>("Clear");
    d.template Method<&TMap::IsEmpty>("IsEmpty");
    d.template Method<&TMap::Insert>("Insert");
    d.template Method<&TMap::Contains>("Contains");
    d.template Method<&TMap::ValueForKey>("ValueForKey");
    d.template Method<&TMap::Remove>("Remove");
    d.template Method<&TMap::Keys>("Keys");
    d.template Method<&TMap::Values>("Values");
    d.template Method<&TMap::Copy>("Copy");
    d.template Method<&TMap::ObjectEnumerator>("ObjectEnumerator");
    d.template Method<&TMap::_FirstNode>("_FirstNode");
    d.template Method<&TMap::_LastNode>("_LastNode");
    d.template Method<&TMap::_FindNode>("_FindNode");
    d.template Method<&TMap::_RemoveNode>("_RemoveNode");
    d.template Method<&TMap::_InsertFixup>("_InsertFixup");
    d.template Method<&TMap::_RotateLeft>("_RotateLeft");
    d.template Method<&TMap::_RotateRight>("_RotateRight");
    d.template Method<&TMap::_DeleteFixup>("_DeleteFixup");
  });
  return record;
}

void orderedmap::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(TKeyValue::StaticClass());
  vrRegisterClass(TNode::StaticClass());
  vrRegisterClass(TNodeEnumerator::StaticClass());
  vrRegisterClass(TKeyEnumerator::StaticClass());
  vrRegisterClass(TValueEnumerator::StaticClass());
  vrRegisterClass(TMapEnumerator::StaticClass());
  vrRegisterClass(TMap::StaticClass());
  TMap::Sentinel();
}

// ---------------------------------------------------------------------------

namespace {

// The key's Compare against the node's key. A Null key compares through the
// Null object, which throws TNullObjectException.
int32_t CompareKeys(Object* key, Object* nodeKey) { return (IsNull(key) ? Null() : key)->Compare(nodeKey); }

}  // namespace

TNode* TMap::Sentinel() {
  // Made once and held for the whole run; its links point at itself.
  static Ref<TNode>* holder = [] {
    auto* made = new Ref<TNode>(new TNode(TNode::SentinelTag{}));
    TNode* node = made->get();
    node->_color = BLACK;
    node->_parent = node;
    node->_left = node;
    node->_right = node;
    return made;
  }();
  return holder->get();
}

Ref<Object> TKeyValue::Key() { return _key; }
Ref<Object> TKeyValue::Value() { return _value; }

TNode::TNode() : _parent(TMap::Sentinel()), _left(TMap::Sentinel()), _right(TMap::Sentinel()) {}

bool TNode::IsLeaf() const { return this == TMap::Sentinel(); }

Ref<Object> TNode::Key() { return _key; }
Ref<Object> TNode::Value() { return _value; }

Ref<TNode> TNode::NextNode() {
  TNode* leaf = TMap::Sentinel();
  if (!_right->IsLeaf()) {
    TNode* node = _right.get();
    while (!node->_left->IsLeaf()) node = node->_left.get();
    return Ref<TNode>(node);
  }
  // A node cut loose by Clear has no parent: the walk ends there.
  TNode* node = this;
  TNode* parent = _parent.get();
  while (parent && parent != leaf && node == parent->_right.get()) {
    node = parent;
    parent = parent->_parent.get();
  }
  return Ref<TNode>(parent ? parent : leaf);
}

Ref<TNode> TNode::PrevNode() {
  TNode* leaf = TMap::Sentinel();
  if (!_left->IsLeaf()) {
    TNode* node = _left.get();
    while (!node->_right->IsLeaf()) node = node->_right.get();
    return Ref<TNode>(node);
  }
  TNode* node = this;
  TNode* parent = _parent.get();
  while (parent && parent != leaf && node == parent->_left.get()) {
    node = parent;
    parent = parent->_parent.get();
  }
  return Ref<TNode>(parent ? parent : leaf);
}

int32_t TNode::Clear() {
  _parent = nullptr;
  if (!_left->IsLeaf()) _left->Clear();
  if (!_right->IsLeaf()) _right->Clear();
  return 0;
}

Ref<TNode> TNode::Copy(TNode* parent) {
  Ref<TNode> node = New<TNode>();
  node->_key = _key;
  node->_value = _value;
  node->_color = _color;
  node->_parent = parent ? parent : TMap::Sentinel();
  if (!_left->IsLeaf()) node->_left = _left->Copy(node);
  if (!_right->IsLeaf()) node->_right = _right->Copy(node);
  return node;
}

TNodeEnumerator::TNodeEnumerator(TNode* first) : _node(first ? first : TMap::Sentinel()) {}

int32_t TNodeEnumerator::HasNext() { return _node->IsLeaf() ? 0 : 1; }

Ref<TNode> TNodeEnumerator::Advance() {
  Ref<TNode> current = _node;
  if (!current->IsLeaf()) _node = current->NextNode();
  return current;
}

Ref<Object> TNodeEnumerator::NextObject() { return Advance(); }
Ref<Object> TKeyEnumerator::NextObject() { return Advance()->Key(); }
Ref<Object> TValueEnumerator::NextObject() { return Advance()->Value(); }

Ref<TNodeEnumerator> TMapEnumerator::ObjectEnumerator() { return _enumerator; }

// ---------------------------------------------------------------------------

TMap::TMap() : _root(Sentinel()) {}

TMap::~TMap() { Clear(); }

int32_t TMap::Clear() {
  if (!_root->IsLeaf()) _root->Clear();
  _root = Sentinel();
  return 0;
}

int32_t TMap::IsEmpty() { return _root->IsLeaf() ? 1 : 0; }

int32_t TMap::Insert(Object* key, Object* value) {
  TNode* leaf = Sentinel();
  TNode* parent = leaf;
  TNode* node = _root.get();
  int32_t comparison = 0;
  while (node != leaf) {
    parent = node;
    comparison = CompareKeys(key, node->_key.object());
    if (comparison == 0) {
      node->_value = value;
      return 0;
    }
    node = comparison < 0 ? node->_left.get() : node->_right.get();
  }
  Ref<TNode> added = New<TNode>();
  added->_key = key;
  added->_value = value;
  added->_color = RED;
  added->_parent = parent;
  if (parent == leaf) {
    // The first node stays red until a later insertion's repair.
    _root = added;
    return 0;
  }
  if (comparison <= 0)
    parent->_left = added;
  else
    parent->_right = added;
  _InsertFixup(added);
  return 0;
}

int32_t TMap::Contains(Object* key) { return _FindNode(key)->IsLeaf() ? 0 : 1; }

Ref<Object> TMap::ValueForKey(Object* key) {
  Ref<TNode> node = _FindNode(key);
  if (node->IsLeaf()) return Ref<Object>();
  return node->_value;
}

int32_t TMap::Remove(Object* key) {
  Ref<TNode> node = _FindNode(key);
  if (node->IsLeaf()) return 0;
  _RemoveNode(node);
  return 1;
}

Ref<TMapEnumerator> TMap::Keys() {
  Ref<TNodeEnumerator> keys = New<TKeyEnumerator>(_FirstNode().get());
  return New<TMapEnumerator>(keys.get());
}

Ref<TMapEnumerator> TMap::Values() {
  Ref<TNodeEnumerator> values = New<TValueEnumerator>(_FirstNode().get());
  return New<TMapEnumerator>(values.get());
}

Ref<TMap> TMap::Copy() {
  Ref<TMap> copy = New<TMap>();
  if (!_root->IsLeaf()) copy->_root = _root->Copy(Sentinel());
  return copy;
}

Ref<TNodeEnumerator> TMap::ObjectEnumerator() { return New<TNodeEnumerator>(_FirstNode().get()); }

Ref<TNode> TMap::_FirstNode() {
  TNode* node = _root.get();
  if (node->IsLeaf()) return Ref<TNode>(node);
  while (!node->_left->IsLeaf()) node = node->_left.get();
  return Ref<TNode>(node);
}

Ref<TNode> TMap::_LastNode() {
  TNode* node = _root.get();
  if (node->IsLeaf()) return Ref<TNode>(node);
  while (!node->_right->IsLeaf()) node = node->_right.get();
  return Ref<TNode>(node);
}

Ref<TNode> TMap::_FindNode(Object* key) {
  TNode* leaf = Sentinel();
  TNode* node = _root.get();
  while (node != leaf) {
    int32_t comparison = CompareKeys(key, node->_key.object());
    if (comparison == 0) return Ref<TNode>(node);
    node = comparison < 0 ? node->_left.get() : node->_right.get();
  }
  return Ref<TNode>(leaf);
}

int32_t TMap::_RemoveNode(TNode* node) {
  TNode* leaf = Sentinel();
  Ref<TNode> removed(node);
  Ref<TNode> replacement;
  if (node->_left->IsLeaf()) {
    replacement = node->_right;
  } else if (node->_right->IsLeaf()) {
    replacement = node->_left;
  } else {
    // Two children: the in-order predecessor's pair moves into this node
    // and the predecessor goes instead.
    removed = node->_left;
    while (!removed->_right->IsLeaf()) removed = removed->_right;
    node->_key = removed->_key;
    node->_value = removed->_value;
    replacement = removed->_left;
  }
  Ref<TNode> parent = removed->_parent;
  if (replacement.get() != leaf) replacement->_parent = parent;
  if (parent.get() == leaf)
    _root = replacement;
  else if (removed.get() == parent->_left.get())
    parent->_left = replacement;
  else
    parent->_right = replacement;
  if (removed->_color == BLACK) _DeleteFixup(replacement, parent);
  return 0;
}

int32_t TMap::_InsertFixup(TNode* added) {
  Ref<TNode> node(added);
  while (node->_parent->_color == RED && !node->_parent->_parent->IsLeaf()) {
    Ref<TNode> parent = node->_parent;
    Ref<TNode> grandparent = parent->_parent;
    if (parent.get() == grandparent->_left.get()) {
      Ref<TNode> uncle = grandparent->_right;
      if (uncle->_color == RED) {
        parent->_color = BLACK;
        uncle->_color = BLACK;
        grandparent->_color = RED;
        node = grandparent;
        continue;
      }
      if (node.get() == parent->_right.get()) {
        node = parent;
        _RotateLeft(node);
      }
      node->_parent->_color = BLACK;
      node->_parent->_parent->_color = RED;
      _RotateRight(node->_parent->_parent);
    } else {
      Ref<TNode> uncle = grandparent->_left;
      if (uncle->_color == RED) {
        parent->_color = BLACK;
        uncle->_color = BLACK;
        grandparent->_color = RED;
        node = grandparent;
        continue;
      }
      if (node.get() == parent->_left.get()) {
        node = parent;
        _RotateRight(node);
      }
      node->_parent->_color = BLACK;
      node->_parent->_parent->_color = RED;
      _RotateLeft(node->_parent->_parent);
    }
  }
  _root->_color = BLACK;
  return 0;
}

int32_t TMap::_RotateLeft(TNode* pivot) {
  TNode* leaf = Sentinel();
  Ref<TNode> node(pivot);
  Ref<TNode> child = node->_right;
  node->_right = child->_left;
  if (child->_left.get() != leaf) child->_left->_parent = node;
  child->_parent = node->_parent;
  if (node->_parent.get() == leaf)
    _root = child;
  else if (node.get() == node->_parent->_left.get())
    node->_parent->_left = child;
  else
    node->_parent->_right = child;
  child->_left = node;
  node->_parent = child;
  return 0;
}

int32_t TMap::_RotateRight(TNode* pivot) {
  TNode* leaf = Sentinel();
  Ref<TNode> node(pivot);
  Ref<TNode> child = node->_left;
  node->_left = child->_right;
  if (child->_right.get() != leaf) child->_right->_parent = node;
  child->_parent = node->_parent;
  if (node->_parent.get() == leaf)
    _root = child;
  else if (node.get() == node->_parent->_right.get())
    node->_parent->_right = child;
  else
    node->_parent->_left = child;
  child->_right = node;
  node->_parent = child;
  return 0;
}

int32_t TMap::_DeleteFixup(TNode* start, TNode* startParent) {
  // `node` may be the sentinel, which has no parent of its own: the parent
  // is carried along. The sentinel's colour is never written.
  Ref<TNode> node(start);
  Ref<TNode> parent(startParent);
  while (node.get() != _root.get() && node->_color == BLACK) {
    if (node.get() == parent->_left.get()) {
      Ref<TNode> sibling = parent->_right;
      if (sibling->_color == RED) {
        sibling->_color = BLACK;
        parent->_color = RED;
        _RotateLeft(parent);
        sibling = parent->_right;
      }
      if (sibling->_left->_color == BLACK && sibling->_right->_color == BLACK) {
        sibling->_color = RED;
        node = parent;
        parent = node->_parent;
      } else {
        if (sibling->_right->_color == BLACK) {
          sibling->_left->_color = BLACK;
          sibling->_color = RED;
          _RotateRight(sibling);
          sibling = parent->_right;
        }
        sibling->_color = parent->_color;
        parent->_color = BLACK;
        sibling->_right->_color = BLACK;
        _RotateLeft(parent);
        node = _root;
      }
    } else {
      Ref<TNode> sibling = parent->_left;
      if (sibling->_color == RED) {
        sibling->_color = BLACK;
        parent->_color = RED;
        _RotateRight(parent);
        sibling = parent->_left;
      }
      if (sibling->_right->_color == BLACK && sibling->_left->_color == BLACK) {
        sibling->_color = RED;
        node = parent;
        parent = node->_parent;
      } else {
        if (sibling->_left->_color == BLACK) {
          sibling->_right->_color = BLACK;
          sibling->_color = RED;
          _RotateLeft(sibling);
          sibling = parent->_left;
        }
        sibling->_color = parent->_color;
        parent->_color = BLACK;
        sibling->_left->_color = BLACK;
        _RotateRight(parent);
        node = _root;
      }
    }
  }
  if (!node->IsLeaf()) node->_color = BLACK;
  return 0;
}

// ---------------------------------------------------------------------------

Ref<TMap> CreateMap() { return New<TMap>(); }
int32_t ClearMap(TMap* map) { return Ref<TMap>(map)->Clear(); }
int32_t MapIsEmpty(TMap* map) { return Ref<TMap>(map)->IsEmpty(); }
int32_t MapInsert(TMap* map, Object* key, Object* value) { return Ref<TMap>(map)->Insert(key, value); }
int32_t MapContains(TMap* map, Object* key) { return Ref<TMap>(map)->Contains(key); }
Ref<Object> MapValueForKey(TMap* map, Object* key) { return Ref<TMap>(map)->ValueForKey(key); }
int32_t MapRemove(TMap* map, Object* key) { return Ref<TMap>(map)->Remove(key); }
Ref<TMapEnumerator> MapKeys(TMap* map) { return Ref<TMap>(map)->Keys(); }
Ref<TMapEnumerator> MapValues(TMap* map) { return Ref<TMap>(map)->Values(); }
Ref<TMap> CopyMap(TMap* map) { return Ref<TMap>(map)->Copy(); }

}  // namespace vrl
