#include "trace/PngFile.h"

#include <cstddef>
#include <fstream>

// The encoder is compiled here, privately: its functions are static to this
// file, and it writes to memory only (files are written below).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace kestrel {
namespace {

// Fixed here rather than left to the library's defaults, so the bytes do
// not change if a default does: deflate effort 8 of 9, and each row's filter
// picked by the encoder's own (deterministic) rule.
constexpr int DEFLATE_LEVEL = 8;
constexpr int FILTER_PER_ROW = -1;
constexpr int RGB_CHANNELS = 3;

void AppendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* from = static_cast<const std::uint8_t*>(data);
    bytes->insert(bytes->end(), from, from + size);
}

// The pixels as RGB bytes, whatever the picture's own layout in memory.
std::vector<std::uint8_t> RgbRows(const PixelCanvas& picture) {
    std::vector<std::uint8_t> rgb;
    rgb.reserve(std::size_t(picture.DeviceWidth()) * std::size_t(picture.DeviceHeight()) * RGB_CHANNELS);
    for (int y = 0; y < picture.DeviceHeight(); ++y) {
        for (int x = 0; x < picture.DeviceWidth(); ++x) {
            const Colour c = picture.PixelAt(x, y);
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    }
    return rgb;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const PixelCanvas& picture) {
    const std::vector<std::uint8_t> rgb = RgbRows(picture);
    stbi_write_png_compression_level = DEFLATE_LEVEL;
    stbi_write_force_png_filter = FILTER_PER_ROW;
    std::vector<std::uint8_t> png;
    const int width = picture.DeviceWidth();
    if (!stbi_write_png_to_func(AppendBytes, &png, width, picture.DeviceHeight(), RGB_CHANNELS,
                                rgb.data(), width * RGB_CHANNELS))
        png.clear();
    return png;
}

bool SavePng(const PixelCanvas& picture, const std::string& path) {
    const std::vector<std::uint8_t> png = EncodePng(picture);
    if (png.empty()) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    file.close();
    return bool(file);
}

}  // namespace kestrel
