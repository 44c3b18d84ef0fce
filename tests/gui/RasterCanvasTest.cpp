// The raster picture, checked on its real pixels.

#include <gtest/gtest.h>

#include <QImage>
#include <QRectF>
#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "render/RasterCanvas.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

constexpr int W = 160;
constexpr int H = 120;

QRgb Rgb(Colour c) { return qRgb(c.r, c.g, c.b); }

// Success, or the first device pixel at which `holds(x, y)` is false.
template <typename Holds>
testing::AssertionResult EveryPixel(const QImage& image, Holds holds) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!holds(x, y)) return testing::AssertionFailure() << "pixel " << x << ", " << y;
    return testing::AssertionSuccess();
}

testing::AssertionResult SamePicture(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return testing::AssertionFailure() << "sizes differ";
    return EveryPixel(a, [&](int x, int y) { return a.pixel(x, y) == b.pixel(x, y); });
}

// Whether a dirty rectangle, in canvas units, wholly covers device pixel (x, y).
bool Covers(QRect dirty, qreal ratio, int x, int y) {
    const QRectF reach(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio,
                       dirty.height() * ratio);
    return reach.contains(QRectF(x, y, 1, 1));
}

// Lines and rings in colours other than black, so that a black glyph's own
// pixels can be told from it.
void DrawBackdrop(RasterCanvas& canvas) {
    const Colour colours[] = {SHELL_COLOUR, TRAIL_COLOUR, HIT_TANK_COLOUR, PLAYER_BLUE};
    int i = 0;
    const auto next = [&] { return colours[i++ % 4]; };
    for (float y = 3; y < H; y += 7) canvas.DrawLine(-5, y, W + 5, y + 3, next());
    for (float x = 2; x < W; x += 11) canvas.DrawLine(x, -5, x - 4, H + 5, next());
    for (float r = 4; r < W; r += 9) canvas.DrawCircle(W / 2.0f, H / 2.0f, r, next());
}

// Tanks all over the picture, on its edges and corners (turret depths -H/2
// and 3H/2 put it at the top and the bottom), half outside and far off.
void ForEachPose(int count, const std::function<void(double, double, float, float)>& pose) {
    const double top = -0.5 * H, bottom = 1.5 * H;
    for (double x : {0.0, double(W)})
        for (double y : {top, bottom}) pose(x, y, float(x + y), 2);
    pose(-12, 60, 0.7f, 0.1f);
    pose(W + 9, bottom + 15, 3, 1);
    pose(-1e6, 50, 1, 2);
    pose(1e30, -1e30, 1, 2);
    std::mt19937 gen(20240611);
    std::uniform_real_distribution<double> x(-20, W + 20), y(top - 30, bottom + 30);
    std::uniform_real_distribution<float> angle(-7, 7);
    for (int i = 0; i < count; ++i) pose(x(gen), y(gen), angle(gen), angle(gen));
}

// A black glyph over a backdrop turns pixels exactly black (an aliased pen),
// all of them within the dirty rectangle; drawing it again in white turns
// exactly those pixels white and leaves every other one as it was.
TEST(RasterGlyph, EraseIsExactAndDirtyRectanglesCoverEveryChange) {
    for (qreal ratio : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        RasterCanvas canvas(W, H, ratio);
        DrawBackdrop(canvas);
        canvas.TakeDirtyRect();
        int shown = 0;
        ForEachPose(120, [&](double x, double y, float heading, float turret) {
            if (testing::Test::HasFatalFailure()) return;
            SCOPED_TRACE(testing::Message() << "tank at " << x << ", " << y);
            const QImage before = canvas.Image().copy();
            DrawTank(canvas, x, y, heading, turret, BLACK);
            const QImage drawn = canvas.Image().copy();
            QRect dirty = canvas.TakeDirtyRect();
            ASSERT_TRUE(EveryPixel(drawn, [&](int px, int py) {
                return drawn.pixel(px, py) == before.pixel(px, py) ||
                       (drawn.pixel(px, py) == Rgb(BLACK) && Covers(dirty, ratio, px, py));
            }));
            shown += drawn != before;

            DrawTank(canvas, x, y, heading, turret, WHITE);
            const QImage& after = canvas.Image();
            dirty = canvas.TakeDirtyRect();
            ASSERT_TRUE(EveryPixel(after, [&](int px, int py) {
                const QRgb now = after.pixel(px, py);
                if (drawn.pixel(px, py) != Rgb(BLACK)) return now == before.pixel(px, py);
                return now == Rgb(WHITE) && Covers(dirty, ratio, px, py);
            }));
        });
        EXPECT_GT(shown, 100) << "the tanks were really drawn";
    }
}

// Far-off or undefined coordinates show the visible part of the same stroke,
// and nothing at all (not even a dirty rectangle) where none is visible.
TEST(RasterFarOff, DrawsOnlyTheVisiblePart) {
    using Strokes = std::function<void(RasterCanvas&)>;
    const auto line = [](float x1, float y1, float x2, float y2) -> Strokes {
        return [=](RasterCanvas& c) { c.DrawLine(x1, y1, x2, y2, BLACK); };
    };
    const auto circle = [](float x, float y, float r) -> Strokes {
        return [=](RasterCanvas& c) { c.DrawCircle(x, y, r, BLACK); };
    };
    // The pen moves to the end of a line even when nothing of it shows.
    const auto lineTo = [](float x1, float y1, float x2, float y2) -> Strokes {
        return [=](RasterCanvas& c) {
            c.DrawLine(-9e3f, 3, x1, y1, BLACK);
            c.DrawLineTo(x2, y2, BLACK);
        };
    };
    const Strokes nothing = [](RasterCanvas&) {};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        Strokes far, near;
    } cases[] = {
        {line(-1e30f, 50, 1e30f, 50), line(-10, 50, W + 10, 50)},
        {line(70, 1e30f, 70, -1e30f), line(70, H + 10, 70, -10)},
        {line(-1e6f, -1e6f, 1e6f, 1e6f), line(-10, -10, W + 10, W + 10)},
        {line(-1e30f, -1e30f, 1e30f, 1e30f), line(-10, -10, W + 10, W + 10)},
        {line(-1e30f, -5e29f, 1e30f, 5e29f), line(-10, -5, W + 10, (W + 10) / 2)},
        {line(0.5f, 30, 1e30f, 30), line(0.5f, 30, W + 10, 30)},
        {lineTo(-300, 7, 40, 7), line(-300, 7, 40, 7)},
        {lineTo(-1e30f, 7, 40, 7), line(-1e30f, 7, 40, 7)},
        {lineTo(1e30f, 1e30f, 40, 7), line(1e30f, 1e30f, 40, 7)},
        {line(nan, 10, 50, 50), nothing},
        {lineTo(inf, nan, 20, 20), nothing},
        {line(1e30f, 1e30f, 2e30f, -1e30f), nothing},
        {line(-1e30f, -1e30f, -1e30f, 1e30f), nothing},
        {line(1e6f, 0, 1e6f, H), nothing},
        {line(-1e30f, -1e30f, 1e30f, -1e30f + 1e24f), nothing},
        {circle(nan, 50, 5), nothing},
        {circle(50, 50, inf), nothing},
        {circle(W / 2.0f, H / 2.0f, 1e30f), nothing},
        {circle(W / 2.0f, H / 2.0f, 1e6f), nothing},
        {circle(-1e30f, 1e30f, 5), nothing},
        {circle(1e6f, 1e6f, 1e3f), nothing},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        RasterCanvas far(W, H), near(W, H);
        cases[i].far(far);
        cases[i].near(near);
        EXPECT_TRUE(SamePicture(far.Image(), near.Image())) << "case " << i;
        EXPECT_EQ(far.TakeDirtyRect().isEmpty(), near.TakeDirtyRect().isEmpty()) << "case " << i;
    }
}

TEST(RasterResize, KeepsTheOverlapWhitensTheRestAndNeverGoesBelowOnePixel) {
    RasterCanvas canvas(W, H);
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty());
    DrawBackdrop(canvas);
    const QImage before = canvas.Image().copy();
    canvas.Resize(W + 40, H - 30);
    EXPECT_EQ(canvas.CanvasWidth(), float(W + 40));
    EXPECT_EQ(canvas.CanvasHeight(), float(H - 30));
    EXPECT_EQ(canvas.TakeDirtyRect(), QRect(0, 0, W + 40, H - 30));
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty()) << "taking it empties it";
    const QImage& grown = canvas.Image();
    ASSERT_EQ(grown.size(), QSize(W + 40, H - 30));
    EXPECT_TRUE(EveryPixel(grown, [&](int x, int y) {
        return grown.pixel(x, y) == (x < W ? before.pixel(x, y) : Rgb(WHITE));
    }));

    canvas.Resize(W, H, 2);
    EXPECT_EQ(canvas.Image().size(), QSize(2 * W, 2 * H));
    EXPECT_EQ(canvas.CanvasWidth(), float(W));
    canvas.ClearCanvas();
    EXPECT_EQ(canvas.TakeDirtyRect(), QRect(0, 0, W, H));

    for (QSize size : {QSize(0, 0), QSize(-5, -7), QSize(0, 40), QSize(-1, 1)}) {
        const QSize least(std::max(1, size.width()), std::max(1, size.height()));
        EXPECT_EQ(RasterCanvas(size.width(), size.height()).Image().size(), least);
        canvas.Resize(size.width(), size.height());
        EXPECT_EQ(canvas.Image().size(), least);
        EXPECT_EQ(canvas.CanvasWidth(), least.width());
        EXPECT_EQ(canvas.CanvasHeight(), least.height());
        ForEachPose(20, [&](double x, double y, float heading, float turret) {
            DrawTank(canvas, x, y, heading, turret, BLACK);
        });
    }
}

}  // namespace
}  // namespace kestrel
