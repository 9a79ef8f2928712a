// Counted stores against std::shared_ptr copies, and the amortised cost of
// allocating, dropping and collecting small objects against new/delete.
#include <memory>
#include <vector>

#include "bench/BenchUtil.h"
#include "runtime/ClassRecord.h"
#include "runtime/Memory.h"
#include "runtime/Object.h"
#include "runtime/Runtime.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

class TSmall : public Object {
  VRL_CLASS(TSmall, Object)
  int32_t a = 0, b = 0;
  float c = 0;
};

struct PlainSmall {
  virtual ~PlainSmall() = default;
  uint32_t refs = 0;
  int32_t a = 0, b = 0;
  float c = 0;
};

}  // namespace

VRL_CLASS_RECORD(TSmall, "TSmall")

namespace {

constexpr long kStores = 20'000'000;
constexpr long kObjects = 2'000'000;

void CountedStores() {
  std::vector<Ref<TSmall>> slots(64);
  Ref<TSmall> a = New<TSmall>(), b = New<TSmall>();
  double counted = FastestSeconds([&] {
    for (long i = 0; i < kStores; ++i) slots[i & 63] = (i & 1) ? a : b;
    Keep(slots);
  });
  std::vector<std::shared_ptr<PlainSmall>> shared(64);
  auto sa = std::make_shared<PlainSmall>(), sb = std::make_shared<PlainSmall>();
  double baseline = FastestSeconds([&] {
    for (long i = 0; i < kStores; ++i) shared[i & 63] = (i & 1) ? sa : sb;
    Keep(shared);
  });
  Report("counted store (Ref<T> assignment)", counted, "shared_ptr copy-assign", baseline, kStores);
}

__attribute__((noinline)) void AllocateAndDrop() {
  for (long i = 0; i < kObjects; ++i) {
    Ref<TSmall> temporary = New<TSmall>();
    temporary->a = static_cast<int32_t>(i);
  }
}

void AllocateReleaseCollect() {
  double framework = FastestSeconds([] {
    AllocateAndDrop();
    GCCollect();
  });
  double baseline = FastestSeconds([] {
    for (long i = 0; i < kObjects; ++i) {
      auto* temporary = new PlainSmall;
      temporary->a = static_cast<int32_t>(i);
      Keep(temporary);
      delete temporary;
    }
  });
  Report("allocate + drop + collect (small objects)", framework, "operator new + delete", baseline, kObjects);
}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  CountedStores();
  AllocateReleaseCollect();
  return 0;
}
