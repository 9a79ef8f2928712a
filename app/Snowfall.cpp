#include "app/Snowfall.h"

#include <cmath>
#include <typeinfo>

#include "lith2d/Lith2D.h"
#include "maths/Maths.h"
#include "maths/Random.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"

namespace vrl::card {

const ClassRecord& snowflake::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<snowflake>("snowflake", [](auto& d) {
    d.template Field<&snowflake::x>("x");
    d.template Field<&snowflake::y>("y");
    d.template Field<&snowflake::col>("col");
    d.template Field<&snowflake::dirx>("dirx");
    d.template Field<&snowflake::diry>("diry");
    d.template Field<&snowflake::style>("style");
    d.template Field<&snowflake::sinus>("sinus");
  });
  return record;
}

void Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  containers::Init();
  vrRegisterClass(snowflake::StaticClass());
}

Scene& TheScene() {
  static auto* scene = new Scene;
  return *scene;
}

snowflake::snowflake() { TheScene().flakes->AddLast(this); }

namespace {
// The computations mix Float fields with real constants and random reals in
// double precision; each result is rounded to single precision when stored.
float F(double value) { return static_cast<float>(value); }
}  // namespace

namespace {
// ResetFlake for a display of w x h.
void Reset(snowflake* f, double w, double h) {
  // The seven draws in their order, taken at once: the same values and the
  // same state afterwards as seven separate RandomReal and RandomInt calls.
  double r[7];
  RandomDoubles(r, 7);
  f->x = F(RealFromDouble(r[0], 0, w - 1));
  f->y = F(RealFromDouble(r[1], -h, -1));
  f->col = IntFromDouble(r[2], 224, 255);
  f->dirx = F(RealFromDouble(r[3], -1, 1));
  f->diry = F(RealFromDouble(r[4], 0.5, 2));
  f->style = static_cast<float>(IntFromDouble(r[5], 0, 3));
  f->sinus = F(RealFromDouble(r[6], 360, 0));
}
}  // namespace

void ResetFlake(snowflake* f) {
  const Scene& s = TheScene();
  Reset(f, s.screenwidth, s.screenheight);
}

void AddFlake() {
  Ref<snowflake> flake = New<snowflake>();
  ResetFlake(flake);
}

void AddFlakes(int32_t count) {
  for (int32_t i = 0; i < count; ++i) AddFlake();
}

int32_t PackARGB(int32_t a, int32_t r, int32_t g, int32_t b) {
  return static_cast<int32_t>(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
}

namespace {
// The grid (3 MB at the full display) is read at a random cell for every
// flake; once a frame's drawing has pushed it out of the processor's caches,
// each flake would wait for its cell's memory. Fetching the cell the next
// flake will read while this one is processed hides that wait: the next
// flake's column is that of x + dirx give or take the sway's half pixel, its
// row that of y + diry. Inlined: as a call it saved nothing (measured).
[[gnu::always_inline]] inline void FetchNextCell(Object* next, const int32_t* grid, int32_t gridH,
                                                 int32_t gridLength) {
  if (!next || typeid(*next) != typeid(snowflake)) return;
  const auto* f = static_cast<const snowflake*>(next);
  const float x = f->x + f->dirx, y = f->y + f->diry;
  if (!(x >= 1 && y >= 0 && x < 1e6f && y < 1e6f)) return;
  const int64_t low = int64_t(x - 0.5f) * gridH + int64_t(y);
  const int64_t high = low + gridH;
  if (high < gridLength) {
    __builtin_prefetch(grid + low);
    __builtin_prefetch(grid + high);
  }
}
}  // namespace

int32_t UpdateFlakes() {
  Scene& s = TheScene();
  const int32_t W = s.screenwidth, H = s.screenheight;
  const int32_t gridH = s.grid->DimensionCount() == 2 ? s.grid->Scales()[1] : 0;
  int32_t* grid = s.grid->DataAs<int32_t>();
  const int32_t gridLength = s.grid->Length();
  auto cell = [&](int32_t x, int32_t y) -> int32_t& {
    int32_t index = x * gridH + y;
    if (index < 0 || index >= gridLength) ThrowArrayBoundsException();
    return grid[index];
  };
  // 0.8 as the single-precision value, compared in double precision.
  const double settleThreshold = static_cast<double>(0.8f);

  // The walk takes the list's values of class snowflake and skips others,
  // as ListOf<snowflake> does; a value whose C++ type is snowflake itself is
  // one (its class record is snowflake's or extends it), which saves the
  // usual value the search of the class chain.
  const ClassRecord& flakeClass = snowflake::StaticClass();
  const double w = W, h = H;
  int32_t count = 0;
  ListOf<Object> flakes(s.flakes);
  for (auto at = flakes.begin(); at != flakes.end(); ++at) {
    Object* value = *at;
    FetchNextCell(at.Upcoming(), grid, gridH, gridLength);
    if (typeid(*value) != typeid(snowflake) && !InstanceOf(value, flakeClass)) continue;
    auto* f = static_cast<snowflake*>(value);
    ++count;
    // The step modulo 360: a step in [0, 3) is its own remainder, exactly.
    f->sinus = F(f->sinus + RandomReal(3, 0));
    // Float plus Float stays single precision; adding the sway is double.
    f->x = F(double(f->x + f->dirx) + Sin(f->sinus) * 0.5);
    f->y = f->y + f->diry;
    if (f->y > static_cast<float>(H - 1)) Reset(f, w, h);
    if (f->y < 0) Reset(f, w, h);

    int32_t tx = 0, ty = 0;
    if (0 <= f->y && 0 <= f->x && f->x < static_cast<float>(W) && f->y < static_cast<float>(H)) {
      tx = static_cast<int32_t>(f->x);
      ty = static_cast<int32_t>(f->y);
      int32_t m = RandomInt(-1, 1);
      if (tx < m) tx = W - m + tx;
      if (tx > W - m) tx = tx - (W - m - 1);
      if (tx < 1) tx = 1;
      if (tx > W - 2) tx = W - 2;
      if (ty < 1) ty = 1;
      if (ty > H - 2) ty = H - 2;
      if (cell(tx, ty) != 0 && RandomReal(1, 0) > settleThreshold) {
        Reset(f, w, h);
        if (ty - 1 > 0) cell(tx, ty - 1) = 1;
        if (tx - 1 > 0) cell(tx - 1, ty) = 1;
        if (tx + 1 < W - 1) cell(tx + 1, ty) = 1;
        if (0 < tx && tx < W - 1 && 0 < ty && ty < H - 1) {
          int32_t c = PackARGB(f->col, f->col, f->col, f->col);
          WritePixel(s.picture, tx, ty, c);
          if (RandomReal(1, 0) > 0.75) {
            WritePixel(s.picture, tx - 1, ty, c);
            WritePixel(s.picture, tx, ty + 1, c);
          }
          if (RandomReal(1, 0) > 0.75) {
            WritePixel(s.picture, tx + 1, ty, c);
            WritePixel(s.picture, tx, ty - 1, c);
          }
        }
      }
    }
    if (1 < f->y && f->y < static_cast<float>(H - 2) && 1 < f->x && f->x < static_cast<float>(W - 2)) {
      DrawImageArea(s.snowimage, static_cast<float>(tx - 1), static_cast<float>(ty - 1), 3, 3, f->style * 3,
                    0, 3, 3, 0, 0, 0);
    }
  }

  int32_t n = RandomInt(1, 100);
  if (count + n <= kMaxFlakes && RandomReal(1, 0) > 0.5) AddFlakes(n);
  return count;
}

}  // namespace vrl::card
