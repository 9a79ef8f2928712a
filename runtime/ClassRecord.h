// Class records: one static record per framework class, carrying the class's
// description (name with optional metadata in braces, base class, instance
// size, and the declarations of its fields and methods with their type tags).
// Reflection and the script bridge read these descriptions; the runtime uses
// them for casts.
//
// A class declares its record with VRL_CLASS(Name, Base) (runtime/Object.h)
// and defines it in its .cpp:
//
//   const ClassRecord& TThing::StaticClass() {
//     static const ClassRecord record = ClassRecord::Of<TThing>("TThing", [](auto& d) {
//       d.template Field<&TThing::_size>("_size");
//       d.template Method<&TThing::Grow>("Grow");
//       d.template Function<&TThing::Create>("Create");  // static
//     });
//     return record;
//   }
//
// and registers it when its module initialises (vrRegisterClass). Type tags
// are derived from the C++ types: "b" Byte, "s" Short, "i" Int, "l" Long,
// "f" Float, "d" Double, "$" String, ":Name" object, "[]..." array,
// "(args)ret" method signature, "*" or "*" + pointee tag for raw pointers,
// out parameters and other C++ values (reflection skips those members, and
// methods that take or return them get no invoker). Pass a tag explicitly
// where the C++ type does not say enough (the element type of an array,
// metadata) or to hide a member behind a pointer tag.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/Object.h"

namespace vrl {

class String;
class Array;

/// A boxed argument or result of a reflected call: a number or an object.
struct Value {
  enum class Kind : uint8_t { None, Int, Long, Float, Double, Object };
  Kind kind = Kind::None;
  int64_t i = 0;
  double d = 0;
  Ref<Object> o;

  static Value FromInt(int64_t v) { return {Kind::Int, v, 0, {}}; }
  static Value FromLong(int64_t v) { return {Kind::Long, v, 0, {}}; }
  static Value FromFloat(double v) { return {Kind::Float, 0, v, {}}; }
  static Value FromDouble(double v) { return {Kind::Double, 0, v, {}}; }
  static Value FromObject(Object* v) { return {Kind::Object, 0, 0, Ref<Object>(v)}; }
};

/// One declaration of a class description.
struct Declaration {
  enum class Kind : uint8_t { Constant = 1, Field = 3, Method = 6, Function = 7 };
  Kind kind = Kind::Field;
  std::string name;  // may carry metadata: name{key=value}
  /// The type tag (may carry metadata). Tags that name classes are made on
  /// request, since a class may name itself in its own description.
  std::string Tag() const { return makeTag ? makeTag() : tag; }
  std::string tag;
  std::string (*makeTag)() = nullptr;
  /// Fields: the address of the field inside an instance.
  void* (*address)(Object* self) = nullptr;
  /// Methods: calls the method on `self` with unboxed arguments.
  Value (*invoke)(Object* self, std::span<const Value> args) = nullptr;
  /// Constants: the value text.
  std::string value;
};

class ClassRecord {
 public:
  template <class T, class Describe>
  static ClassRecord Of(std::string_view description, Describe describe);
  template <class T>
  static ClassRecord Of(std::string_view description) {
    return Of<T>(description, [](auto&) {});
  }

  /// The description name, metadata included ("TThing{meta}").
  const std::string& Description() const { return _description; }
  /// The class name without metadata.
  const std::string& Name() const { return _name; }
  const ClassRecord* Super() const { return _super; }
  /// Bytes of an instance; 0 for String and Array, whose size varies.
  std::size_t InstanceSize() const { return _instanceSize; }
  const std::vector<Declaration>& Declarations() const { return _declarations; }

  /// Creates an instance (the class's default constructor), or Null when the
  /// class cannot be created that way.
  Ref<Object> NewInstance() const { return _factory ? _factory() : Ref<Object>(); }

  bool Extends(const ClassRecord& other) const {
    for (const ClassRecord* c = this; c; c = c->_super)
      if (c == &other) return true;
    return false;
  }

 private:
  ClassRecord() = default;
  template <class T>
  friend class ClassBuilder;

  std::string _description;
  std::string _name;
  const ClassRecord* _super = nullptr;
  std::size_t _instanceSize = 0;
  Ref<Object> (*_factory)() = nullptr;
  std::vector<Declaration> _declarations;
};

/// Creates an object of the record's class (its default constructor); Null
/// for classes that cannot be created without arguments.
Ref<Object> vrNewObject(const ClassRecord& record);

/// The class list: every record registered so far, in registration order.
void vrRegisterClass(const ClassRecord& record);
const std::vector<const ClassRecord*>& RegisteredClasses();

// ---------------------------------------------------------------------------
// Type tags from C++ types.

namespace detail {

template <class T>
struct IsRef : std::false_type {};
template <class T>
struct IsRef<Ref<T>> : std::true_type {
  using Target = T;
};

template <class T>
std::string TypeTag();

/// Whether a C++ type is an object of the framework (String and Array too).
template <class T>
constexpr bool IsObjectPointer =
    std::is_pointer_v<T>&& std::is_base_of_v<Object, std::remove_cv_t<std::remove_pointer_t<T>>>;

/// A pointer that is not a framework object ("*" + the pointee's tag when the
/// pointee is a number, else "*"), a reference to a mutable value, or any
/// other C++ type (a container, a view, a callback): reflection skips members
/// whose tags start with "*".
template <class T>
std::string PointerTag() {
  using P = std::remove_cv_t<T>;
  if constexpr (std::is_arithmetic_v<P> || std::is_enum_v<P>)
    return "*" + TypeTag<P>();
  else
    return "*";
}

template <class T>
std::string TypeTag() {
  if constexpr (std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>> &&
                !std::is_base_of_v<Object, std::remove_reference_t<T>>) {
    return PointerTag<std::remove_reference_t<T>>();  // an out parameter
  } else {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, void>)
      return "";
    else if constexpr (std::is_enum_v<U>)
      return TypeTag<std::underlying_type_t<U>>();
    else if constexpr (std::is_same_v<U, uint8_t> || std::is_same_v<U, int8_t> || std::is_same_v<U, char>)
      return "b";
    else if constexpr (std::is_same_v<U, uint16_t> || std::is_same_v<U, int16_t> ||
                       std::is_same_v<U, char16_t>)
      return "s";
    else if constexpr (std::is_same_v<U, int32_t> || std::is_same_v<U, uint32_t> || std::is_same_v<U, bool>)
      return "i";
    else if constexpr (std::is_same_v<U, int64_t> || std::is_same_v<U, uint64_t>)
      return "l";
    else if constexpr (std::is_same_v<U, float>)
      return "f";
    else if constexpr (std::is_same_v<U, double>)
      return "d";
    else if constexpr (IsRef<U>::value)
      return TypeTag<typename IsRef<U>::Target*>();
    else if constexpr (IsObjectPointer<U>) {
      using C = std::remove_cv_t<std::remove_pointer_t<U>>;
      if constexpr (std::is_same_v<C, String>)
        return "$";
      else if constexpr (std::is_same_v<C, Array>)
        return "[]:Object";
      else
        return ":" + C::StaticClass().Name();
    } else if constexpr (std::is_pointer_v<U>) {
      return PointerTag<std::remove_pointer_t<U>>();
    } else {
      return "*";  // any other C++ value: not reflected
    }
  }
}

/// Whether an argument of this type can be made from a boxed value. A method
/// that takes a raw pointer (a buffer, a callback) or an out parameter is
/// described but gets no invoker: no boxed value could stand for the memory
/// it would write.
template <class A>
constexpr bool IsUnboxable() {
  if constexpr (std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>) {
    return false;
  } else {
    using U = std::remove_cvref_t<A>;
    return std::is_arithmetic_v<U> || std::is_enum_v<U> || IsRef<U>::value || IsObjectPointer<U>;
  }
}

template <class R>
constexpr bool IsBoxable() {
  using U = std::remove_cvref_t<R>;
  /// A raw buffer handed back (text the caller must free) has no boxed form.
  return std::is_void_v<U> || std::is_arithmetic_v<U> || std::is_enum_v<U> || IsRef<U>::value ||
         IsObjectPointer<U>;
}

template <class T>
T Unbox(const Value& v) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_enum_v<U>) {
    return static_cast<U>(Unbox<std::underlying_type_t<U>>(v));
  } else if constexpr (std::is_arithmetic_v<U>) {
    if (v.kind == Value::Kind::Float || v.kind == Value::Kind::Double) return static_cast<U>(v.d);
    return static_cast<U>(v.i);
  } else if constexpr (IsRef<U>::value) {
    return U(CastRaw<typename IsRef<U>::Target>(v.o.object()));
  } else if constexpr (IsObjectPointer<U>) {
    return CastRaw<std::remove_cv_t<std::remove_pointer_t<U>>>(v.o.object());
  } else {
    static_assert(sizeof(U) == 0, "argument type cannot be reflected");
  }
}

template <class T>
Value Box(T&& result) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, float>)
    return Value::FromFloat(result);
  else if constexpr (std::is_same_v<U, double>)
    return Value::FromDouble(result);
  else if constexpr (std::is_same_v<U, int64_t> || std::is_same_v<U, uint64_t>)
    return Value::FromLong(static_cast<int64_t>(result));
  else if constexpr (std::is_arithmetic_v<U> || std::is_enum_v<U>)
    return Value::FromInt(static_cast<int64_t>(result));
  else if constexpr (IsRef<U>::value)
    return Value::FromObject(result.object());
  else if constexpr (IsObjectPointer<U>)
    return Value::FromObject(const_cast<std::remove_cv_t<std::remove_pointer_t<U>>*>(result));
  else
    static_assert(sizeof(U) == 0, "result type cannot be reflected");
}

template <class R, class... A>
struct Signature {
  static std::string Tag() {
    std::string tag = "(";
    std::size_t i = 0;
    ((tag += (i++ ? "," : "") + TypeTag<A>()), ...);
    return tag + ")" + TypeTag<R>();
  }
  /// Whether the call can be made from boxed values at all.
  static constexpr bool callable = (IsUnboxable<A>() && ...) && IsBoxable<R>();
};

template <class M>
struct MethodTraits;
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...)> : Signature<R, A...> {
  using Return = R;
  using Class = C;
  static constexpr std::size_t arity = sizeof...(A);
  template <auto M, std::size_t... I>
  static Value Call(Object* self, std::span<const Value> args, std::index_sequence<I...>) {
    C* target = static_cast<C*>(self);
    if constexpr (std::is_void_v<R>) {
      (target->*M)(Unbox<A>(args[I])...);
      return {};
    } else {
      return Box((target->*M)(Unbox<A>(args[I])...));
    }
  }
};
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...) const> : MethodTraits<R (C::*)(A...)> {};

/// Class functions: no receiver.
template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> : Signature<R, A...> {
  static constexpr std::size_t arity = sizeof...(A);
  template <auto F, std::size_t... I>
  static Value Call(std::span<const Value> args, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      F(Unbox<A>(args[I])...);
      return {};
    } else {
      return Box(F(Unbox<A>(args[I])...));
    }
  }
};

/// The tag a field of type F gets without an explicit one; refuses fields that
/// reflection would write with the wrong width or without counting.
template <class F>
std::string FieldTag() {
  static_assert(!std::is_same_v<F, bool>,
                "a bool field is one byte: declare it with a pointer tag (\"*\") or make it int32_t");
  static_assert(!IsObjectPointer<F>,
                "a raw object pointer is not counted: hold it in a Ref<> or declare it with a pointer tag");
  return TypeTag<F>();
}

/// An explicit tag must keep what reflection would write into the field: a
/// number field keeps its own tag (metadata may follow), an array field an
/// array tag, an object field an object tag; bool fields, raw pointers and
/// function pointers only pointer or function tags, which reflection skips
/// (any member may be hidden that way).
template <class F>
bool FieldTagFits(std::string_view tag) {
  std::string_view base = tag.substr(0, tag.find('{'));
  if (base.empty()) return false;
  if (base[0] == '*' || base[0] == '(') return true;  // hidden from reflection: always safe
  if constexpr ((std::is_arithmetic_v<F> && !std::is_same_v<F, bool>) || std::is_enum_v<F>) {
    return base == TypeTag<F>();
  } else if constexpr (std::is_same_v<F, Ref<Array>>) {
    return base[0] == '[';
  } else if constexpr (std::is_same_v<F, Ref<String>>) {
    return base == "$";
  } else if constexpr (IsRef<F>::value) {
    return base[0] == ':';
  } else {
    return false;  // bool, raw and function pointers, other C++ values
  }
}

/// A record that describes a member wrongly is a programming error found when
/// the record is built: it ends the program with the member's name.
[[noreturn]] void RefuseDeclaration(std::string_view className, std::string_view member,
                                    std::string_view tag);

}  // namespace detail

/// Collects the declarations of class T; handed to the describe function of
/// ClassRecord::Of.
template <class T>
class ClassBuilder {
 public:
  explicit ClassBuilder(ClassRecord& record) : _record(record) {}

  /// A field, by member pointer; the tag comes from the field's type.
  template <auto Member>
  ClassBuilder& Field(std::string_view name) {
    using FieldType = std::remove_cvref_t<decltype(std::declval<T&>().*Member)>;
    Declaration d = FieldDeclaration<Member>(name);
    d.makeTag = &detail::FieldTag<FieldType>;
    _record._declarations.push_back(std::move(d));
    return *this;
  }
  /// A field with an explicit tag: metadata, the element type of an array, or
  /// a pointer or function tag for members that reflection must not touch.
  template <auto Member>
  ClassBuilder& Field(std::string_view name, std::string_view tag) {
    using FieldType = std::remove_cvref_t<decltype(std::declval<T&>().*Member)>;
    if (!detail::FieldTagFits<FieldType>(tag)) detail::RefuseDeclaration(_record._description, name, tag);
    Declaration d = FieldDeclaration<Member>(name);
    d.tag = std::string(tag);
    _record._declarations.push_back(std::move(d));
    return *this;
  }

  /// A method, by member function pointer; the tag is its signature. A method
  /// whose arguments or result have no boxed form is described but cannot be
  /// invoked (its tag says "*" where those types stand).
  template <auto Function>
  ClassBuilder& Method(std::string_view name, std::string_view tag = {}) {
    using Traits = detail::MethodTraits<decltype(Function)>;
    Declaration d;
    d.kind = Declaration::Kind::Method;
    d.name = std::string(name);
    d.tag = std::string(tag);
    if (tag.empty()) d.makeTag = &Traits::Tag;
    if constexpr (Traits::callable) {
      d.invoke = [](Object* self, std::span<const Value> args) -> Value {
        if (args.size() < Traits::arity) return {};
        return Traits::template Call<Function>(self, args, std::make_index_sequence<Traits::arity>());
      };
    }
    _record._declarations.push_back(std::move(d));
    return *this;
  }

  /// A class function (static), by function pointer; its invoker ignores the
  /// receiver it is handed.
  template <auto F>
  ClassBuilder& Function(std::string_view name, std::string_view tag = {}) {
    using Traits = detail::FunctionTraits<decltype(F)>;
    Declaration d;
    d.kind = Declaration::Kind::Function;
    d.name = std::string(name);
    d.tag = std::string(tag);
    if (tag.empty()) d.makeTag = &Traits::Tag;
    if constexpr (Traits::callable) {
      d.invoke = [](Object*, std::span<const Value> args) -> Value {
        if (args.size() < Traits::arity) return {};
        return Traits::template Call<F>(args, std::make_index_sequence<Traits::arity>());
      };
    }
    _record._declarations.push_back(std::move(d));
    return *this;
  }

  /// A constant with its value text.
  ClassBuilder& Constant(std::string_view name, std::string_view tag, std::string_view value) {
    Declaration d;
    d.kind = Declaration::Kind::Constant;
    d.name = std::string(name);
    d.tag = std::string(tag);
    d.value = std::string(value);
    _record._declarations.push_back(std::move(d));
    return *this;
  }

 private:
  template <auto Member>
  static Declaration FieldDeclaration(std::string_view name) {
    Declaration d;
    d.kind = Declaration::Kind::Field;
    d.name = std::string(name);
    d.address = [](Object* self) -> void* { return &(static_cast<T*>(self)->*Member); };
    return d;
  }

  ClassRecord& _record;
};

template <class T, class Describe>
ClassRecord ClassRecord::Of(std::string_view description, Describe describe) {
  ClassRecord record;
  record._description = std::string(description);
  record._name = record._description.substr(0, record._description.find('{'));
  if constexpr (!std::is_same_v<T, Object>) record._super = &T::Super::StaticClass();
  /// String and Array say kVariableSize: their instances differ in size.
  if constexpr (!requires { T::kVariableSize; }) record._instanceSize = sizeof(T);
  if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
    record._factory = []() -> Ref<Object> { return Ref<Object>(new T()); };
  ClassBuilder<T> builder(record);
  describe(builder);
  return record;
}

// Defines the record of a class that declares no members for reflection.
#define VRL_CLASS_RECORD(Name, Description)                                             \
  const ::vrl::ClassRecord& Name::StaticClass() {                                       \
    static const ::vrl::ClassRecord record = ::vrl::ClassRecord::Of<Name>(Description); \
    return record;                                                                      \
  }

}  // namespace vrl
