#pragma once
// The real picture: a persistent buffer of device pixels that the game's own
// rasterizer draws into, so it looks the same on every machine and in the
// browser. It remembers what changed since it was last asked, so a front end
// can show just that. No Qt here: a window or a web page shows the buffer as
// it is.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/Canvas.h"
#include "render/DirtyTiles.h"
#include "render/Rasterize.h"

namespace kestrel {

// How a pixel lies in memory. A browser's ImageData and PNG files take bytes
// red, green, blue, alpha; desktop screens take 32-bit words 0xAARRGGBB (on
// a little-endian machine the bytes blue, green, red, alpha), which a window
// shows without converting a pixel.
enum class PixelFormat { RgbaBytes, ArgbWords };

// An opaque pixel of the colour in the format.
constexpr std::uint32_t PackPixel(Colour c, PixelFormat format);

class PixelCanvas final : public Canvas {
public:
    // width x height canvas units (at least 1 x 1); pixelRatio device pixels
    // per canvas unit. The device size is width and height times the ratio,
    // rounded up, unless a platform gives its own (the browser knows the
    // exact device size of an element better than any rounding).
    PixelCanvas(int width, int height, double pixelRatio = 1,
                PixelFormat format = PixelFormat::RgbaBytes);

    float CanvasWidth() const override { return float(width_); }
    float CanvasHeight() const override { return float(height_); }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override;
    void DrawLineTo(float x2, float y2, Colour colour) override;
    void DrawCircle(float cx, float cy, float radius, Colour colour) override;
    void ClearCanvas() override;

    // A new size or pixel ratio: the picture keeps its overlapping part
    // (scaled to the new ratio), new area is white. deviceWidth and
    // deviceHeight of 0 mean the size times the ratio, rounded up.
    void Resize(int width, int height, double pixelRatio = 1, int deviceWidth = 0,
                int deviceHeight = 0);

    double PixelRatio() const { return ratio_; }
    // Side of the square painted at each pixel of a line or ring, so that
    // lines keep their weight on a high-density screen.
    int PenSize() const { return pen_; }
    int DeviceWidth() const { return deviceWidth_; }
    int DeviceHeight() const { return deviceHeight_; }
    PixelFormat Format() const { return format_; }
    // The pixels, row after row with no gap, 4 bytes each (see PixelFormat).
    const std::uint8_t* Bytes() const { return reinterpret_cast<const std::uint8_t*>(pixels_.data()); }
    std::size_t BytesPerLine() const { return std::size_t(deviceWidth_) * sizeof(std::uint32_t); }
    Colour PixelAt(int x, int y) const;

    // The device pixels changed since the last call, as rectangles that
    // cover them (none when nothing changed).
    std::vector<PixelRect> TakeDirtyRects();

private:
    // The buffer, pen and size for the rasterizer, for one stroke in one
    // colour; and, after it, the stroke's painted area marked dirty.
    PixelTarget Stroke(Colour colour);
    void EndStroke(const PixelTarget& stroke) { dirty_.Mark(stroke.painted); }
    // The picture's pixels for a new device size and ratio.
    std::vector<std::uint32_t> Resampled(int newWidth, int newHeight, double ratio) const;

    PixelFormat format_;
    int width_ = 1;
    int height_ = 1;
    double ratio_ = 1;
    int pen_ = 1;
    int deviceWidth_ = 1;
    int deviceHeight_ = 1;
    std::vector<std::uint32_t> pixels_;
    float penX_ = 0;
    float penY_ = 0;
    DirtyTiles dirty_;
};

// The canvas units that wholly cover a rectangle of device pixels at the
// given ratio, within width x height.
PixelRect CanvasUnitsCovering(const PixelRect& device, double ratio, int width, int height);

constexpr std::uint32_t PackPixel(Colour c, PixelFormat format) {
    constexpr std::uint32_t OPAQUE = 0xff;
    const std::uint32_t r = c.r, g = c.g, b = c.b;
    if (format == PixelFormat::ArgbWords) return OPAQUE << 24 | r << 16 | g << 8 | b;
    // Bytes in memory order: the first byte is the word's least significant
    // on a little-endian machine (x86, WebAssembly), its most elsewhere.
    if constexpr (std::endian::native == std::endian::little) return OPAQUE << 24 | b << 16 | g << 8 | r;
    else return r << 24 | g << 16 | b << 8 | OPAQUE;
}

}  // namespace kestrel
