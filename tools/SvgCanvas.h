#pragma once
// A canvas that writes what is drawn on it as SVG elements, for the
// program's icon: the tank glyph drawn by the game's own code, as strokes in
// a small scalable picture. Canvas units are mapped onto the document by a
// scale and an offset so the glyph can be placed anywhere in the view box.

#include <string>

#include "render/Canvas.h"

namespace kestrel {

struct SvgPlacement {
    double scale = 1;
    double dx = 0;
    double dy = 0;
};

class SvgCanvas final : public Canvas {
public:
    SvgCanvas(float width, float height, SvgPlacement placement)
        : width_(width), height_(height), placement_(placement) {}

    float CanvasWidth() const override { return width_; }
    float CanvasHeight() const override { return height_; }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override;
    void DrawLineTo(float x2, float y2, Colour colour) override;
    void DrawCircle(float cx, float cy, float radius, Colour colour) override;
    void ClearCanvas() override;

    // The strokes so far, one element a line: a line and the line-tos that
    // follow it in the same colour become one path, closed when it ends on
    // its first point, so the corners join cleanly at any stroke width.
    std::string Elements();

private:
    void ClosePath();
    std::string X(float x) const;
    std::string Y(float y) const;

    float width_;
    float height_;
    SvgPlacement placement_;
    std::string elements_;
    std::string path_;
    Colour pathColour_;
    float pathStartX_ = 0;
    float pathStartY_ = 0;
    float penX_ = 0;
    float penY_ = 0;
};

// A number as short as it can be written at two decimals: "12.5", "3", "-0.25".
std::string SvgNumber(double value);
// "#rrggbb".
std::string SvgColour(Colour colour);

}  // namespace kestrel
