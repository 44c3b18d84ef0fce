#pragma once
// The picture as a PNG, for the replay tool's `snap` and the replay page.
// Every build (desktop, without Qt, the browser) encodes with the same code
// and the same settings, so one picture gives the same bytes everywhere.

#include <cstdint>
#include <string>
#include <vector>

#include "render/PixelCanvas.h"

namespace kestrel {

// The bytes of a PNG file of the picture: 8-bit RGB, one device pixel per
// pixel. Empty only if the encoder runs out of memory.
std::vector<std::uint8_t> EncodePng(const PixelCanvas& picture);

// False when the file cannot be written.
bool SavePng(const PixelCanvas& picture, const std::string& path);

}  // namespace kestrel
