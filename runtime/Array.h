// Typed arrays of one or more dimensions.
//
// An array carries an element tag (its first character names the element
// type: "b" Byte, "s" Short, "i" Int, "l" Long, "f" Float, "d" Double, "$"
// String, ":Name" object, "[..." array, "(..." function pointer, "*..."
// pointer), its dimensions, and the packed elements with the last index
// varying fastest: element [x, y] of an array made with lengths (w, h) is
// element x * h + y. Any length of 0 or less gives the one shared empty array.
//
// Reference elements (tags "$", ":" and "[") are counted like fields. The
// accessors here check indices and throw TArrayBoundsException; hot loops may
// use Data() directly once they have checked their bounds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "runtime/Object.h"

namespace vrl {

class String;

class Array final : public Object {
  VRL_CLASS(Array, Object)
  static constexpr bool kVariableSize = true;

  static Ref<Array> New(std::string_view tag, int32_t length);
  static Ref<Array> New(std::string_view tag, std::initializer_list<int32_t> lengths);
  static Ref<Array> New(std::string_view tag, int32_t dimensions, const int32_t* lengths);

  const char* Tag() const { return _tag; }
  int32_t DimensionCount() const { return _dimensions; }
  /// Total element count (0 for the empty array).
  int32_t Length() const { return _dimensions ? _scales[0] : 0; }
  int32_t DataSize() const { return _dataSize; }
  /// scales[i] is the product of the lengths of dimensions i..n-1.
  const int32_t* Scales() const { return _scales; }
  int32_t ElementSize() const;
  /// True for tags whose elements are counted references.
  bool HoldsObjects() const;

  void* Data() { return _data; }
  const void* Data() const { return _data; }
  template <class E>
  E* DataAs() {
    return reinterpret_cast<E*>(_data);
  }

  /// The flat index of a multi-dimensional position; throws
  /// TArrayBoundsException when a coordinate is outside its dimension.
  int32_t IndexOf(std::initializer_list<int32_t> position) const;

  /// Checked element access.
  template <class E>
  E Get(int32_t index) const {
    CheckIndex(index, sizeof(E));
    return reinterpret_cast<const E*>(_data)[index];
  }
  template <class E>
  void Set(int32_t index, E value) {
    CheckIndex(index, sizeof(E));
    reinterpret_cast<E*>(_data)[index] = value;
  }
  Object* GetObject(int32_t index) const;
  /// A counted store into a reference element.
  void SetObject(int32_t index, Object* value);

  /// Sorts a 1-D array in place (quicksort, not stable). Strings and objects
  /// order by their Compare.
  void Sort(int32_t ascending);
  /// The length of each dimension; the empty array gives the empty array.
  Ref<Array> Dimensions();

  void Free() override;

  /// The shared empty array.
  constexpr Array(detail::StaticTag) : Object(kStatic, kSharedRefs) {}

 private:
  friend Ref<Array> vrNewArray(std::string_view, int32_t, const int32_t*);
  Array(const char* tag, int32_t dimensions, int32_t dataSize, int32_t* scales, unsigned char* data)
      : _tag(tag), _dimensions(dimensions), _dataSize(dataSize), _scales(scales), _data(data) {}
  void CheckIndex(int32_t index, std::size_t elementSize) const;

  const char* _tag = "";
  int32_t _dimensions = 0;
  int32_t _dataSize = 0;
  int32_t* _scales = nullptr;
  unsigned char* _data = nullptr;
};

extern constinit Array gEmptyArray;
inline Array* EmptyArray() { return &gEmptyArray; }

/// The element size of a tag: 1, 2, 4 or 8 bytes (references are pointers).
int32_t ElementSizeOfTag(std::string_view tag);

Ref<Array> vrNewArray(std::string_view tag, int32_t dimensions, const int32_t* lengths);
/// The object if it is the empty array or an array of the wanted tag (any
/// object array passes for any other); Null otherwise.
Object* vrCastArray(Object* object, std::string_view tag);
/// Elements start..end-1 of a 1-D array; positions outside it get the tag's
/// initial value.
Ref<Array> vrSliceArray(std::string_view tag, Array* array, int32_t start, int32_t end);
Ref<Array> vrConcatArrays(std::string_view tag, Array* a, Array* b);
/// "b": low byte of each Int, "s": low 16 bits, other tags: the bytes as they
/// stand (count x element size of them).
Ref<Array> vrArrayFromInts(std::string_view tag, int32_t count, const int32_t* ints);

/// The operation that an unset function pointer holds: throws
/// TNullFunctionException.
[[noreturn]] void NullFunction();

}  // namespace vrl
