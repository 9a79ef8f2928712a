// The degree trigonometry: the cost of a Sin, Cos and Tan call against the
// extended-precision computation they reproduce, the share of arguments the
// fast path leaves to that computation, and the identity check over 10^8
// arguments (the count can be given as the first argument). Exits with 1 on
// any mismatch. Also the processor's own instructions (fused multiply-add,
// vectors), where it has them, against the portable code doing the same:
// the sine's estimate and the random generator's batches.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/BenchUtil.h"
#include "maths/Maths.h"
#include "maths/Random.h"
#include "maths/Trig.h"
#include "tests/maths/TrigIdentity.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

using Function = double (*)(double);

double Seconds(Function f, const std::vector<double>& arguments) {
  return FastestSeconds(
      [&] {
        double sum = 0;
        for (double d : arguments) sum += f(d);
        Keep(sum);
      },
      5);
}

double FallbackShare(bool (*fast)(double, double&), const std::vector<double>& arguments) {
  long fallbacks = 0;
  for (double d : arguments) {
    double r = 0;
    if (!fast(d, r)) ++fallbacks;
  }
  return 100.0 * double(fallbacks) / double(arguments.size());
}

void Costs(const char* range, const std::vector<double>& arguments) {
  const struct {
    const char* name;
    Function function, reference;
    bool (*fast)(double, double&);
  } functions[] = {{"Sin", Sin, trig::ReferenceSin, trig::FastSin},
                   {"Cos", Cos, trig::ReferenceCos, trig::FastCos},
                   {"Tan", Tan, trig::ReferenceTan, trig::FastTan}};
  for (const auto& f : functions) {
    char name[64];
    std::snprintf(name, sizeof name, "%s, %s", f.name, range);
    Report(name, Seconds(f.function, arguments), "long-double computation", Seconds(f.reference, arguments),
           long(arguments.size()));
    std::printf("  %s falls back for %.3f%% of these arguments\n", f.name, FallbackShare(f.fast, arguments));
  }
}

void InstructionCosts(const std::vector<double>& phases) {
  using EstimateFn = bool (*)(double, trig::Estimate&);
  auto estimates = [&](EstimateFn estimate) {
    return FastestSeconds(
        [&] {
          double sum = 0;
          for (double d : phases) {
            trig::Estimate e;
            if (estimate(d, e)) sum += e.hi;
          }
          Keep(sum);
        },
        5);
  };
  Report(trig::HasFusedProducts() ? "Sin estimate, fused products" : "Sin estimate (no fused multiply-add)",
         estimates(trig::EstimateSin), "portable products", estimates(trig::PortableEstimateSin),
         long(phases.size()));

  // Batches of seven, as a flake's reset draws them.
  const int batches = 200000;
  double values[7];
  auto draws = [&](void (*batch)(double*, int32_t)) {
    return FastestSeconds(
        [&] {
          for (int i = 0; i < batches; ++i) {
            batch(values, 7);
            Keep(values);
          }
        },
        5);
  };
  Report("RandomDoubles, 7 at a time (per batch)", draws(RandomDoubles), "portable code",
         draws(RandomDoublesPortable), batches);
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 100000000;

  // Sway phases as the card keeps them (floats, growing by up to 3 degrees
  // a frame over a long run), and angles within a turn.
  trig::check::Arguments stream(1);
  std::vector<double> phases, turn;
  std::mt19937_64 rng(2);
  for (int i = 0; i < 200000; ++i) {
    phases.push_back(static_cast<float>(std::uniform_real_distribution<double>(0, 1e7)(rng)));
    turn.push_back(std::uniform_real_distribution<double>(0, 360)(rng));
  }
  Costs("card phases 0..1e7", phases);
  Costs("angles 0..360", turn);
  InstructionCosts(phases);

  const trig::check::IdentityResult result = trig::check::CheckIdentity(count, 2026);
  std::printf("identity with the long-double computation: %ld arguments (and edge values), %ld mismatches\n",
              result.checked, result.mismatches);
  std::printf("  fallbacks over them (out-of-range ones included): Sin %.3f%%, Cos %.3f%%, Tan %.3f%%\n",
              100.0 * double(result.fallbacks[0]) / double(result.checked),
              100.0 * double(result.fallbacks[1]) / double(result.checked),
              100.0 * double(result.fallbacks[2]) / double(result.checked));
  if (result.mismatches != 0) {
    std::printf("MISMATCH: first at %a\n", result.firstMismatch);
    return 1;
  }
  return 0;
}
