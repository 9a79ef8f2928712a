// The ordered back-end tables: what they list, the order in which their
// modules register, and the default driver they leave selected. No display
// is needed: initialising a module never opens one.
#include "gldriver/GraphicsBackends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "lith2d/RecordingDriver.h"
#include "runtime/ClassRecord.h"
#include "swdriver/SoftLith2DDriver.h"

using namespace vrl;

namespace {

std::vector<std::string> Names(std::span<const GraphicsBackend> table) {
  std::vector<std::string> names;
  for (const GraphicsBackend& backend : table) names.emplace_back(backend.name);
  return names;
}

// Where the class stands in the registration order.
std::ptrdiff_t RegisteredAt(const ClassRecord& record) {
  const auto& classes = RegisteredClasses();
  return std::find(classes.begin(), classes.end(), &record) - classes.begin();
}

TEST(GraphicsBackendsTest, TablesListTheBackendsInOrderAndTheLastCandidateIsTheDefault) {
  gl2d::Init();
  EXPECT_EQ(Names(GraphicsDriverBackends()), (std::vector<std::string>{"OpenGL", "Software"}));
  EXPECT_EQ(Names(Lith2DDriverBackends()), (std::vector<std::string>{"Recording", "OpenGL", "Software"}));
  EXPECT_EQ(GraphicsDriverBackends()[0].driver(), OpenGLGraphicsDriver());
  EXPECT_EQ(Lith2DDriverBackends()[0].driver(), RecordingLith2DDriver());
  EXPECT_EQ(Lith2DDriverBackends()[1].driver(), OpenGL2DDriver());
  EXPECT_EQ(Lith2DDriverBackends()[2].driver(), Software2DDriver());
  EXPECT_EQ(GraphicsDriverBackends()[1].driver(), SoftwareGraphicsDriver());
  EXPECT_EQ(SelectedGraphicsDriver(), OpenGL2DDriver()) << "the recording driver is never chosen by itself";
  EXPECT_EQ(SelectedGraphicsFlags(), GRAPHICS_BACKBUFFER);

  std::ptrdiff_t count = static_cast<std::ptrdiff_t>(RegisteredClasses().size());
  std::ptrdiff_t glGraphics = RegisteredAt(TGLGraphicsDriver::StaticClass());
  std::ptrdiff_t recording = RegisteredAt(TRecordingLith2DDriver::StaticClass());
  std::ptrdiff_t gl2D = RegisteredAt(TGLLith2DDriver::StaticClass());
  ASSERT_LT(gl2D, count);
  EXPECT_LT(glGraphics, recording);
  EXPECT_LT(recording, gl2D);
}

TEST(GraphicsBackendsTest, InitialisingAgainChangesNothing) {
  gl2d::Init();
  int32_t generation = GraphicsGeneration();
  std::size_t classes = RegisteredClasses().size();
  InitGraphicsBackends();
  gl2d::Init();
  EXPECT_EQ(GraphicsGeneration(), generation) << "no driver is selected again";
  EXPECT_EQ(RegisteredClasses().size(), classes);
}

}  // namespace
