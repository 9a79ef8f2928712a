#include "runtime/Array.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"

namespace vrl {

constinit Array gEmptyArray{kStatic};

template <>
Object* detail::Vacant<Array>() {
  return &gEmptyArray;
}

const ClassRecord& Array::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<Array>("Array", [](auto& d) {
    d.template Method<&Array::Sort>("Sort");
    d.template Method<&Array::Dimensions>("Dimensions", "()[]i");
  });
  return record;
}

void NullFunction() { ThrowNullFunctionException(); }

namespace {

// Arrays keep a pointer to their tag text, so tags are interned for the
// whole run.
const char* InternTag(std::string_view tag) {
  static std::mutex* lock = new std::mutex;
  static auto* tags = new std::unordered_set<std::string>;
  std::lock_guard<std::mutex> guard(*lock);
  return tags->emplace(tag).first->c_str();
}

bool IsReferenceTag(char first) { return first == '$' || first == ':' || first == '['; }

// Fills elements [from, to) with the tag's initial value. References to the
// shared objects are stored without counting: those are never freed.
void FillInitial(char first, unsigned char* data, int32_t from, int32_t to, std::size_t elementSize) {
  Object* initial = nullptr;
  void (*function)() = nullptr;
  switch (first) {
    case '$':
      initial = EmptyString();
      break;
    case ':':
      initial = Null();
      break;
    case '[':
      initial = EmptyArray();
      break;
    case '(':
      function = &NullFunction;
      break;
    default:
      std::memset(data + static_cast<std::size_t>(from) * elementSize, 0,
                  static_cast<std::size_t>(to - from) * elementSize);
      return;
  }
  for (int32_t i = from; i < to; ++i) {
    if (initial)
      reinterpret_cast<Object**>(data)[i] = initial;
    else
      reinterpret_cast<void (**)()>(data)[i] = function;
  }
}

std::size_t ScalesBytes(int32_t dimensions) {
  return (std::size_t(dimensions) * sizeof(int32_t) + 15) & ~std::size_t(15);
}

// Quicksort: median of three as pivot (put in order in place), partition from
// both ends, recurse on the left part and iterate on the right one.
template <class T, class Less>
void QuickSort(T* a, int32_t lo, int32_t hi, Less less) {
  while (hi > lo) {
    if (hi - lo == 1) {
      if (less(a[hi], a[lo])) std::swap(a[lo], a[hi]);
      return;
    }
    int32_t mid = lo + (hi - lo) / 2;
    if (less(a[mid], a[lo])) std::swap(a[lo], a[mid]);
    if (less(a[hi], a[mid])) {
      std::swap(a[mid], a[hi]);
      if (less(a[mid], a[lo])) std::swap(a[lo], a[mid]);
    }
    T pivot = a[mid];
    int32_t i = lo, j = hi;
    while (i <= j) {
      while (less(a[i], pivot)) ++i;
      while (less(pivot, a[j])) --j;
      if (i <= j) {
        std::swap(a[i], a[j]);
        ++i;
        --j;
      }
    }
    if (lo < j) QuickSort(a, lo, j, less);
    lo = i;
  }
}

template <class T>
void SortNumbers(void* data, int32_t n, bool ascending) {
  auto* a = static_cast<T*>(data);
  if (ascending)
    QuickSort(a, 0, n - 1, [](T x, T y) { return x < y; });
  else
    QuickSort(a, 0, n - 1, [](T x, T y) { return y < x; });
}

// The size only depends on the tag's first character.
int32_t ElementSizeOf(char first) {
  switch (first) {
    case 'b':
      return 1;
    case 's':
      return 2;
    case 'i':
    case 'f':
      return 4;
    case 'l':
    case 'd':
      return 8;
    case '$':
    case ':':
    case '[':
    case '(':
    case '*':
      return sizeof(void*);
    default:
      return 4;
  }
}
}  // namespace

int32_t ElementSizeOfTag(std::string_view tag) { return ElementSizeOf(tag.empty() ? '\0' : tag[0]); }

// The tag is read for its first character only: no length is measured on
// every checked access.
int32_t Array::ElementSize() const { return ElementSizeOf(_tag[0]); }
bool Array::HoldsObjects() const { return IsReferenceTag(_tag[0]); }

Ref<Array> Array::New(std::string_view tag, int32_t length) { return vrNewArray(tag, 1, &length); }

Ref<Array> Array::New(std::string_view tag, std::initializer_list<int32_t> lengths) {
  return vrNewArray(tag, static_cast<int32_t>(lengths.size()), lengths.begin());
}

Ref<Array> Array::New(std::string_view tag, int32_t dimensions, const int32_t* lengths) {
  return vrNewArray(tag, dimensions, lengths);
}

Ref<Array> vrNewArray(std::string_view tag, int32_t dimensions, const int32_t* lengths) {
  if (dimensions <= 0) return Ref<Array>(EmptyArray());
  for (int32_t i = 0; i < dimensions; ++i) {
    if (lengths[i] <= 0) return Ref<Array>(EmptyArray());
  }
  int32_t elementSize = ElementSizeOfTag(tag);
  int64_t count = 1;
  for (int32_t i = 0; i < dimensions; ++i) {
    count *= lengths[i];
    if (count * elementSize > INT32_MAX) throw std::bad_alloc();
  }
  auto dataSize = static_cast<int32_t>(count * elementSize);
  std::size_t size = sizeof(Array) + ScalesBytes(dimensions) + std::size_t(dataSize);
  void* block = vrAllocObject(size);
  auto* scales = reinterpret_cast<int32_t*>(static_cast<char*>(block) + sizeof(Array));
  auto* data = reinterpret_cast<unsigned char*>(scales) + ScalesBytes(dimensions);
  int32_t scale = 1;
  for (int32_t i = dimensions; i-- > 0;) {
    scale *= lengths[i];
    scales[i] = scale;
  }
  const char* interned = InternTag(tag);
  FillInitial(interned[0], data, 0, scales[0], static_cast<std::size_t>(elementSize));
  return Ref<Array>(new (block) Array(interned, dimensions, dataSize, scales, data));
}

void Array::Free() {
  if (this == &gEmptyArray) {
    ResetSharedCount();
    return;
  }
  if (HoldsObjects()) {
    auto** elements = reinterpret_cast<Object**>(_data);
    for (int32_t i = 0, n = Length(); i < n; ++i) elements[i]->Release();
  }
  std::size_t size = sizeof(Array) + ScalesBytes(_dimensions) + std::size_t(_dataSize);
  this->~Array();
  vrReleaseObject(this, size);
}

void Array::CheckIndex(int32_t index, std::size_t elementSize) const {
  if (index < 0 || index >= Length()) ThrowArrayBoundsException();
  if (elementSize != std::size_t(ElementSize())) vrThrowText("C Assert failed");
}

int32_t Array::IndexOf(std::initializer_list<int32_t> position) const {
  if (static_cast<int32_t>(position.size()) != _dimensions) ThrowArrayBoundsException();
  int32_t index = 0, d = 0;
  for (int32_t coordinate : position) {
    int32_t length = d + 1 < _dimensions ? _scales[d] / _scales[d + 1] : _scales[d];
    if (coordinate < 0 || coordinate >= length) ThrowArrayBoundsException();
    index += coordinate * (d + 1 < _dimensions ? _scales[d + 1] : 1);
    ++d;
  }
  return index;
}

Object* Array::GetObject(int32_t index) const {
  if (!HoldsObjects()) vrThrowText("C Assert failed");
  CheckIndex(index, sizeof(void*));  // reference elements are pointers
  return reinterpret_cast<Object* const*>(_data)[index];
}

void Array::SetObject(int32_t index, Object* value) {
  if (!HoldsObjects()) vrThrowText("C Assert failed");
  CheckIndex(index, sizeof(void*));
  if (!value) value = _tag[0] == '$' ? EmptyString() : _tag[0] == '[' ? EmptyArray() : Null();
  Object*& slot = reinterpret_cast<Object**>(_data)[index];
  value->Retain();
  Object* old = slot;
  slot = value;
  old->Release();
}

void Array::Sort(int32_t ascending) {
  int32_t n = Length();
  if (_dimensions != 1 || n < 2) return;
  bool up = ascending != 0;
  switch (_tag[0]) {
    case 'b':
      SortNumbers<uint8_t>(_data, n, up);
      break;
    case 's':
      SortNumbers<uint16_t>(_data, n, up);
      break;
    case 'i':
      SortNumbers<int32_t>(_data, n, up);
      break;
    case 'l':
      SortNumbers<int64_t>(_data, n, up);
      break;
    case 'f':
      SortNumbers<float>(_data, n, up);
      break;
    case 'd':
      SortNumbers<double>(_data, n, up);
      break;
    case '$':
    case ':': {
      auto** a = reinterpret_cast<Object**>(_data);
      if (up)
        QuickSort(a, 0, n - 1, [](Object* x, Object* y) { return x->Compare(y) < 0; });
      else
        QuickSort(a, 0, n - 1, [](Object* x, Object* y) { return y->Compare(x) < 0; });
      break;
    }
    default:
      break;
  }
}

Ref<Array> Array::Dimensions() {
  if (_dimensions == 0) return Ref<Array>(EmptyArray());
  Ref<Array> out = Array::New("i", _dimensions);
  auto* lengths = out->DataAs<int32_t>();
  for (int32_t i = 0; i < _dimensions; ++i) {
    lengths[i] = i + 1 < _dimensions ? _scales[i] / _scales[i + 1] : _scales[i];
  }
  return out;
}

Object* vrCastArray(Object* object, std::string_view tag) {
  auto* array = CastRaw<Array>(object);
  if (!array) return Null();
  if (array == EmptyArray()) return array;
  std::string_view own = array->Tag();
  if (own == tag) return array;
  if (!own.empty() && !tag.empty() && own[0] == ':' && tag[0] == ':') return array;
  return Null();
}

Ref<Array> vrSliceArray(std::string_view tag, Array* array, int32_t start, int32_t end) {
  int64_t count = int64_t(end) - start;
  if (count < 1 || count > INT32_MAX) return Ref<Array>(EmptyArray());
  Ref<Array> out = Array::New(tag, static_cast<int32_t>(count));
  int32_t length = array ? array->Length() : 0;
  int32_t elementSize = out->ElementSize();
  if (!array || array->ElementSize() != elementSize) return out;
  auto bytes = static_cast<std::size_t>(elementSize);
  for (int64_t i = std::max<int64_t>(start, 0); i < std::min<int64_t>(end, length); ++i) {
    auto to = static_cast<int32_t>(i - start), from = static_cast<int32_t>(i);
    if (out->HoldsObjects()) {
      out->SetObject(to, array->GetObject(from));
    } else {
      std::memcpy(out->DataAs<unsigned char>() + static_cast<std::size_t>(to) * bytes,
                  static_cast<const unsigned char*>(array->Data()) + static_cast<std::size_t>(from) * bytes,
                  bytes);
    }
  }
  return out;
}

Ref<Array> vrConcatArrays(std::string_view tag, Array* a, Array* b) {
  int32_t la = a ? a->Length() : 0, lb = b ? b->Length() : 0;
  int64_t total = int64_t(la) + lb;
  if (total <= 0 || total > INT32_MAX) return Ref<Array>(EmptyArray());
  Ref<Array> out = Array::New(tag, static_cast<int32_t>(total));
  int32_t elementSize = out->ElementSize();
  int32_t at = 0;
  for (Array* part : {a, b}) {
    if (!part) continue;
    int32_t n = part->Length();
    if (n && part->ElementSize() == elementSize) {
      if (out->HoldsObjects()) {
        for (int32_t i = 0; i < n; ++i) out->SetObject(at + i, part->GetObject(i));
      } else {
        auto bytes = static_cast<std::size_t>(elementSize);
        std::memcpy(out->DataAs<unsigned char>() + static_cast<std::size_t>(at) * bytes, part->Data(),
                    static_cast<std::size_t>(n) * bytes);
      }
    }
    at += n;
  }
  return out;
}

Ref<Array> vrArrayFromInts(std::string_view tag, int32_t count, const int32_t* ints) {
  if (count <= 0) return Ref<Array>(EmptyArray());
  Ref<Array> out = Array::New(tag, count);
  switch (out->Tag()[0]) {
    case 'b':
      for (int32_t i = 0; i < count; ++i) out->DataAs<uint8_t>()[i] = static_cast<uint8_t>(ints[i]);
      break;
    case 's':
      for (int32_t i = 0; i < count; ++i) out->DataAs<uint16_t>()[i] = static_cast<uint16_t>(ints[i]);
      break;
    default:
      // The data as it stands: an Int buffer that holds count elements of the
      // tag's size. References would bypass counting, so they are refused.
      if (out->HoldsObjects()) vrThrowText("C Assert failed");
      std::memcpy(out->Data(), ints,
                  static_cast<std::size_t>(count) * static_cast<std::size_t>(out->ElementSize()));
      break;
  }
  return out;
}

}  // namespace vrl
