#pragma once
// A canvas that keeps nothing: for a battle run by the rules alone, as a
// room's referee runs it. It counts its clears, since a clean canvas is a
// point a battle can be picked up from without its picture.

#include <cstdint>

#include "render/Canvas.h"

namespace kestrel {

// Whether a blank canvas still takes the glyphs' strokes, so that the
// simulation is timed with the work of drawing it (the benchmarks), or
// spares them that work (a referee, which plays a long recording through
// at once when its room is resumed).
enum class Strokes { Taken, Spared };

class BlankCanvas final : public Canvas {
public:
    BlankCanvas(float width, float height, Strokes strokes = Strokes::Taken)
        : width_(width), height_(height), strokes_(strokes) {}

    float CanvasWidth() const override { return width_; }
    float CanvasHeight() const override { return height_; }
    void DrawLine(float, float, float, float, Colour) override {}
    void DrawLineTo(float, float, Colour) override {}
    void DrawCircle(float, float, float, Colour) override {}
    void ClearCanvas() override { ++clears_; }
    bool TakesStrokes() const override { return strokes_ == Strokes::Taken; }

    void Resize(float width, float height) { width_ = width, height_ = height; }
    std::uint64_t Clears() const { return clears_; }

private:
    float width_;
    float height_;
    Strokes strokes_;
    std::uint64_t clears_ = 0;
};

}  // namespace kestrel
