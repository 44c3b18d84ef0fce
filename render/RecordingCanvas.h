#pragma once
// A canvas that remembers every call instead of drawing it, for tests and the
// replay tool. It can also pass each call on to another canvas, so a replay
// can keep a real picture as well.

#include <vector>

#include "render/Canvas.h"

namespace kestrel {

struct CanvasCall {
    enum class Kind { Circle, Line, LineTo, Clear };
    Kind kind = Kind::Clear;
    // Circle: cx, cy, radius. Line: x1, y1, x2, y2. LineTo: x2, y2.
    float v[4] = {0, 0, 0, 0};
    Colour colour;
    friend bool operator==(const CanvasCall&, const CanvasCall&) = default;
};

class RecordingCanvas final : public Canvas {
public:
    RecordingCanvas(float width, float height, Canvas* mirror = nullptr)
        : width_(width), height_(height), mirror_(mirror) {}

    float CanvasWidth() const override { return width_; }
    float CanvasHeight() const override { return height_; }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override;
    void DrawLineTo(float x2, float y2, Colour colour) override;
    void DrawCircle(float cx, float cy, float radius, Colour colour) override;
    void ClearCanvas() override;

    void Resize(float width, float height) { width_ = width, height_ = height; }
    const std::vector<CanvasCall>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }

private:
    float width_;
    float height_;
    Canvas* mirror_;
    std::vector<CanvasCall> calls_;
};

}  // namespace kestrel
