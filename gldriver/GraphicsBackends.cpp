#include "gldriver/GraphicsBackends.h"

#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "lith2d/RecordingDriver.h"
#include "swdriver/SoftLith2DDriver.h"

namespace vrl {

namespace {

constexpr GraphicsBackend kGraphicsDrivers[] = {
    {"OpenGL", &glgraphics::Init, []() -> TGraphicsDriver* { return OpenGLGraphicsDriver(); }},
    {"Software", &softgraphics::Init, []() -> TGraphicsDriver* { return SoftwareGraphicsDriver(); }},
};

constexpr GraphicsBackend kLith2DDrivers[] = {
    {"Recording", &lith2d::Init, []() -> TGraphicsDriver* { return RecordingLith2DDriver(); }},
    {"OpenGL", &gl2d::InitBackend, []() -> TGraphicsDriver* { return OpenGL2DDriver(); }},
    {"Software", &swdriver::Init, []() -> TGraphicsDriver* { return Software2DDriver(); }},
};

}  // namespace

std::span<const GraphicsBackend> GraphicsDriverBackends() { return kGraphicsDrivers; }
std::span<const GraphicsBackend> Lith2DDriverBackends() { return kLith2DDrivers; }

void InitGraphicsBackends() {
  for (const GraphicsBackend& backend : kGraphicsDrivers) backend.init();
  for (const GraphicsBackend& backend : kLith2DDrivers) backend.init();
}

}  // namespace vrl
