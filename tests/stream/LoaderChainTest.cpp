// The loader-chain routine shared by the picture, sample and font chains.
#include "stream/LoaderChain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/Stream.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

// A loader that answers with itself, refuses, refuses by a stream exception
// or fails with a runtime error; it reads two bytes first when given a
// stream, and records where the stream stood.
class TTestLoader : public Object {
  VRL_CLASS(TTestLoader, Object)
  enum Mode { kRefuse, kStreamRefusal, kFail, kAnswer };
  Ref<TTestLoader> Ask(TStream* stream) {
    ++asks;
    if (stream) {
      seenAt = stream->Pos();
      stream->SkipBytes(2);
    }
    switch (mode) {
      case kStreamRefusal:
        ThrowStreamReadException();
      case kFail:
        vrRuntimeError("loader failed");
      case kAnswer:
        return this;
      default:
        return nullptr;
    }
  }
  void Link(TTestLoader* next) { _succ = next; }
  int32_t mode = kRefuse;
  int32_t asks = 0;
  int32_t seenAt = -1;

 private:
  // The chain routines follow the link as they follow a real loader's.
  friend struct vrl::LoaderLink;
  Ref<TTestLoader> _succ;
};

// A seekable stream of 16 bytes (or one without a position), whose Seek or
// Close can fail; counts its closes.
class TChainStream : public TStream {
  VRL_CLASS(TChainStream, TStream)
  int32_t Pos() override { return seekable ? _pos : -1; }
  int32_t Size() override { return 16; }
  int32_t Seek(int32_t pos) override {
    if (seekThrows) ThrowStreamReadException();
    return _pos = std::clamp(pos, 0, 16);
  }
  int32_t Read(void* buf, int32_t count) override {
    int32_t n = std::min(count, 16 - _pos);
    if (n <= 0) return 0;
    std::fill_n(static_cast<uint8_t*>(buf), n, uint8_t(0));
    _pos += n;
    return n;
  }
  int32_t Close() override {
    ++closes;
    if (closeThrows) vrRuntimeError("close failed");
    return 0;
  }
  bool seekable = true;
  bool seekThrows = false;
  bool closeThrows = false;
  int32_t closes = 0;

 private:
  int32_t _pos = 0;
};

}  // namespace

VRL_CLASS_RECORD(TTestLoader, "TTestLoader")
VRL_CLASS_RECORD(TChainStream, "TChainStream")

namespace {

class LoaderChainTest : public testing::Test {
 protected:
  void SetUp() override { stream::Init(); }

  // Links loaders of the given modes, first to last.
  TTestLoader* Chain(std::vector<int32_t> modes) {
    for (auto it = modes.rbegin(); it != modes.rend(); ++it) {
      Ref<TTestLoader> loader = New<TTestLoader>();
      loader->mode = *it;
      loader->Link(_head);
      _head = loader;
      _loaders.insert(_loaders.begin(), loader);
    }
    return _head;
  }
  std::vector<int32_t> Asks() const {
    std::vector<int32_t> asks;
    for (const auto& loader : _loaders) asks.push_back(loader->asks);
    return asks;
  }
  Ref<TTestLoader> AskAll() {
    return AskLoaders(_head.get(), [](TTestLoader* loader) { return loader->Ask(nullptr); });
  }
  Ref<TTestLoader> LoadAll(TStream* stream) {
    return LoadFromChain(stream, _head.get(),
                         [](TTestLoader* loader, TStream* in) { return loader->Ask(in); });
  }

  Ref<TTestLoader> _head;
  std::vector<Ref<TTestLoader>> _loaders;
};

TEST_F(LoaderChainTest, FirstResultWinsAndStreamExceptionsAreRefusals) {
  using L = TTestLoader;
  Chain({L::kStreamRefusal, L::kRefuse, L::kAnswer, L::kAnswer});
  EXPECT_EQ(AskAll().get(), _loaders[2].get());
  EXPECT_EQ(Asks(), (std::vector<int32_t>{1, 1, 1, 0}));
}

TEST_F(LoaderChainTest, OtherExceptionsPropagateAndEndTheChain) {
  using L = TTestLoader;
  Chain({L::kRefuse, L::kFail, L::kAnswer});
  EXPECT_EQ(RuntimeErrorOf([&] { AskAll(); }), "loader failed");
  EXPECT_EQ(Asks(), (std::vector<int32_t>{1, 1, 0}));
}

TEST_F(LoaderChainTest, EmptyOrRefusingChainGivesNull) {
  EXPECT_TRUE(AskAll().IsNull());
  using L = TTestLoader;
  Chain({L::kRefuse, L::kStreamRefusal});
  EXPECT_TRUE(AskAll().IsNull());
  EXPECT_EQ(Asks(), (std::vector<int32_t>{1, 1}));
}

TEST_F(LoaderChainTest, EachLoaderStartsWhereTheStreamStoodAndTheStreamIsClosed) {
  using L = TTestLoader;
  Chain({L::kRefuse, L::kStreamRefusal, L::kAnswer});
  Ref<TChainStream> stream = New<TChainStream>();
  stream->Seek(5);
  EXPECT_EQ(LoadAll(stream).get(), _loaders[2].get());
  for (const auto& loader : _loaders) EXPECT_EQ(loader->seenAt, 5);
  EXPECT_EQ(stream->closes, 1);
}

TEST_F(LoaderChainTest, StreamIsClosedOnEveryWayOut) {
  using L = TTestLoader;
  Chain({L::kRefuse, L::kFail});
  Ref<TChainStream> failing = New<TChainStream>();
  EXPECT_EQ(RuntimeErrorOf([&] { LoadAll(failing); }), "loader failed");
  EXPECT_EQ(failing->closes, 1);

  _loaders[1]->mode = L::kRefuse;
  Ref<TChainStream> refused = New<TChainStream>();
  EXPECT_TRUE(LoadAll(refused).IsNull());
  EXPECT_EQ(refused->closes, 1);

  // Without a position nothing can be rewound: no loader is asked.
  Ref<TChainStream> pipe = New<TChainStream>();
  pipe->seekable = false;
  EXPECT_TRUE(LoadAll(pipe).IsNull());
  EXPECT_EQ(pipe->closes, 1);
  EXPECT_EQ(Asks(), (std::vector<int32_t>{2, 2}));
}

TEST_F(LoaderChainTest, LoaderExceptionIsNotReplacedByAFailedClose) {
  using L = TTestLoader;
  Chain({L::kFail});
  Ref<TChainStream> stream = New<TChainStream>();
  stream->closeThrows = true;
  EXPECT_EQ(RuntimeErrorOf([&] { LoadAll(stream); }), "loader failed");
  // On a normal return the failed close is the first failure.
  _loaders[0]->mode = L::kAnswer;
  Ref<TChainStream> answered = New<TChainStream>();
  answered->closeThrows = true;
  EXPECT_EQ(RuntimeErrorOf([&] { LoadAll(answered); }), "close failed");
  EXPECT_EQ(answered->closes, 1);
}

// A stream that cannot be rewound is not a loader's refusal: the next
// loader would read from the wrong place.
TEST_F(LoaderChainTest, FailedRewindPropagates) {
  using L = TTestLoader;
  Chain({L::kAnswer});
  Ref<TChainStream> stream = New<TChainStream>();
  stream->seekThrows = true;
  try {
    LoadAll(stream);
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamReadException>(), nullptr);
  }
  EXPECT_EQ(Asks(), (std::vector<int32_t>{0}));
  EXPECT_EQ(stream->closes, 1);
}

}  // namespace
