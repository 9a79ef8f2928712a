// The four picture loader modules, initialised together.
#pragma once

#include "pixmap/loaders/PixmapLoaderBMP.h"
#include "pixmap/loaders/PixmapLoaderJPG.h"
#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "pixmap/loaders/PixmapLoaderTGA.h"

namespace vrl::pixmaploaders {

/// Initialises the BMP, JPEG, PNG and TGA loader modules in that order, so
/// that LoadPixmap asks TGA first, then PNG, then JPEG, then BMP (the loader
/// made last is asked first).
void Init();

}  // namespace vrl::pixmaploaders
