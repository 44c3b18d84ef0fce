#pragma once
// How shapes become device pixels: aliased lines by an integer walk and
// midpoint rings, each pixel painted as a pen-sized square. Every pixel a
// shape covers depends only on its geometry, the pen and the picture's size,
// so drawing a shape again in white covers exactly what it drew. Clipping
// steps the walk to its first visible pixel instead of moving end points, so
// it never changes which pixels inside the picture a shape covers.

#include <cstdint>

namespace kestrel {

// The one rule that turns a point in device units into a pixel: the pixel
// the point lies in, counting from the picture's top-left corner; with a pen
// of more than one pixel, the top-left pixel of the pen square centred on
// the point. Only called for points well inside the range of the result.
inline std::int64_t PixelOf(double device, int pen = 1) {
    const double corner = device - 0.5 * (pen - 1);
    const auto pixel = static_cast<std::int64_t>(corner);  // toward zero
    return corner < double(pixel) ? pixel - 1 : pixel;
}

// A rectangle of device pixels, right and bottom exclusive; empty when it
// has no area.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    void Unite(const PixelRect& other);
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A picture being painted in one colour: its pixels, row after row, each a
// 32-bit word; and the rectangle painted so far.
struct PixelTarget {
    std::uint32_t* pixels;
    int width;
    int height;
    int pen;  // side of the square painted at each pixel of a shape, >= 1
    std::uint32_t colour;
    PixelRect painted;
};

// A line between two points in device units, both ends drawn. Nothing for
// NaN or infinite coordinates; far-off ends keep the visible part.
void PlotLine(PixelTarget& target, double x1, double y1, double x2, double y2);

// A ring around a point in device units, with the radius rounded to whole
// device pixels.
void PlotRing(PixelTarget& target, double cx, double cy, double radius);

}  // namespace kestrel

