// Streams over banks. Writing past the end grows the bank (geometrically, so
// appending is amortised constant time). OpenStream of a TBank gives one.
#pragma once

#include <cstdint>

#include "stream/Bank.h"
#include "stream/Stream.h"

namespace vrl {

class TBankStream : public TStream {
  VRL_CLASS(TBankStream, TStream)
  int32_t Pos() override { return _pos; }
  int32_t Size() override;
  /// Clamped to 0..the bank's size.
  int32_t Seek(int32_t pos) override;
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;

  static Ref<TBankStream> Create(TBank* bank);
  /// The bank read and written.
  TBank* Bank() const { return _bank.get(); }

 private:
  int32_t _pos = 0;
  Ref<TBank> _bank;
};

/// Answers any URL that is a TBank, whatever the protocol.
class TBankStreamFactory : public TStreamFactory {
  VRL_CLASS(TBankStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

/// A Null bank is replaced by a new empty one.
Ref<TBankStream> CreateBankStream(TBank* bank);

namespace bankstream {
/// Registers the classes and enrols the bank factory.
void Init();
}  // namespace bankstream

}  // namespace vrl
