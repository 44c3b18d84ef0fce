#include "render/PixelCanvas.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

// Ratios outside these bounds (or not a number at all) come from a broken
// platform, not a screen; they are brought within them.
constexpr double LEAST_RATIO = 1.0 / 16;
constexpr double MOST_RATIO = 16;
// A picture larger than these keeps only its first columns or rows; no screen
// comes near.
constexpr long long MOST_DEVICE_PIXELS = 1LL << 28;
constexpr double MOST_DEVICE_SIDE = 1 << 16;

double SaneRatio(double ratio) {
    if (!std::isfinite(ratio) || ratio <= 0) return 1;
    return std::clamp(ratio, LEAST_RATIO, MOST_RATIO);
}

int DeviceSide(int side, double ratio, int given) {
    const double wanted = given > 0 ? given : std::ceil(side * ratio);
    return int(std::clamp(wanted, 1.0, MOST_DEVICE_SIDE));
}

}  // namespace

PixelCanvas::PixelCanvas(int width, int height, double pixelRatio, PixelFormat format)
    : format_(format) {
    Resize(width, height, pixelRatio);
}

PixelTarget PixelCanvas::Stroke(Colour colour) {
    return {pixels_.data(), deviceWidth_, deviceHeight_, pen_, PackPixel(colour, format_), {}};
}

void PixelCanvas::DrawLine(float x1, float y1, float x2, float y2, Colour colour) {
    penX_ = x2, penY_ = y2;
    PixelTarget stroke = Stroke(colour);
    PlotLine(stroke, x1 * ratio_, y1 * ratio_, x2 * ratio_, y2 * ratio_);
    EndStroke(stroke);
}

void PixelCanvas::DrawLineTo(float x2, float y2, Colour colour) { DrawLine(penX_, penY_, x2, y2, colour); }

void PixelCanvas::DrawCircle(float cx, float cy, float radius, Colour colour) {
    PixelTarget stroke = Stroke(colour);
    PlotRing(stroke, cx * ratio_, cy * ratio_, radius * ratio_);
    EndStroke(stroke);
}

void PixelCanvas::ClearCanvas() {
    std::fill(pixels_.begin(), pixels_.end(), PackPixel(WHITE, format_));
    dirty_.MarkAll();
}

// Each new pixel takes the old one that covered the same place, so a change
// of ratio alone keeps the picture, scaled; new area is white.
std::vector<std::uint32_t> PixelCanvas::Resampled(int newWidth, int newHeight, double ratio) const {
    std::vector<std::uint32_t> resized(std::size_t(newWidth) * std::size_t(newHeight),
                                       PackPixel(WHITE, format_));
    const double scale = ratio_ / ratio;
    const auto source = [&](int at) { return ratio == ratio_ ? at : int(std::floor(at * scale)); };
    std::vector<int> fromColumn;
    for (int x = 0; x < newWidth; ++x) {
        const int from = source(x);
        if (from >= deviceWidth_ || pixels_.empty()) break;
        fromColumn.push_back(from);
    }
    for (int y = 0; y < newHeight && !fromColumn.empty(); ++y) {
        const int from = source(y);
        if (from >= deviceHeight_) break;
        const std::uint32_t* sourceRow = pixels_.data() + std::size_t(from) * std::size_t(deviceWidth_);
        std::uint32_t* row = resized.data() + std::size_t(y) * std::size_t(newWidth);
        for (std::size_t x = 0; x < fromColumn.size(); ++x) row[x] = sourceRow[fromColumn[x]];
    }
    return resized;
}

void PixelCanvas::Resize(int width, int height, double pixelRatio, int deviceWidth, int deviceHeight) {
    width = std::max(1, width);
    height = std::max(1, height);
    const double ratio = SaneRatio(pixelRatio);
    const int newWidth = DeviceSide(width, ratio, deviceWidth);
    const int newHeight = int(std::clamp<long long>(DeviceSide(height, ratio, deviceHeight), 1,
                                                    std::max(1LL, MOST_DEVICE_PIXELS / newWidth)));
    if (width == width_ && height == height_ && ratio == ratio_ && newWidth == deviceWidth_ &&
        newHeight == deviceHeight_ && !pixels_.empty())
        return;

    pixels_ = Resampled(newWidth, newHeight, ratio);
    width_ = width;
    height_ = height;
    ratio_ = ratio;
    pen_ = std::max(1, int(std::lround(ratio)));
    deviceWidth_ = newWidth;
    deviceHeight_ = newHeight;
    dirty_.Reset(deviceWidth_, deviceHeight_);
    dirty_.MarkAll();
}

Colour PixelCanvas::PixelAt(int x, int y) const {
    const std::uint32_t word = pixels_[std::size_t(y) * std::size_t(deviceWidth_) + std::size_t(x)];
    if (format_ == PixelFormat::ArgbWords)
        return {std::uint8_t(word >> 16), std::uint8_t(word >> 8), std::uint8_t(word)};
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&word);
    return {bytes[0], bytes[1], bytes[2]};
}

std::vector<PixelRect> PixelCanvas::TakeDirtyRects() { return dirty_.Take(); }

PixelRect CanvasUnitsCovering(const PixelRect& device, double ratio, int width, int height) {
    if (device.Empty()) return {};
    return {std::clamp(int(std::floor(device.left / ratio)), 0, width),
            std::clamp(int(std::floor(device.top / ratio)), 0, height),
            std::clamp(int(std::ceil(device.right / ratio)), 0, width),
            std::clamp(int(std::ceil(device.bottom / ratio)), 0, height)};
}

}  // namespace kestrel
