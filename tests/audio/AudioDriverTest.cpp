// The driver registry, the selection rules and the silent Null driver.
#include "audio/AudioDriver.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/Array.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/Stream.h"

using namespace vrl;

namespace {

// A driver that records its calls; Startup answers as told.
class TFakeDriver : public TAudioDriver {
  VRL_CLASS(TFakeDriver, TAudioDriver)
  Ref<String> Name() override { return _name; }
  int32_t Startup() override {
    ++startups;
    return startResult;
  }
  int32_t Shutdown() override {
    ++shutdowns;
    return 0;
  }
  Ref<String> _name;
  int32_t startResult = 1;
  int startups = 0;
  int shutdowns = 0;
};

}  // namespace

VRL_CLASS_RECORD(TFakeDriver, "TFakeDriver")

namespace {

// Registered once for the whole run, as drivers are: "Fake" first, then a
// "DirectSound" stand-in that fails to start (no device), registered last.
struct Fakes {
  Ref<TFakeDriver> fake, directSound;
};

Fakes& RegisterFakes() {
  static Fakes* fakes = [] {
    audio::Init();
    auto* f = new Fakes;
    f->fake = New<TFakeDriver>();
    f->fake->_name = u"Fake"_vs;
    f->directSound = New<TFakeDriver>();
    f->directSound->_name = u"DirectSound"_vs;
    f->directSound->startResult = 0;
    return f;
  }();
  return *fakes;
}

class AudioDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    stream::Init();
    fakes = &RegisterFakes();
    audio::ShutdownCurrentDriver();
    fakes->fake->startups = fakes->fake->shutdowns = 0;
    fakes->directSound->startups = fakes->directSound->shutdowns = 0;
  }
  void TearDown() override { audio::ShutdownCurrentDriver(); }
  Fakes* fakes = nullptr;
};

std::vector<std::string> Names() {
  std::vector<std::string> out;
  Ref<Array> names = AudioDriverNames();
  for (int32_t i = 0; i < names->Length(); ++i)
    out.push_back(static_cast<String*>(names->GetObject(i))->ToNarrow());
  return out;
}

TEST_F(AudioDriverTest, RegistryListsNewestFirstAndNullLast) {
  std::vector<std::string> names = Names();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "DirectSound");
  EXPECT_EQ(names[1], "Fake");
  EXPECT_EQ(names.back(), "Null");
  EXPECT_EQ(HasAudioDriver(u"fAKE"_vs), 1);
  EXPECT_EQ(HasAudioDriver(u"null"_vs), 1);
  EXPECT_EQ(HasAudioDriver(u"Aurimix"_vs), 0);
  EXPECT_EQ(HasAudioDriver(nullptr), 0);
}

TEST_F(AudioDriverTest, DefaultChoiceFallsBackToNullOnceAndForAll) {
  // "DirectSound" cannot start, so the first use settles on "Null".
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
  EXPECT_EQ(fakes->directSound->startups, 1);
  ActiveAudioDriver();
  EXPECT_EQ(fakes->directSound->startups, 1);

  // An unknown name fails and leaves Null current, without a new default.
  EXPECT_EQ(UseAudioDriver(u"no such driver"_vs), 0);
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
  EXPECT_EQ(fakes->directSound->startups, 1);
}

TEST_F(AudioDriverTest, SelectionIgnoresCaseAndShutsTheOldDriverDown) {
  EXPECT_EQ(UseAudioDriver(u"fake"_vs), 1);
  EXPECT_EQ(ActiveAudioDriver(), fakes->fake.get());
  EXPECT_EQ(fakes->fake->startups, 1);

  // The old driver is shut down first; a driver that fails to start leaves
  // Null current.
  EXPECT_EQ(UseAudioDriver(u"directsound"_vs), 0);
  EXPECT_EQ(fakes->fake->shutdowns, 1);
  EXPECT_EQ(fakes->directSound->startups, 1);
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");

  fakes->directSound->startResult = 1;
  EXPECT_EQ(UseAudioDriver(u"DIRECTSOUND"_vs), 1);
  EXPECT_EQ(ActiveAudioDriver(), fakes->directSound.get());
  fakes->directSound->startResult = 0;

  // The exit handler's work: shut down and forget.
  audio::ShutdownCurrentDriver();
  EXPECT_EQ(fakes->directSound->shutdowns, 1);
}

TEST_F(AudioDriverTest, NullDriverIsSilentButComplete) {
  EXPECT_EQ(UseAudioDriver(u"Null"_vs), 1);
  uint8_t bytes[8] = {};
  Ref<TAudioSample> sample = TAudioSample::CreateStatic(bytes, 8, 8000, SAMPLE_MONO8);
  // A sample is made into a sound without any loader.
  Ref<TSound> sound = LoadSoundSource(sample, SOUNDFLAG_LOOP);
  ASSERT_FALSE(sound.IsNull());
  EXPECT_EQ(sound->Class().Name(), "TSound");
  Ref<TChannel> channel = StartSound(sound);
  ASSERT_FALSE(channel.IsNull());
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  EXPECT_EQ(ChannelVolume(channel, 0.5f), 0);
  EXPECT_EQ(ChannelPan(channel, -1), 0);
  EXPECT_EQ(ChannelDepth(channel, 1), 0);
  EXPECT_EQ(ChannelRate(channel, 2), 0);
  EXPECT_EQ(SuspendChannel(channel), 0);
  EXPECT_EQ(ContinueChannel(channel), 0);
  EXPECT_EQ(HaltChannel(channel), 0);
  EXPECT_FALSE(PrepareSound(sound, channel).IsNull());
  EXPECT_FALSE(NewChannel().IsNull());

  // Data that no loader takes gives no sound.
  EXPECT_TRUE(LoadSoundSource(u"no-such-protocol::x"_vs, 0).IsNull());
}

TEST_F(AudioDriverTest, ModuleFunctionsRejectNull) {
  EXPECT_THROW(StartSound(nullptr), ThrownObject);
  EXPECT_THROW(HaltChannel(nullptr), ThrownObject);
  EXPECT_THROW(IsChannelPlaying(nullptr), ThrownObject);
}

}  // namespace
