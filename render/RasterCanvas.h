#pragma once
// The real picture: a persistent QImage painted with an aliased, cosmetic,
// one-pixel pen, so that a shape drawn again in white covers exactly the
// pixels it drew. It remembers the rectangle that changed since it was last
// asked, so a window can repaint just that.

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <array>
#include <memory>

#include "render/Canvas.h"

namespace kestrel {

class RasterCanvas final : public Canvas {
public:
    // width x height canvas units; devicePixelRatio device pixels per unit.
    explicit RasterCanvas(int width = 696, int height = 548, qreal devicePixelRatio = 1);
    ~RasterCanvas() override;

    float CanvasWidth() const override { return float(width_); }
    float CanvasHeight() const override { return float(height_); }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override;
    void DrawLineTo(float x2, float y2, Colour colour) override;
    void DrawCircle(float cx, float cy, float radius, Colour colour) override;
    void ClearCanvas() override;

    // A new inner size (at least 1 x 1) and pixel ratio: the picture keeps
    // its overlapping part, new area is white.
    void Resize(int width, int height, qreal devicePixelRatio = 1);

    // The picture, with every call so far painted into it.
    const QImage& Image();
    // The part changed since the last call, in canvas units; may be empty.
    QRect TakeDirtyRect();

private:
    // A pen made once and kept for a colour drawn recently.
    struct CachedPen {
        Colour colour;
        QPen pen;
    };

    QPainter& Painter(Colour colour);
    const QPen& PenFor(Colour colour);
    void EndPainting();
    // A line whose ends lie within reach of the picture.
    void DrawNearLine(double ax, double ay, double bx, double by, Colour colour);
    // Whether a box, grown by the pen's reach, meets the picture.
    bool InSight(double left, double top, double right, double bottom) const;
    void MarkDirty(double left, double top, double right, double bottom);

    int width_;
    int height_;
    QImage image_;
    std::unique_ptr<QPainter> painter_;
    Colour penColour_;
    float penX_ = 0;
    float penY_ = 0;
    QRect dirty_;
    // Tanks, trails and shells take a handful of colours, burst rays many;
    // the oldest entry makes way for a new colour.
    std::array<CachedPen, 8> pens_;
    std::size_t pensUsed_ = 0;
    std::size_t nextPen_ = 0;
};

}  // namespace kestrel
