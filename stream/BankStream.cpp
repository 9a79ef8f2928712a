#include "stream/BankStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TBankStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TBankStream>("TBankStream", [](auto& d) {
    d.template Field<&TBankStream::_pos>("_pos");
    d.template Field<&TBankStream::_bank>("_bank");
    d.template Function<&TBankStream::Create>("Create");
  });
  return record;
}

VRL_CLASS_RECORD(TBankStreamFactory, "TBankStreamFactory")

void bankstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  bank::Init();
  vrRegisterClass(TBankStream::StaticClass());
  vrRegisterClass(TBankStreamFactory::StaticClass());
  New<TBankStreamFactory>();
}

Ref<TBankStream> TBankStream::Create(TBank* bank) {
  Ref<TBankStream> stream = New<TBankStream>();
  stream->_bank = bank;
  return stream;
}

Ref<TBankStream> CreateBankStream(TBank* bank) {
  Ref<TBank> target(bank);
  if (target.IsNull()) target = TBank::Create(0);
  return TBankStream::Create(target);
}

int32_t TBankStream::Size() { return _bank->Size(); }

int32_t TBankStream::Seek(int32_t pos) {
  _pos = std::clamp(pos, 0, _bank->Size());
  return _pos;
}

int32_t TBankStream::Read(void* buf, int32_t count) {
  int32_t size = _bank->Size();
  if (count < 1 || _pos >= size) return 0;
  count = std::min(count, size - _pos);
  std::memcpy(buf, _bank->Buf() + _pos, std::size_t(count));
  _pos += count;
  return count;
}

int32_t TBankStream::Write(const void* buf, int32_t count) {
  if (count < 1 || _pos > _bank->Size()) return 0;
  count = std::min(count, INT32_MAX - _pos);  // a bank's size is an Int
  if (count < 1) return 0;
  if (_pos + count > _bank->Size()) _bank->Resize(_pos + count);
  std::memcpy(_bank->Buf() + _pos, buf, std::size_t(count));
  _pos += count;
  return count;
}

Ref<TStream> TBankStreamFactory::CreateStream(Object* url, String*, String*, int32_t, int32_t) {
  if (auto* bank = CastRaw<TBank>(url)) return TBankStream::Create(bank);
  return {};
}

}  // namespace vrl
