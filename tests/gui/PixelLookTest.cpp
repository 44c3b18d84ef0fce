// The game's own rasterizer against QPainter's aliased cosmetic pen, which
// drew the picture before: every shape the game draws (tank glyphs, burst
// rays, shell dots) covers the same pixels to within one pixel either way.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPen>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "render/PixelCanvas.h"
#include "render/TankGlyph.h"
#include "tests/Sanitizers.h"

namespace kestrel {
namespace {

constexpr int W = 240;
constexpr int H = 180;

// The canvas calls painted with QPainter as the window once did.
class QPainterCanvas final : public Canvas {
public:
    QPainterCanvas(int width, int height, qreal ratio)
        : image_(int(std::ceil(width * ratio)), int(std::ceil(height * ratio)), QImage::Format_RGB32),
          width_(width),
          height_(height) {
        image_.setDevicePixelRatio(ratio);
        image_.fill(Qt::white);
    }
    float CanvasWidth() const override { return float(width_); }
    float CanvasHeight() const override { return float(height_); }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override {
        Painter(colour).drawLine(QPointF(x1, y1), QPointF(x2, y2));
        penX_ = x2, penY_ = y2;
    }
    void DrawLineTo(float x2, float y2, Colour colour) override { DrawLine(penX_, penY_, x2, y2, colour); }
    void DrawCircle(float cx, float cy, float radius, Colour colour) override {
        Painter(colour).drawEllipse(QPointF(cx, cy), radius, radius);
    }
    void ClearCanvas() override { image_.fill(Qt::white); }
    bool Inked(int x, int y) const { return image_.pixel(x, y) != qRgb(255, 255, 255); }

private:
    QPainter& Painter(Colour colour) {
        if (!painter_.isActive()) {
            painter_.begin(&image_);
            painter_.setRenderHint(QPainter::Antialiasing, false);
        }
        QPen pen(QColor(colour.r, colour.g, colour.b), std::max(1, int(std::lround(image_.devicePixelRatio()))));
        pen.setCosmetic(true);
        painter_.setPen(pen);
        return painter_;
    }

    QImage image_;
    QPainter painter_;
    int width_, height_;
    float penX_ = 0, penY_ = 0;
};

// The game's strokes, each call made on both canvases.
struct BothCanvases final : Canvas {
    BothCanvases(Canvas& a, Canvas& b) : one(a), other(b) {}
    float CanvasWidth() const override { return one.CanvasWidth(); }
    float CanvasHeight() const override { return one.CanvasHeight(); }
    void DrawLine(float x1, float y1, float x2, float y2, Colour c) override {
        one.DrawLine(x1, y1, x2, y2, c), other.DrawLine(x1, y1, x2, y2, c);
    }
    void DrawLineTo(float x2, float y2, Colour c) override { one.DrawLineTo(x2, y2, c), other.DrawLineTo(x2, y2, c); }
    void DrawCircle(float cx, float cy, float r, Colour c) override {
        one.DrawCircle(cx, cy, r, c), other.DrawCircle(cx, cy, r, c);
    }
    void ClearCanvas() override { one.ClearCanvas(), other.ClearCanvas(); }
    Canvas& one;
    Canvas& other;
};

// Every inked pixel of one picture has an inked pixel of the other within
// one pixel in both directions.
template <typename InkedA, typename InkedB>
testing::AssertionResult WithinOnePixel(int width, int height, InkedA a, InkedB b, int& inked) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (!a(x, y)) continue;
            ++inked;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < width && ny < height && b(nx, ny);
                }
            if (!near) return testing::AssertionFailure() << "pixel " << x << ", " << y << " has no match";
        }
    return testing::AssertionSuccess();
}

// A shape at a time on a fresh pair of pictures, so that no stroke can hide
// another's difference.
void ExpectSameLook(qreal ratio, const std::function<void(Canvas&)>& draw, const char* what) {
    PixelCanvas ours(W, H, ratio);
    QPainterCanvas theirs(W, H, ratio);
    BothCanvases both(ours, theirs);
    draw(both);
    const auto oursInked = [&](int x, int y) { return ours.PixelAt(x, y) != WHITE; };
    const auto theirsInked = [&](int x, int y) { return theirs.Inked(x, y); };
    int inkedOurs = 0, inkedTheirs = 0;
    const int w = ours.DeviceWidth(), h = ours.DeviceHeight();
    ASSERT_TRUE(WithinOnePixel(w, h, oursInked, theirsInked, inkedOurs)) << what << " ours";
    ASSERT_TRUE(WithinOnePixel(w, h, theirsInked, oursInked, inkedTheirs)) << what << " QPainter's";
    ASSERT_GT(inkedOurs, 0) << what;
}

TEST(PixelLook, TheGameShapesLookAsQPainterDrewThem) {
    std::mt19937 gen(20261208);
    // Away from the edges, where a match could lie outside the picture.
    std::uniform_real_distribution<double> x(25, W - 25), y(40, 200), unit(0, 1);
    std::uniform_real_distribution<float> angle(-7, 7);
    for (qreal ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(ratio);
        for (int i = 0; i < test::Cases(80, 20); ++i) {
            const double tx = x(gen), ty = y(gen);
            const float heading = angle(gen), turret = angle(gen);
            ExpectSameLook(ratio, [&](Canvas& c) { DrawTank(c, tx, ty, heading, turret, BLACK); }, "tank");
            // A burst ray: from the burst point, up to 20 units out.
            const float bx = float(x(gen)), by = float(y(gen) / 2);
            const double a = angle(gen), length = 20 * unit(gen);
            ExpectSameLook(ratio, [&](Canvas& c) {
                c.DrawLine(bx, by, float(bx + length * std::sin(a)), float(by + 0.5 * length * std::cos(a)), SHELL_COLOUR);
            }, "ray");
            ExpectSameLook(ratio, [&](Canvas& c) { c.DrawCircle(bx, by, 1, SHELL_COLOUR); }, "shell");
        }
    }
}

}  // namespace
}  // namespace kestrel
