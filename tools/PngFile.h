#pragma once
// Saving the picture as a PNG file, for the replay tool's `snap`. Only the
// full build, with Qt, has a PNG writer; the others say so.

#include <string>

#include "render/PixelCanvas.h"

namespace kestrel {

extern const bool CAN_WRITE_PNG;

// False when the file cannot be written (or no writer is built in).
bool SavePng(const PixelCanvas& picture, const std::string& path);

}  // namespace kestrel
