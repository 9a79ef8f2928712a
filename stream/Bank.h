// Banks: growable byte buffers with typed peek and poke access.
//
// A bank owns its block, except a static bank (capacity -1), which points at
// memory that the caller owns. Growing or resizing a static bank first copies
// its bytes into a new block that the bank owns; the caller's memory is never
// written through by a resize and never freed.
//
// Peek, poke, Read, Write and CopyBank check their byte ranges against Size
// and throw TArrayBoundsException outside it. Lock and Unlock only count
// (they are not a mutual exclusion); a resize may move even a locked bank's
// bytes, so take Buf again after anything that can grow the bank.
#pragma once

#include <cstdint>

#include "runtime/Object.h"
#include "stream/Stream.h"

namespace vrl {

class TBank : public Object {
  VRL_CLASS(TBank, Object)
  ~TBank() override;

  int32_t _pad() { return 0; }
  uint8_t* Buf() { return _buf; }
  uint8_t* Lock() {
    ++_locked;
    return _buf;
  }
  int32_t Unlock() {
    --_locked;
    return 0;
  }
  /// How many Locks are not yet matched by an Unlock.
  int32_t LockCount() const { return _locked; }
  int32_t Size() { return _size; }
  int32_t Capacity() { return _capacity; }
  /// Growth beyond the capacity allocates max(capacity * 3 / 2, size) and
  /// copies the bytes in use; shrinking keeps the allocation. Negative sizes
  /// count as 0.
  int32_t Resize(int32_t size);
  /// stream.Read / stream.Write over count bytes at offset; their results.
  int32_t Read(TStream* stream, int32_t offset, int32_t count);
  int32_t Write(TStream* stream, int32_t offset, int32_t count);
  int32_t PeekByte(int32_t offset);
  void PokeByte(int32_t offset, int32_t value);
  int32_t PeekShort(int32_t offset);
  void PokeShort(int32_t offset, int32_t value);
  int32_t PeekInt(int32_t offset);
  void PokeInt(int32_t offset, int32_t value);
  int64_t PeekLong(int32_t offset);
  void PokeLong(int32_t offset, int64_t value);
  float PeekFloat(int32_t offset);
  void PokeFloat(int32_t offset, float value);
  double PeekDouble(int32_t offset);
  void PokeDouble(int32_t offset, double value);
  /// 1 when every byte was written and the stream closed cleanly; 0 when the
  /// URL cannot be opened for writing or the final flush or close failed. A
  /// file is replaced only once all of it is written (stream/AtomicFile.h).
  int32_t Save(Object* url);

  /// Null when the URL cannot be opened; TStreamReadException when its data
  /// stops before its end (stream/Stream.h, ReadPiece).
  static Ref<TBank> Load(Object* url);
  /// A bank of `size` bytes (contents not cleared).
  static Ref<TBank> Create(int32_t size);
  /// A bank over `size` bytes at `buf`, which the caller keeps alive and frees.
  static Ref<TBank> CreateStatic(void* buf, int32_t size);

 private:
  void CheckRange(int32_t offset, int32_t count) const;

  uint8_t* _buf = nullptr;
  int32_t _size = 0;
  int32_t _capacity = 0;  // -1: a static bank over the caller's memory
  int32_t _locked = 0;
};

/// Free-function forms.
Ref<TBank> CreateBank(int32_t size);
Ref<TBank> CreateStaticBank(void* buf, int32_t size);
Ref<TBank> LoadBank(Object* url);
int32_t SaveBank(TBank* bank, Object* url);
uint8_t* BankBuf(TBank* bank);
uint8_t* LockBank(TBank* bank);
int32_t UnlockBank(TBank* bank);
int32_t BankSize(TBank* bank);
int32_t BankCapacity(TBank* bank);
int32_t ResizeBank(TBank* bank, int32_t size);
int32_t PeekByte(TBank* bank, int32_t offset);
void PokeByte(TBank* bank, int32_t offset, int32_t value);
int32_t PeekShort(TBank* bank, int32_t offset);
void PokeShort(TBank* bank, int32_t offset, int32_t value);
int32_t PeekInt(TBank* bank, int32_t offset);
void PokeInt(TBank* bank, int32_t offset, int32_t value);
int64_t PeekLong(TBank* bank, int32_t offset);
void PokeLong(TBank* bank, int32_t offset, int64_t value);
float PeekFloat(TBank* bank, int32_t offset);
void PokeFloat(TBank* bank, int32_t offset, float value);
double PeekDouble(TBank* bank, int32_t offset);
void PokeDouble(TBank* bank, int32_t offset, double value);
int32_t ReadBank(TBank* bank, TStream* stream, int32_t offset, int32_t count);
int32_t WriteBank(TBank* bank, TStream* stream, int32_t offset, int32_t count);
/// A plain memory copy (overlapping ranges of one bank are allowed).
void CopyBank(TBank* from, int32_t fromOffset, TBank* to, int32_t toOffset, int32_t count);

namespace bank {
void Init();
}  // namespace bank

}  // namespace vrl
