#include "input/Joystick.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/testing/VirtualJoystick.h"

using namespace vrl;
using vrl::platform::VirtualJoystick;

namespace {

std::string N(String* s) { return s->ToUtf8String(); }

// Each case attaches its own virtual devices; JoystickCount finds them.
class JoystickTest : public ::testing::Test {
 protected:
  void SetUp() override { joystick::Init(); }
  void TearDown() override {
    _pads.clear();
    JoystickCount();  // forget the detached devices
  }

  VirtualJoystick& Attach(const char* name, int axes, int buttons, int hats) {
    _pads.push_back(std::make_unique<VirtualJoystick>(name, axes, buttons, hats));
    EXPECT_TRUE(_pads.back()->Ok()) << "SDL's virtual joystick could not be attached";
    return *_pads.back();
  }

 private:
  std::vector<std::unique_ptr<VirtualJoystick>> _pads;
};

TEST_F(JoystickTest, NoJoystickMeansNothingToRead) {
  ASSERT_EQ(JoystickCount(), 0);
  EXPECT_EQ(JoystickExists(0), 0);
  EXPECT_EQ(N(JoystickName(0)), "");
  EXPECT_EQ(JoystickButtonDown(0, 0), 0);
  EXPECT_EQ(JoystickButtonHits(0, 0), 0);
  EXPECT_EQ(JoystickX(0), 0.0f);
  EXPECT_EQ(JoystickHat(0), 0.0f);
  EXPECT_EQ(JoystickButtonCaps(0), 0);
  EXPECT_EQ(JoystickAxisCaps(0), 0);
}

TEST_F(JoystickTest, CountAndNamesFollowTheAttachedDevices) {
  Attach("First pad", 2, 4, 0);
  EXPECT_EQ(JoystickCount(), 1);
  Attach("Second pad", 2, 4, 0);
  EXPECT_EQ(JoystickCount(), 2);
  EXPECT_EQ(JoystickExists(0), 1);
  EXPECT_EQ(JoystickExists(1), 1);
  EXPECT_EQ(JoystickExists(2), 0);
  EXPECT_EQ(JoystickExists(-1), 0);
  EXPECT_EQ(N(JoystickName(0)), "First pad");
  EXPECT_EQ(N(JoystickName(1)), "Second pad");
  EXPECT_EQ(N(JoystickName(2)), "");
  EXPECT_EQ(N(JoystickName(99)), "");
}

TEST_F(JoystickTest, AxesAreNormalisedAndGiveDirections) {
  VirtualJoystick& pad = Attach("Stick", 6, 2, 0);
  ASSERT_EQ(JoystickCount(), 1);
  // Centred: about 0, no direction.
  EXPECT_NEAR(JoystickX(0), 0.0f, 1e-4f);
  EXPECT_NEAR(JoystickY(0), 0.0f, 1e-4f);
  EXPECT_EQ(JoystickXDir(0), 0);
  EXPECT_EQ(JoystickYDir(0), 0);

  // Fully left and fully down are the ends of the range.
  ASSERT_TRUE(pad.SetAxis(0, -32768));
  ASSERT_TRUE(pad.SetAxis(1, 32767));
  EXPECT_EQ(JoystickX(0), -1.0f);
  EXPECT_EQ(JoystickXDir(0), -1);
  EXPECT_EQ(JoystickY(0), 1.0f);
  EXPECT_EQ(JoystickYDir(0), 1);

  // The threshold lies between these two pushes.
  ASSERT_TRUE(pad.SetAxis(2, 10000));  // 0.305
  ASSERT_TRUE(pad.SetAxis(3, 12000));  // 0.366
  ASSERT_TRUE(pad.SetAxis(4, -12000));
  ASSERT_TRUE(pad.SetAxis(5, 16384));
  EXPECT_NEAR(JoystickZ(0), 0.3052f, 1e-3f);
  EXPECT_EQ(JoystickZDir(0), 0);
  EXPECT_EQ(JoystickRDir(0), 1);
  EXPECT_EQ(JoystickUDir(0), -1);
  EXPECT_NEAR(JoystickU(0), -0.3662f, 1e-3f);
  EXPECT_NEAR(JoystickV(0), 0.5f, 1e-3f);
  // Slots the device read never fills.
  EXPECT_EQ(JoystickYaw(0), 0.0f);
  EXPECT_EQ(JoystickPitch(0), 0.0f);
  EXPECT_EQ(JoystickRoll(0), 0.0f);
  EXPECT_EQ(JoystickWheel(0), 0.0f);
  // Without a hat, its slot stays as it was.
  EXPECT_EQ(JoystickHat(0), 0.0f);
}

TEST_F(JoystickTest, AHatReadsAsAFractionOfATurn) {
  VirtualJoystick& pad = Attach("Hat pad", 2, 1, 1);
  ASSERT_EQ(JoystickCount(), 1);
  EXPECT_EQ(JoystickHat(0), -1.0f);
  ASSERT_TRUE(pad.SetHat(0, platform::kHatRight));
  EXPECT_FLOAT_EQ(JoystickHat(0), 0.25f);
  ASSERT_TRUE(pad.SetHat(0, platform::kHatUp));
  EXPECT_EQ(JoystickHat(0), 0.0f);
  ASSERT_TRUE(pad.SetHat(0, platform::kHatDown | platform::kHatLeft));
  EXPECT_FLOAT_EQ(JoystickHat(0), 0.625f);
  ASSERT_TRUE(pad.SetHat(0, platform::kHatCentred));
  EXPECT_EQ(JoystickHat(0), -1.0f);
}

TEST_F(JoystickTest, PressesAreCountedPerPoll) {
  VirtualJoystick& pad = Attach("Buttons", 2, 4, 0);
  ASSERT_EQ(JoystickCount(), 1);
  EXPECT_EQ(JoystickButtonDown(2, 0), 0);

  ASSERT_TRUE(pad.SetButton(2, true));
  EXPECT_EQ(JoystickButtonDown(2, 0), 1);  // this poll sees the press
  EXPECT_EQ(JoystickButtonDown(1, 0), 0);
  ASSERT_TRUE(pad.SetButton(2, false));
  EXPECT_EQ(JoystickButtonDown(2, 0), 0);
  // Down and up again between two polls: never seen.
  ASSERT_TRUE(pad.SetButton(2, true));
  ASSERT_TRUE(pad.SetButton(2, false));
  EXPECT_EQ(JoystickButtonHits(2, 0), 1);
  EXPECT_EQ(JoystickButtonHits(2, 0), 0);

  // Three presses, each seen by a poll while down.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(pad.SetButton(2, true));
    EXPECT_EQ(JoystickButtonDown(2, 0), 1);
    ASSERT_TRUE(pad.SetButton(2, false));
    EXPECT_EQ(JoystickButtonDown(2, 0), 0);
  }
  EXPECT_EQ(JoystickButtonHits(2, 0), 3);
  // A press that the counting poll itself sees.
  ASSERT_TRUE(pad.SetButton(0, true));
  EXPECT_EQ(JoystickButtonHits(0, 0), 1);

  // Numbers outside the tables.
  EXPECT_EQ(JoystickButtonDown(16, 0), 0);
  EXPECT_EQ(JoystickButtonDown(-1, 0), 0);
  EXPECT_EQ(JoystickButtonHits(0, 16), 0);
  EXPECT_EQ(JoystickX(-1), 0.0f);
}

TEST_F(JoystickTest, FlushWithMaskOneClearsJoystickZeroOnly) {
  VirtualJoystick& first = Attach("First", 2, 2, 0);
  VirtualJoystick& second = Attach("Second", 2, 2, 0);
  ASSERT_EQ(JoystickCount(), 2);
  for (VirtualJoystick* pad : {&first, &second}) ASSERT_TRUE(pad->SetButton(1, true));
  EXPECT_EQ(JoystickButtonDown(1, 0), 1);
  EXPECT_EQ(JoystickButtonDown(1, 1), 1);
  for (VirtualJoystick* pad : {&first, &second}) ASSERT_TRUE(pad->SetButton(1, false));

  FlushJoysticks(1);
  EXPECT_EQ(JoystickButtonHits(1, 0), 0);
  EXPECT_EQ(JoystickButtonHits(1, 1), 1);

  // A button held through a flush counts again at the next poll.
  ASSERT_TRUE(first.SetButton(0, true));
  EXPECT_EQ(JoystickButtonHits(0, 0), 1);
  FlushJoysticks(1);
  EXPECT_EQ(JoystickButtonHits(0, 0), 1);
}

TEST_F(JoystickTest, CapabilityMasks) {
  Attach("Plain", 2, 5, 0);
  Attach("Full", 8, 32, 1);
  ASSERT_EQ(JoystickCount(), 2);
  EXPECT_EQ(JoystickButtonCaps(0), 0x1F);
  EXPECT_EQ(JoystickAxisCaps(0), 0x3);
  EXPECT_EQ(JoystickButtonCaps(1), -1);  // all 32 bits
  // Six axes are read; the hat adds bit 9.
  EXPECT_EQ(JoystickAxisCaps(1), 0x3F | 0x200);
  EXPECT_EQ(JoystickButtonCaps(16), 0);
}

TEST_F(JoystickTest, ANewDeviceAtANumberStartsFromZero) {
  {
    VirtualJoystick old("Old", 2, 2, 0);
    ASSERT_TRUE(old.Ok());
    ASSERT_EQ(JoystickCount(), 1);
    ASSERT_TRUE(old.SetAxis(0, 32767));
    ASSERT_TRUE(old.SetButton(0, true));
    EXPECT_EQ(JoystickX(0), 1.0f);
    EXPECT_EQ(JoystickButtonDown(0, 0), 1);
  }
  // Gone: its number keeps the last values until a count looks again.
  EXPECT_EQ(JoystickX(0), 1.0f);
  EXPECT_EQ(JoystickCount(), 0);
  EXPECT_EQ(JoystickX(0), 0.0f);

  VirtualJoystick& pad = Attach("New", 2, 2, 0);
  ASSERT_EQ(JoystickCount(), 1);
  ASSERT_TRUE(pad.SetButton(0, true));
  // Had the old device's button state stayed, this press would not count.
  EXPECT_EQ(JoystickButtonHits(0, 0), 1);
}

}  // namespace
