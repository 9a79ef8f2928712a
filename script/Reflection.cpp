#include "script/Reflection.h"

#include <cstring>
#include <span>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "script/OrderedMap.h"

namespace vrl {

const ClassRecord& TClass::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TClass>("TClass", [](auto& d) {
    d.template Field<&TClass::_class>("_class");
    d.template Method<&TClass::SetClass>("SetClass");
  });
  return record;
}

const ClassRecord& TMember::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TMember>("TMember", [](auto& d) {
    d.template Field<&TMember::_name>("_name");
    d.template Field<&TMember::_typeId>("_typeId");
    d.template Field<&TMember::_meta>("_meta");
    d.template Method<&TMember::Name>("Name");
    d.template Method<&TMember::TypeId>("TypeId");
    d.template Method<&TMember::MetaData>("MetaData");
  });
  return record;
}

const ClassRecord& TField::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TField>("TField", [](auto& d) {
    d.template Field<&TField::_index>("_index");
    d.template Method<&TField::Init>("Init");
    d.template Method<&TField::Get>("Get");
    d.template Method<&TField::GetInt>("GetInt");
    d.template Method<&TField::GetLong>("GetLong");
    d.template Method<&TField::GetFloat>("GetFloat");
    d.template Method<&TField::GetDouble>("GetDouble");
    d.template Method<&TField::GetString>("GetString");
    d.template Method<&TField::Set>("Set");
    d.template Method<&TField::SetInt>("SetInt");
    d.template Method<&TField::SetLong>("SetLong");
    d.template Method<&TField::SetFloat>("SetFloat");
    d.template Method<&TField::SetDouble>("SetDouble");
    d.template Method<&TField::SetString>("SetString");
  });
  return record;
}

const ClassRecord& TMethod::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TMethod>("TMethod", [](auto& d) {
    d.template Field<&TMethod::_selfTypeId>("_selfTypeId");
    d.template Field<&TMethod::_index>("_index");
    d.template Field<&TMethod::_argTypes>("_argTypes", "[]:TTypeId");
    d.template Method<&TMethod::Init>("Init", "($,:TTypeId,$,:TTypeId,i,[]:TTypeId):TMethod");
    d.template Method<&TMethod::ArgTypes>("ArgTypes", "()[]:TTypeId");
    d.template Method<&TMethod::Invoke>("Invoke", "(:Object,[]:Object):Object");
  });
  return record;
}

// Init and SetClass take a class record address: their tags say "*" there,
// so reflection leaves them out.
const ClassRecord& TTypeId::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TTypeId>("TTypeId", [](auto& d) {
    d.template Field<&TTypeId::_name>("_name");
    d.template Field<&TTypeId::_meta>("_meta");
    d.template Field<&TTypeId::_class>("_class");
    d.template Field<&TTypeId::_size>("_size");
    d.template Field<&TTypeId::_fields>("_fields");
    d.template Field<&TTypeId::_methods>("_methods");
    d.template Field<&TTypeId::_super>("_super");
    d.template Field<&TTypeId::_derived>("_derived");
    d.template Field<&TTypeId::_arrayType>("_arrayType");
    d.template Field<&TTypeId::_elementType>("_elementType");
    d.template Field<&TTypeId::_typeTag>("_typeTag");
    d.template Method<&TTypeId::Name>("Name");
    d.template Method<&TTypeId::MetaData>("MetaData");
    d.template Method<&TTypeId::SuperType>("SuperType");
    d.template Method<&TTypeId::ArrayType>("ArrayType");
    d.template Method<&TTypeId::ElementType>("ElementType");
    d.template Method<&TTypeId::ExtendsType>("ExtendsType");
    d.template Method<&TTypeId::DerivedTypes>("DerivedTypes");
    d.template Method<&TTypeId::NewObject>("NewObject");
    d.template Method<&TTypeId::Fields>("Fields");
    d.template Method<&TTypeId::Methods>("Methods");
    d.template Method<&TTypeId::FindField>("FindField");
    d.template Method<&TTypeId::FindMethod>("FindMethod");
    d.template Method<&TTypeId::EnumFields>("EnumFields");
    d.template Method<&TTypeId::EnumMethods>("EnumMethods");
    d.template Method<&TTypeId::NewArray>("NewArray", "(i,[]i):Array");
    d.template Method<&TTypeId::ArrayLength>("ArrayLength", "([]:Object,i)i");
    d.template Method<&TTypeId::ArrayDimensions>("ArrayDimensions", "([]:Object)i");
    d.template Method<&TTypeId::GetArrayElement>("GetArrayElement", "([]:Object,i):Object");
    d.template Method<&TTypeId::SetArrayElement>("SetArrayElement", "([]:Object,i,:Object)i");
    d.template Function<&TTypeId::ForName>("ForName");
    d.template Function<&TTypeId::ForObject>("ForObject");
    d.template Function<&TTypeId::EnumTypes>("EnumTypes");
    d.template Method<&TTypeId::Init>("Init");
    d.template Method<&TTypeId::SetClass>("SetClass");
    d.template Function<&TTypeId::_Update>("_Update");
    d.template Method<&TTypeId::_Resolve>("_Resolve");
  });
  return record;
}

namespace {

struct ReflectionState {
  Ref<TMap> names;    // lower-cased name -> TTypeId
  Ref<TMap> classes;  // TClass -> TTypeId
  std::size_t handled = 0;
  Ref<TTypeId> builtins[9];
};

ReflectionState& State() {
  static auto* state = new ReflectionState;
  return *state;
}

enum Builtin { kByte, kShort, kInt, kLong, kFloat, kDouble, kObject, kString, kArray };

TTypeId* Builtin(int which) {
  reflection::Init();
  return State().builtins[which].get();
}

// How a value of a type is stored.
enum class Kind { Byte, Short, Int, Long, Float, Double, String, Object, None };

Kind KindOf(TTypeId* type) {
  if (!type) return Kind::None;
  auto& b = State().builtins;
  if (type == b[kByte].get()) return Kind::Byte;
  if (type == b[kShort].get()) return Kind::Short;
  if (type == b[kInt].get()) return Kind::Int;
  if (type == b[kLong].get()) return Kind::Long;
  if (type == b[kFloat].get()) return Kind::Float;
  if (type == b[kDouble].get()) return Kind::Double;
  if (type == b[kString].get()) return Kind::String;
  if (type->Record()) return Kind::Object;
  return Kind::None;
}

[[noreturn]] void ThrowError() { vrThrowText("ERROR"); }
[[noreturn]] void ThrowNotArrayType() { vrThrowText("TypeID is not an array type"); }

Ref<String> Narrow(std::string_view text) { return String::FromNarrow(text); }

Ref<TClass> KeyOf(const ClassRecord* record) { return New<TClass>()->SetClass(record); }

// "name{meta}" -> name, meta (the text between "{" and the last character).
std::pair<std::string_view, std::string_view> SplitMeta(std::string_view text) {
  std::size_t brace = text.find('{');
  if (brace == std::string_view::npos) return {text, {}};
  std::string_view meta = brace + 2 <= text.size() ? text.substr(brace + 1, text.size() - brace - 2) : "";
  return {text.substr(0, brace), meta};
}

Ref<String> TextOf(Object* value) { return (IsNull(value) ? Null() : value)->ToString(); }

// True when `array` may be read as elements of `element`: its tag is the
// element's, or both are object tags. Storing the array where arrays of
// `element` are expected is stricter: an object array's class must extend
// the element class, and only "$" arrays (whose elements are never Null) go
// where string arrays are expected.
bool ArrayFits(Array* array, TTypeId* element, bool storing) {
  if (array->DimensionCount() == 0 || !element) return true;  // the empty array; "Null[]"
  std::string_view tag = array->Tag();
  bool isString = element == StringTypeId();
  if (isString && tag == "$") return true;
  std::string want = TypeTagForId(element);
  if (isString && storing) return false;
  if (tag == want) return true;
  if (tag[0] != ':' || want[0] != ':') return false;
  if (!storing) return true;
  Ref<TTypeId> own = TypeIdForTag(tag);
  return !own.IsNull() && own->ExtendsType(element);
}

// An object stored into an object array must be of the array's own element
// class too (the type id's element class may be wider).
void CheckElementClass(Array* array, Object* value) {
  if (array->Tag()[0] != ':' || IsNull(value)) return;
  Ref<TTypeId> own = TypeIdForTag(array->Tag());
  if (own.IsNull() || !own->Record() || !InstanceOf(value, *own->Record())) ThrowError();
}

// `value` converted for a target of `type` (fields, elements, arguments).
Value Unbox(TTypeId* type, Object* value) {
  switch (KindOf(type)) {
    case Kind::Byte:
      return Value::FromInt(TextOf(value)->ToInt() & 0xff);
    case Kind::Short:
      return Value::FromInt(TextOf(value)->ToInt() & 0xffff);
    case Kind::Int:
      return Value::FromInt(TextOf(value)->ToInt());
    case Kind::Long:
      return Value::FromLong(TextOf(value)->ToLong());
    case Kind::Float:
      return Value::FromFloat(TextOf(value)->ToFloat());
    case Kind::Double:
      return Value::FromDouble(TextOf(value)->ToDouble());
    case Kind::String:
      if (IsNull(value)) return Value::FromObject(EmptyString());
      if (!CastRaw<String>(value)) ThrowError();
      return Value::FromObject(value);
    case Kind::Object:
      if (type->Record() == &Array::StaticClass()) {
        // The language's Null array is the empty array.
        if (IsNull(value)) return Value::FromObject(EmptyArray());
        auto* array = CastRaw<Array>(value);
        if (!array || !ArrayFits(array, type->ElementType().get(), true)) ThrowError();
        return Value::FromObject(value);
      }
      if (IsNull(value)) return Value::FromObject(Null());
      if (!InstanceOf(value, *type->Record())) ThrowError();
      return Value::FromObject(value);
    case Kind::None:
      break;
  }
  ThrowError();
}

template <class T>
T Load(const void* at) {
  T value{};
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Store(void* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Reads a number of `kind` from memory as its string form.
Ref<Object> ReadNumber(Kind kind, const void* at) {
  switch (kind) {
    case Kind::Byte:
      return String::FromInt(Load<uint8_t>(at));
    case Kind::Short:
      return String::FromInt(Load<uint16_t>(at));
    case Kind::Int:
      return String::FromInt(Load<int32_t>(at));
    case Kind::Long:
      return String::FromLong(Load<int64_t>(at));
    case Kind::Float:
      return String::FromFloat(Load<float>(at));
    case Kind::Double:
      return String::FromDouble(Load<double>(at));
    default:
      ThrowError();
  }
}

void WriteNumber(Kind kind, void* at, const Value& v) {
  switch (kind) {
    case Kind::Byte:
      return Store(at, static_cast<uint8_t>(v.i));
    case Kind::Short:
      return Store(at, static_cast<uint16_t>(v.i));
    case Kind::Int:
      return Store(at, static_cast<int32_t>(v.i));
    case Kind::Long:
      return Store(at, v.i);
    case Kind::Float:
      return Store(at, static_cast<float>(v.d));
    case Kind::Double:
      return Store(at, v.d);
    default:
      ThrowError();
  }
}

bool IsNumber(Kind kind) { return kind != Kind::String && kind != Kind::Object && kind != Kind::None; }

}  // namespace

TTypeId* ByteTypeId() { return Builtin(kByte); }
TTypeId* ShortTypeId() { return Builtin(kShort); }
TTypeId* IntTypeId() { return Builtin(kInt); }
TTypeId* LongTypeId() { return Builtin(kLong); }
TTypeId* FloatTypeId() { return Builtin(kFloat); }
TTypeId* DoubleTypeId() { return Builtin(kDouble); }
TTypeId* ObjectTypeId() { return Builtin(kObject); }
TTypeId* StringTypeId() { return Builtin(kString); }
TTypeId* ArrayTypeId() { return Builtin(kArray); }

void reflection::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  containers::Init();
  orderedmap::Init();
  vrRegisterClass(TClass::StaticClass());
  vrRegisterClass(TMember::StaticClass());
  vrRegisterClass(TField::StaticClass());
  vrRegisterClass(TMethod::StaticClass());
  vrRegisterClass(TTypeId::StaticClass());
  ReflectionState& s = State();
  s.names = CreateMap();
  s.classes = CreateMap();
  auto make = [](const char* name, int32_t size, const ClassRecord* record, TTypeId* super) {
    return New<TTypeId>()->Init(Narrow(name), size, record, super);
  };
  s.builtins[kByte] = make("Byte", 1, nullptr, nullptr);
  s.builtins[kShort] = make("Short", 2, nullptr, nullptr);
  s.builtins[kInt] = make("Int", 4, nullptr, nullptr);
  s.builtins[kLong] = make("Long", 8, nullptr, nullptr);
  s.builtins[kFloat] = make("Float", 4, nullptr, nullptr);
  s.builtins[kDouble] = make("Double", 8, nullptr, nullptr);
  s.builtins[kObject] = make("Object", 4, &Object::StaticClass(), nullptr);
  s.builtins[kString] = make("String", 4, &String::StaticClass(), s.builtins[kObject]);
  s.builtins[kArray] = make("Null[]", 4, &Array::StaticClass(), s.builtins[kObject]);
}

// ---------------------------------------------------------------------------
// Metadata

Ref<String> MetaDataValue(String* meta, String* key) {
  std::u16string_view text = meta ? meta->View() : std::u16string_view();
  std::u16string_view wanted = key ? key->View() : std::u16string_view();
  if (wanted.empty()) return Ref<String>(meta ? meta : EmptyString());
  constexpr auto npos = std::u16string_view::npos;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t equals = text.find(u'=', pos);
    if (equals == npos) vrThrowText("Malformed meta data");
    std::u16string_view entryKey = text.substr(pos, equals - pos);
    std::size_t start = equals + 1;
    std::u16string_view value;
    if (start < text.size() && text[start] == u'"') {
      std::size_t close = text.find(u'"', start + 1);
      if (close == npos) vrThrowText("Malformed meta data");
      value = text.substr(start + 1, close - start - 1);
      pos = close + 1;
    } else {
      std::size_t end = text.find(u' ', start);
      if (end == npos) end = text.size();
      value = text.substr(start, end - start);
      pos = end;
    }
    if (entryKey == wanted) return String::FromUnits(value);
    if (pos < text.size() && text[pos] == u' ') ++pos;
  }
  return Ref<String>(EmptyString());
}

// ---------------------------------------------------------------------------
// TClass

int32_t TClass::Compare(Object* other) {
  auto* that = CastRaw<TClass>(other);
  if (!that) return Object::Compare(other);
  auto a = reinterpret_cast<uintptr_t>(_class);
  auto b = reinterpret_cast<uintptr_t>(that->_class);
  if (a == b) return 0;
  uintptr_t distance = a > b ? a - b : b - a;
  if (distance <= uintptr_t(INT32_MAX)) return a > b ? int32_t(distance) : -int32_t(distance);
  return a > b ? INT32_MAX : INT32_MIN;
}

Ref<TClass> TClass::SetClass(const ClassRecord* record) {
  _class = record;
  return Ref<TClass>(this);
}

// ---------------------------------------------------------------------------
// Members

Ref<String> TMember::Name() { return _name; }
Ref<TTypeId> TMember::TypeId() { return _typeId; }
Ref<String> TMember::MetaData(String* key) { return MetaDataValue(_meta, key); }

Ref<TField> TField::Init(String* name, TTypeId* typeId, String* meta, int32_t index) {
  _name = name;
  _typeId = typeId;
  _meta = meta;
  _index = index;
  return Ref<TField>(this);
}

void TField::Bind(const ClassRecord* owner) { _owner = owner; }

void* TField::Address(Object* obj) {
  if (IsNull(obj)) ThrowNullObjectException();
  if (!_owner || _index < 0 || std::size_t(_index) >= _owner->Declarations().size())
    ThrowNullFunctionException();
  const Declaration& declaration = _owner->Declarations()[std::size_t(_index)];
  if (declaration.kind != Declaration::Kind::Field || !declaration.address) ThrowNullFunctionException();
  if (!InstanceOf(obj, *_owner)) ThrowError();
  return declaration.address(obj);
}

Ref<Object> TField::Get(Object* obj) {
  void* at = Address(obj);
  Kind kind = KindOf(_typeId.get());
  if (IsNumber(kind)) return ReadNumber(kind, at);
  if (kind == Kind::None) ThrowError();
  return Ref<Object>(static_cast<RefBase*>(at)->object());
}

Ref<String> TField::GetString(Object* obj) {
  Ref<String> text = Cast<String>(Get(obj));
  return text.IsNull() ? Ref<String>(EmptyString()) : text;
}
int32_t TField::GetInt(Object* obj) { return GetString(obj)->ToInt(); }
int64_t TField::GetLong(Object* obj) { return GetString(obj)->ToLong(); }
float TField::GetFloat(Object* obj) { return GetString(obj)->ToFloat(); }
double TField::GetDouble(Object* obj) { return GetString(obj)->ToDouble(); }

int32_t TField::Set(Object* obj, Object* value) {
  void* at = Address(obj);
  Kind kind = KindOf(_typeId.get());
  Value v = Unbox(_typeId.get(), value);
  if (IsNumber(kind))
    WriteNumber(kind, at, v);
  else
    static_cast<RefBase*>(at)->Assign(v.o.object());
  return 0;
}

int32_t TField::SetString(Object* obj, String* value) { return Set(obj, value); }
int32_t TField::SetInt(Object* obj, int32_t value) { return SetString(obj, String::FromInt(value)); }
int32_t TField::SetLong(Object* obj, int64_t value) { return SetString(obj, String::FromLong(value)); }
int32_t TField::SetFloat(Object* obj, float value) { return SetString(obj, String::FromFloat(value)); }
int32_t TField::SetDouble(Object* obj, double value) { return SetString(obj, String::FromDouble(value)); }

Ref<TMethod> TMethod::Init(String* name, TTypeId* returnType, String* meta, TTypeId* selfTypeId,
                           int32_t index, Array* argTypes) {
  _name = name;
  _typeId = returnType;
  _meta = meta;
  _selfTypeId = selfTypeId;
  _index = index;
  _argTypes = argTypes;
  return Ref<TMethod>(this);
}

Ref<Array> TMethod::ArgTypes() { return _argTypes; }

Ref<Object> TMethod::Invoke(Object* obj, Array* args) {
  if (IsNull(obj)) ThrowNullObjectException();
  const ClassRecord* record = _selfTypeId.IsNull() ? nullptr : _selfTypeId->Record();
  if (record && !InstanceOf(obj, *record)) ThrowError();

  // The call as 32-bit words: obj, then each argument (long and double two).
  Array* types = _argTypes.get();
  int32_t count = types ? types->Length() : 0;
  int32_t words = 1;
  for (int32_t i = 0; i < count; ++i) {
    Kind kind = KindOf(CastRaw<TTypeId>(types->GetObject(i)));
    words += kind == Kind::Long || kind == Kind::Double ? 2 : 1;
  }
  if (words > 8) ThrowError();
  if (args && args->DimensionCount() != 0 && !args->HoldsObjects()) ThrowError();
  int32_t given = args ? args->Length() : 0;
  std::vector<Value> values;
  values.reserve(std::size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    Object* arg = i < given ? args->GetObject(i) : Null();  // missing arguments are Null
    values.push_back(Unbox(CastRaw<TTypeId>(types->GetObject(i)), arg));
  }
  Kind result = KindOf(_typeId.get());
  if (result == Kind::Long) vrThrowText("TODO");

  // A method that its class does not describe at that position has no code.
  if (!record || _index < 0 || std::size_t(_index) >= record->Declarations().size())
    ThrowNullFunctionException();
  const Declaration& declaration = record->Declarations()[std::size_t(_index)];
  if (declaration.kind != Declaration::Kind::Method || !declaration.invoke) ThrowNullFunctionException();
  Value v = declaration.invoke(obj, std::span<const Value>(values));

  switch (result) {
    case Kind::Byte:
    case Kind::Short:
    case Kind::Int:
      return String::FromInt(static_cast<int32_t>(v.i));
    case Kind::Float:
      return String::FromFloat(static_cast<float>(v.d));
    case Kind::Double:
      return String::FromDouble(v.d);
    default:
      return v.o;
  }
}

// ---------------------------------------------------------------------------
// Tags

Ref<TTypeId> TypeIdForTag(std::string_view tag) {
  if (tag.empty()) return Ref<TTypeId>();
  switch (tag[0]) {
    case '[': {
      std::size_t close = tag.find(']');
      if (close == std::string_view::npos) return Ref<TTypeId>();
      // One comma per extra dimension, counted inside these brackets only
      // (an array of arrays keeps its inner commas to itself).
      int32_t dims = 1;
      for (std::size_t i = 1; i < close; ++i) dims += tag[i] == ',' ? 1 : 0;
      Ref<TTypeId> element = TypeIdForTag(tag.substr(close + 1));
      if (element.IsNull()) return Ref<TTypeId>();
      element->DropArrayTypes();
      return element->ArrayType(dims);
    }
    case ':': {
      std::string_view name = tag.substr(1);
      std::size_t dot = name.rfind('.');
      if (dot != std::string_view::npos) name = name.substr(dot + 1);
      return TTypeId::ForName(Narrow(name));
    }
    default:
      break;
  }
  if (tag.size() != 1) return Ref<TTypeId>();
  switch (tag[0]) {
    case 'b':
      return Ref<TTypeId>(ByteTypeId());
    case 's':
      return Ref<TTypeId>(ShortTypeId());
    case 'i':
      return Ref<TTypeId>(IntTypeId());
    case 'l':
      return Ref<TTypeId>(LongTypeId());
    case 'f':
      return Ref<TTypeId>(FloatTypeId());
    case 'd':
      return Ref<TTypeId>(DoubleTypeId());
    case '$':
      return Ref<TTypeId>(StringTypeId());
    default:
      return Ref<TTypeId>();
  }
}

std::string TypeTagForId(TTypeId* type) {
  if (!type) ThrowError();
  if (!type->_typeTag.empty()) return type->_typeTag;
  std::string tag;
  if (!type->_elementType.IsNull()) {
    tag = "[]" + TypeTagForId(type->_elementType.get());
  } else if (type->ExtendsType(ObjectTypeId())) {
    tag = ":" + type->_name->ToNarrow();
  } else {
    static constexpr const char* kTags[] = {"b", "s", "i", "l", "f", "d"};
    for (int i = kByte; i <= kDouble; ++i)
      if (type == Builtin(i)) tag = kTags[i];
    if (tag.empty()) ThrowError();
  }
  type->_typeTag = tag;
  return tag;
}

// ---------------------------------------------------------------------------
// TTypeId

Ref<String> TTypeId::Name() { return _name; }
Ref<String> TTypeId::MetaData(String* key) { return MetaDataValue(_meta, key); }
Ref<TTypeId> TTypeId::SuperType() { return _super; }
Ref<TTypeId> TTypeId::ElementType() { return _elementType; }

Ref<TTypeId> TTypeId::ArrayType(int32_t dims) {
  dims = dims < 1 ? 1 : dims;
  // The cache serves the dimension count it was made for; another count
  // makes (and caches) a type of its own, so that "Int[]" never answers
  // with a two-dimensional type.
  if (_arrayType.IsNull() || _arrayType->_dimensions != dims) {
    std::u16string name(_name->View());
    name += u'[';
    for (int32_t i = 1; i < dims; ++i) name += u',';
    name += u']';
    Ref<TTypeId> array = New<TTypeId>();
    array->_name = String::FromUnits(name);
    array->_size = 4;
    array->_class = &Array::StaticClass();
    array->_fields = New<TList>();
    array->_methods = New<TList>();
    array->_resolved = true;
    array->_dimensions = dims;
    array->_elementType = this;
    array->_super = _super.IsNull() ? Ref<TTypeId>(ArrayTypeId()) : _super->ArrayType(1);
    DropArrayTypes();
    _arrayType = array;
  }
  return _arrayType;
}

void TTypeId::DropArrayTypes() {
  Ref<TTypeId> next = _arrayType;
  _arrayType = nullptr;
  while (!next.IsNull()) {
    Ref<TTypeId> after = next->_arrayType;
    next->_arrayType = nullptr;
    next = after;
  }
}

int32_t TTypeId::ExtendsType(TTypeId* other) {
  for (TTypeId* type = this; type; type = type->_super.get())
    if (type == other) return 1;
  return 0;
}

Ref<TList> TTypeId::DerivedTypes() {
  if (_derived.IsNull()) _derived = New<TList>();
  return _derived;
}

Ref<Object> TTypeId::NewObject() {
  if (!_class) vrThrowText("Unable to create new object");
  Ref<Object> object = _class->NewInstance();
  if (object.IsNull()) vrThrowText("Unable to create new object");
  return object;
}

Ref<TList> TTypeId::Fields() {
  _Resolve();
  return _fields;
}

Ref<TList> TTypeId::Methods() {
  _Resolve();
  return _methods;
}

Ref<TField> TTypeId::FindField(String* name) {
  _Resolve();
  Ref<String> wanted = (name ? name : EmptyString())->ToLower();
  for (TField* field : ListOf<TField>(_fields)) {
    if (field->Name()->ToLower()->Equals(wanted)) return Ref<TField>(field);
  }
  return _super.IsNull() ? Ref<TField>() : _super->FindField(name);
}

Ref<TMethod> TTypeId::FindMethod(String* name) {
  _Resolve();
  Ref<String> wanted = (name ? name : EmptyString())->ToLower();
  for (TMethod* method : ListOf<TMethod>(_methods)) {
    if (method->Name()->ToLower()->Equals(wanted)) return Ref<TMethod>(method);
  }
  return _super.IsNull() ? Ref<TMethod>() : _super->FindMethod(name);
}

Ref<TList> TTypeId::EnumFields(TList* list) {
  Ref<TList> out(list ? list : New<TList>().get());
  if (!_super.IsNull()) _super->EnumFields(out);
  _Resolve();
  for (TField* field : ListOf<TField>(_fields)) out->AddLast(field);
  return out;
}

Ref<TList> TTypeId::EnumMethods(TList* list) {
  Ref<TList> out(list ? list : New<TList>().get());
  if (!_super.IsNull()) _super->EnumMethods(out);
  _Resolve();
  for (TMethod* method : ListOf<TMethod>(_methods)) out->AddLast(method);
  return out;
}

Ref<Array> TTypeId::NewArray(int32_t length, Array* dims) {
  if (_elementType.IsNull()) ThrowNotArrayType();
  std::string tag = TypeTagForId(_elementType);
  if (!dims || dims->DimensionCount() == 0) return Array::New(tag, length);
  if (IsNull(vrCastArray(dims, "i"))) ThrowError();
  return Array::New(tag, dims->Length(), dims->DataAs<int32_t>());
}

int32_t TTypeId::ArrayLength(Array* array, int32_t dim) {
  if (_elementType.IsNull()) ThrowNotArrayType();
  if (!array) ThrowNullObjectException();
  int32_t n = array->DimensionCount();
  if (n == 0) return 0;
  if (dim < 0 || dim >= n) ThrowArrayBoundsException();
  const int32_t* scales = array->Scales();
  return dim + 1 < n ? scales[dim] / scales[dim + 1] : scales[dim];
}

int32_t TTypeId::ArrayDimensions(Array* array) {
  if (_elementType.IsNull()) ThrowNotArrayType();
  if (!array) ThrowNullObjectException();
  return array->DimensionCount();
}

Ref<Object> TTypeId::GetArrayElement(Array* array, int32_t index) {
  if (_elementType.IsNull()) ThrowNotArrayType();
  if (!array) ThrowNullObjectException();
  if (!ArrayFits(array, _elementType, false)) ThrowError();
  if (index < 0 || index >= array->Length()) ThrowArrayBoundsException();
  Kind kind = KindOf(_elementType);
  if (IsNumber(kind))
    return ReadNumber(kind, static_cast<const char*>(array->Data()) +
                                std::size_t(index) * std::size_t(array->ElementSize()));
  return Ref<Object>(array->GetObject(index));
}

int32_t TTypeId::SetArrayElement(Array* array, int32_t index, Object* value) {
  if (_elementType.IsNull()) ThrowNotArrayType();
  if (!array) ThrowNullObjectException();
  if (!ArrayFits(array, _elementType, false)) ThrowError();
  if (index < 0 || index >= array->Length()) ThrowArrayBoundsException();
  Kind kind = KindOf(_elementType);
  Value v = Unbox(_elementType, value);
  if (IsNumber(kind))
    WriteNumber(
        kind, static_cast<char*>(array->Data()) + std::size_t(index) * std::size_t(array->ElementSize()), v);
  else {
    CheckElementClass(array, v.o.object());
    array->SetObject(index, v.o.object());
  }
  return 0;
}

Ref<TTypeId> TTypeId::ForName(String* name) {
  _Update();
  Ref<String> lower = (name ? name : EmptyString())->ToLower();
  Ref<TTypeId> found = Cast<TTypeId>(State().names->ValueForKey(lower));
  if (!found.IsNull()) return found;
  if (name && name->Length() > 2 && name->View().ends_with(u"[]")) {
    Ref<TTypeId> element =
        ForName(String::FromUnits(name->View().substr(0, std::size_t(name->Length() - 2))));
    if (!element.IsNull()) return element->ArrayType(1);
  }
  return Ref<TTypeId>();
}

Ref<TTypeId> TTypeId::ForObject(Object* obj) {
  _Update();
  if (IsNull(obj)) return Ref<TTypeId>();
  if (auto* array = CastRaw<Array>(obj)) {
    if (array->DimensionCount() == 0) return Ref<TTypeId>(ArrayTypeId());
    // Arrays of pointers or functions have no reflected element type.
    Ref<TTypeId> element = TypeIdForTag(array->Tag());
    return element.IsNull() ? Ref<TTypeId>() : element->ArrayType(1);
  }
  return Cast<TTypeId>(State().classes->ValueForKey(KeyOf(&obj->Class())));
}

Ref<TList> TTypeId::EnumTypes() {
  _Update();
  Ref<TList> list = New<TList>();
  Ref<TNodeEnumerator> values = State().names->Values()->ObjectEnumerator();
  while (values->HasNext()) list->AddLast(values->NextObject());
  return list;
}

Ref<TTypeId> TTypeId::Init(String* name, int32_t size, const ClassRecord* record, TTypeId* super) {
  _name = name;
  _size = size;
  _class = record;
  _super = super;
  _fields = New<TList>();
  _methods = New<TList>();
  State().names->Insert(_name->ToLower(), this);
  if (record) State().classes->Insert(KeyOf(record), this);
  return Ref<TTypeId>(this);
}

Ref<TTypeId> TTypeId::SetClass(const ClassRecord* record) {
  auto [name, meta] = SplitMeta(record->Description());
  _name = Narrow(name);
  _meta = Narrow(meta);
  _class = record;
  State().names->Insert(_name->ToLower(), this);
  State().classes->Insert(KeyOf(record), this);
  return Ref<TTypeId>(this);
}

void TTypeId::_Update() {
  reflection::Init();
  ReflectionState& s = State();
  const std::vector<const ClassRecord*>& classes = RegisteredClasses();
  if (classes.size() == s.handled) return;
  std::size_t from = s.handled;
  s.handled = classes.size();
  Ref<TList> fresh = New<TList>();
  for (std::size_t i = from; i < classes.size(); ++i) {
    // A class that already has a type id (the built-in Object, String and
    // Array, or a class registered twice) keeps it.
    Ref<TTypeId> type = Cast<TTypeId>(s.classes->ValueForKey(KeyOf(classes[i])));
    if (type.IsNull()) type = New<TTypeId>()->SetClass(classes[i]);
    fresh->AddLast(type);
  }
  for (TTypeId* type : ListOf<TTypeId>(fresh)) type->_Resolve();
}

namespace {

// "(a,b,[,]c)": the argument tags, cutting at commas except those that
// directly follow "[" (the dimensions of an array tag).
std::vector<std::string_view> SplitArguments(std::string_view part) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  bool inDimensions = false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    char c = part[i];
    if (c == '[') {
      inDimensions = true;
    } else if (c == ',') {
      if (inDimensions) continue;
      pieces.push_back(part.substr(start, i - start));
      start = i + 1;
    } else {
      inDimensions = false;
    }
  }
  pieces.push_back(part.substr(start));
  return pieces;
}

}  // namespace

int32_t TTypeId::_Resolve() {
  if (_resolved || !_class) return 0;
  _resolved = true;
  if (_fields.IsNull()) _fields = New<TList>();
  if (_methods.IsNull()) _methods = New<TList>();

  ReflectionState& s = State();
  Ref<TTypeId> base;
  if (_class->Super()) base = Cast<TTypeId>(s.classes->ValueForKey(KeyOf(_class->Super())));
  if (base.IsNull()) base = ObjectTypeId();
  // Object itself has no base (it never becomes its own).
  if (base.get() != this) {
    _super = base;
    base->DerivedTypes()->AddLast(this);
  }

  const std::vector<Declaration>& declarations = _class->Declarations();
  for (std::size_t i = 0; i < declarations.size(); ++i) {
    const Declaration& d = declarations[i];
    if (d.kind != Declaration::Kind::Field && d.kind != Declaration::Kind::Method) continue;
    std::string fullTag = d.Tag();
    auto [tag, tagMeta] = SplitMeta(fullTag);
    auto [name, nameMeta] = SplitMeta(d.name);
    Ref<String> meta = Narrow(tagMeta.empty() ? nameMeta : tagMeta);
    auto index = static_cast<int32_t>(i);
    if (d.kind == Declaration::Kind::Field) {
      Ref<TTypeId> type = TypeIdForTag(tag);
      if (type.IsNull()) continue;  // pointers, functions, unknown classes
      Ref<TField> field = New<TField>()->Init(Narrow(name), type, meta, index);
      field->Bind(_class);
      _fields->AddLast(field);
      continue;
    }
    std::size_t close = tag.find(')');
    if (tag.empty() || tag[0] != '(' || close == std::string_view::npos) continue;
    std::string_view returnTag = tag.substr(close + 1);
    // A method without a result returns Int 0, as the language's do.
    Ref<TTypeId> returnType = returnTag.empty() ? Ref<TTypeId>(IntTypeId()) : TypeIdForTag(returnTag);
    if (returnType.IsNull()) continue;
    std::string_view arguments = tag.substr(0, close);
    Ref<TList> types = New<TList>();
    bool reflected = true;
    if (arguments.size() > 1) {
      for (std::string_view piece : SplitArguments(arguments.substr(1))) {
        Ref<TTypeId> type = TypeIdForTag(piece);
        if (type.IsNull()) {
          reflected = false;
          break;
        }
        types->AddLast(type);
      }
    }
    if (!reflected) continue;
    Ref<Array> argTypes = Array::New(":TTypeId", types->Count());
    int32_t k = 0;
    for (TTypeId* type : ListOf<TTypeId>(types)) argTypes->SetObject(k++, type);
    _methods->AddLast(New<TMethod>()->Init(Narrow(name), returnType, meta, this, index, argTypes));
  }
  return 0;
}

}  // namespace vrl
