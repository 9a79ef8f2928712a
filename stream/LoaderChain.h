// Chains of loaders: objects linked through `_succ` (the next loader, Null
// after the last; read through LoaderLink), asked in turn until one gives a
// result that is not Null. The picture, sample and font chains all follow the
// same rule:
//
// A stream exception (TStreamException) thrown inside a loader is that
// loader's refusal: the data is not its format, or ended inside it, and the
// next loader is asked. Any other exception propagates to the caller; no
// loader after it is asked.
#pragma once

#include <cstdint>

#include "runtime/Exceptions.h"
#include "runtime/Object.h"
#include "stream/Stream.h"
#include "stream/StreamCloser.h"

namespace vrl {

/// The one place the chain routines follow a loader's `_succ`. A loader class
/// that keeps its link private names this as a friend
/// (`friend struct LoaderLink;`).
struct LoaderLink {
  template <class Loader>
  static const auto& Next(const Loader& loader) {
    return loader._succ;
  }
};

/// Asks the loaders from `first` on with `ask(loader)` and returns the first
/// result that is not Null (Null when every loader refuses). `before(loader)`
/// runs ahead of each ask, outside the refusal rule: what it throws
/// propagates.
template <class Loader, class Ask, class Before>
auto AskLoaders(Loader* first, Ask&& ask, Before&& before) -> decltype(ask(first)) {
  using Result = decltype(ask(first));
  /// Held counted, so a loader being asked outlives any change to the chain.
  for (Ref<Loader> loader = first; !loader.IsNull(); loader = LoaderLink::Next(*loader)) {
    before(loader.get());
    Result result;
    try {
      result = ask(loader.get());
    } catch (const ThrownObject& e) {
      if (!e.As<TStreamException>()) throw;
      continue;
    }
    if (!result.IsNull()) return result;
  }
  return Result();
}

template <class Loader, class Ask>
auto AskLoaders(Loader* first, Ask&& ask) -> decltype(ask(first)) {
  return AskLoaders(first, ask, [](Loader*) {});
}

/// Reads one result from an opened stream through a chain: each loader gets
/// `ask(loader, stream)` with the stream back at the position it had on
/// arrival, as if it were the first one asked. A stream without a position
/// cannot be rewound and gives Null.
///
/// The stream is ours and closed on every way out, the first failure winning
/// (stream/StreamCloser.h): a throw from its Close never replaces a loader's
/// exception; on a normal return, with a result or Null, it propagates.
template <class Loader, class Ask>
auto LoadFromChain(TStream* stream, Loader* first, Ask&& ask) -> decltype(ask(first, stream)) {
  if (!stream) ThrowNullObjectException();
  StreamCloser closer(stream);
  const int32_t start = stream->Pos();
  if (start == -1) {
    closer.Close();
    return {};
  }
  auto result = AskLoaders(
      first, [&](Loader* loader) { return ask(loader, stream); }, [&](Loader*) { stream->Seek(start); });
  closer.Close();
  return result;
}

}  // namespace vrl
