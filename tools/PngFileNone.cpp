#include "tools/PngFile.h"

namespace kestrel {

const bool CAN_WRITE_PNG = false;

bool SavePng(const PixelCanvas&, const std::string&) { return false; }

}  // namespace kestrel
