// Reflection: type ids for the built-in types and for every registered
// class, read from the class records (runtime/ClassRecord.h).
//
// A program finds a type by name (TTypeId::ForName, without regard to case)
// or from an object (ForObject), creates instances and arrays, reads and
// writes fields, and calls methods with boxed arguments. Numbers travel
// boxed as their string form: every value read (Get, GetArrayElement, a
// method's result) is a string for byte, short, int, long, float and double,
// and every value written is converted from its ToString. Objects and
// strings travel as they are; an object stored into a field, an element or
// an argument must be an instance of the target type's class, else the text
// "ERROR" is thrown.
//
// Type ids for classes are made lazily: ForName, ForObject and EnumTypes
// first turn the classes registered since the last call into type ids and
// read their declarations (fields and methods; members whose tags are
// pointers or function signatures are left out). Type ids are never removed.
//
// Metadata: a class name or a member's type tag may end in "{...}" holding
// entries key=value or key="quoted value", separated by single spaces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "containers/List.h"
#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

class ClassRecord;
struct Declaration;
class TTypeId;

/// A class record as a map key, ordered by its address.
class TClass : public Object {
  VRL_CLASS(TClass, Object)
  /// The order of the class records' addresses: the difference when it fits
  /// in 32 bits, else its sign at full size. Other objects order by address.
  int32_t Compare(Object* other) override;
  Ref<TClass> SetClass(const ClassRecord* record);

  const ClassRecord* Record() const { return _class; }

 private:
  const ClassRecord* _class = nullptr;
};

class TMember : public Object {
  VRL_CLASS(TMember, Object)
  virtual Ref<String> Name();
  virtual Ref<TTypeId> TypeId();
  /// The value of `key` in the member's metadata; an empty key gives the whole
  /// text. Throws "Malformed meta data".
  virtual Ref<String> MetaData(String* key);

 protected:
  Ref<String> _name;
  Ref<TTypeId> _typeId;
  Ref<String> _meta;
};

class TField : public TMember {
  VRL_CLASS(TField, TMember)
  /// `index` is the field's position among its class's declarations.
  virtual Ref<TField> Init(String* name, TTypeId* typeId, String* meta, int32_t index);
  virtual Ref<Object> Get(Object* obj);
  virtual int32_t GetInt(Object* obj);
  virtual int64_t GetLong(Object* obj);
  virtual float GetFloat(Object* obj);
  virtual double GetDouble(Object* obj);
  virtual Ref<String> GetString(Object* obj);
  virtual int32_t Set(Object* obj, Object* value);
  virtual int32_t SetInt(Object* obj, int32_t value);
  virtual int32_t SetLong(Object* obj, int64_t value);
  virtual int32_t SetFloat(Object* obj, float value);
  virtual int32_t SetDouble(Object* obj, double value);
  virtual int32_t SetString(Object* obj, String* value);

  /// Binds the field to its class's declaration `_index` (done by discovery).
  void Bind(const ClassRecord* owner);

 private:
  /// Where the field lives in `obj`; throws for objects of other classes.
  void* Address(Object* obj);

  int32_t _index = 0;
  const ClassRecord* _owner = nullptr;
};

class TMethod : public TMember {
  VRL_CLASS(TMethod, TMember)
  /// `index` is the method's position among the declarations of
  /// `selfTypeId`'s class; `argTypes` an array of TTypeId.
  virtual Ref<TMethod> Init(String* name, TTypeId* returnType, String* meta, TTypeId* selfTypeId,
                            int32_t index, Array* argTypes);
  virtual Ref<Array> ArgTypes();
  /// Calls the method on `obj` with the boxed arguments of `args` (an object
  /// array). Counts 32-bit words (obj one, long and double two, anything else
  /// one): more than eight throw "ERROR"; a long result throws "TODO".
  virtual Ref<Object> Invoke(Object* obj, Array* args);

 private:
  Ref<TTypeId> _selfTypeId;
  int32_t _index = 0;
  Ref<Array> _argTypes;
};

class TTypeId : public Object {
  VRL_CLASS(TTypeId, Object)
  virtual Ref<String> Name();
  virtual Ref<String> MetaData(String* key);
  virtual Ref<TTypeId> SuperType();
  /// The array type of this element type with `dims` dimensions, cached
  /// until a request for another number of dimensions.
  virtual Ref<TTypeId> ArrayType(int32_t dims = 1);
  virtual Ref<TTypeId> ElementType();
  virtual int32_t ExtendsType(TTypeId* other);
  virtual Ref<TList> DerivedTypes();
  /// Throws "Unable to create new object" for types without a class (and
  /// for classes that cannot be made without arguments).
  virtual Ref<Object> NewObject();
  virtual Ref<TList> Fields();
  virtual Ref<TList> Methods();
  virtual Ref<TField> FindField(String* name);
  virtual Ref<TMethod> FindMethod(String* name);
  /// Into `list` (a new one when Null): the base type's members first.
  virtual Ref<TList> EnumFields(TList* list);
  virtual Ref<TList> EnumMethods(TList* list);
  /// The array operations throw "TypeID is not an array type" on other types.
  virtual Ref<Array> NewArray(int32_t length, Array* dims);
  virtual int32_t ArrayLength(Array* array, int32_t dim);
  virtual int32_t ArrayDimensions(Array* array);
  virtual Ref<Object> GetArrayElement(Array* array, int32_t index);
  virtual int32_t SetArrayElement(Array* array, int32_t index, Object* value);

  static Ref<TTypeId> ForName(String* name);
  static Ref<TTypeId> ForObject(Object* obj);
  static Ref<TList> EnumTypes();

  virtual Ref<TTypeId> Init(String* name, int32_t size, const ClassRecord* record, TTypeId* super);
  virtual Ref<TTypeId> SetClass(const ClassRecord* record);
  /// Turns the classes registered since the last call into type ids.
  static void _Update();
  /// Reads the class's declarations into the member lists, once.
  virtual int32_t _Resolve();

  const ClassRecord* Record() const { return _class; }
  int32_t Size() const { return _size; }

 private:
  friend std::string TypeTagForId(TTypeId* type);
  friend Ref<TTypeId> TypeIdForTag(std::string_view tag);

  /// Forgets the cached array type, and the array types cached along the
  /// chain it begins: an array type holds its element type, which caches it,
  /// a cycle that counting alone never frees.
  void DropArrayTypes();

  Ref<String> _name;
  Ref<String> _meta;
  const ClassRecord* _class = nullptr;
  int32_t _size = 4;
  Ref<TList> _fields;
  Ref<TList> _methods;
  Ref<TTypeId> _super;
  Ref<TList> _derived;
  Ref<TTypeId> _arrayType;
  Ref<TTypeId> _elementType;
  std::string _typeTag;
  int32_t _dimensions = 0;  // of an array type
  bool _resolved = false;
};

/// The built-in type ids, made in this order when the module starts.
TTypeId* ByteTypeId();
TTypeId* ShortTypeId();
TTypeId* IntTypeId();
TTypeId* LongTypeId();
TTypeId* FloatTypeId();
TTypeId* DoubleTypeId();
TTypeId* ObjectTypeId();
TTypeId* StringTypeId();
TTypeId* ArrayTypeId();  // "Null[]", the type of the empty array

/// The type a tag names ("i", "$", ":Name", ":module.path.Name", "[,]d", ...),
/// or Null for tags that are not reflected (pointers, functions, unknown).
Ref<TTypeId> TypeIdForTag(std::string_view tag);
/// The element tag for arrays of `type`: "[]" + element tag for arrays, ":" +
/// name for objects and strings, "b" ... "d" for numbers; throws "ERROR" for
/// anything else.
std::string TypeTagForId(TTypeId* type);

/// The value of `key` in metadata text (see the top of this file); the whole
/// text for an empty key, the empty string when no entry has that key.
/// Throws "Malformed meta data".
Ref<String> MetaDataValue(String* meta, String* key);

namespace reflection {
/// Starts the list and map modules, registers the reflection classes and
/// makes the registries and the built-in type ids.
void Init();
}  // namespace reflection

}  // namespace vrl
