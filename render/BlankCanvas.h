#pragma once
// A canvas that keeps nothing: for a battle run by the rules alone, as a
// room's referee runs it. It counts its clears, since a clean canvas is a
// point a battle can be picked up from without its picture.

#include <cstdint>

#include "render/Canvas.h"

namespace kestrel {

class BlankCanvas final : public Canvas {
public:
    BlankCanvas(float width, float height) : width_(width), height_(height) {}

    float CanvasWidth() const override { return width_; }
    float CanvasHeight() const override { return height_; }
    void DrawLine(float, float, float, float, Colour) override {}
    void DrawLineTo(float, float, Colour) override {}
    void DrawCircle(float, float, float, Colour) override {}
    void ClearCanvas() override { ++clears_; }

    void Resize(float width, float height) { width_ = width, height_ = height; }
    std::uint64_t Clears() const { return clears_; }

private:
    float width_;
    float height_;
    std::uint64_t clears_ = 0;
};

}  // namespace kestrel
