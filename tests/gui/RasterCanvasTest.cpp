// The raster picture, checked on its real pixels.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QRectF>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "render/RasterCanvas.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

constexpr int W = 160;
constexpr int H = 120;
constexpr qreal RATIOS[] = {1, 1.5, 2};

struct Pose {
    double x, y;
    float heading, turret;
};

QRgb Rgb(Colour c) { return qRgb(c.r, c.g, c.b); }

QImage Blank(const QImage& like) {
    QImage blank(like.size(), like.format());
    blank.fill(Qt::white);
    return blank;
}

// Equal pictures, or the first pixel that differs.
testing::AssertionResult SamePicture(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return testing::AssertionFailure() << "sizes differ: " << a.width() << " x " << a.height()
                                           << " and " << b.width() << " x " << b.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return testing::AssertionFailure()
                       << "pixel " << x << ", " << y << ": " << qPrintable(QColor(a.pixel(x, y)).name())
                       << " and " << qPrintable(QColor(b.pixel(x, y)).name());
    return testing::AssertionSuccess();
}

void Draw(RasterCanvas& canvas, const Pose& p, Colour colour) {
    DrawTank(canvas, p.x, p.y, p.heading, p.turret, colour);
}

// Ground depths that put the turret at canvas heights 0 and H.
constexpr double TOP = -0.5 * H;
constexpr double BOTTOM = 1.5 * H;

// Poses all over the picture, on its edges and corners, half outside and far
// off; the same list on every run.
std::vector<Pose> Poses(int count) {
    std::mt19937 gen(20240611);
    std::uniform_real_distribution<double> x(-20, W + 20), y(TOP - 30, BOTTOM + 30);
    std::uniform_real_distribution<float> angle(-7, 7);
    std::vector<Pose> poses = {{0, 100, 0.3f, 2.0f},      {0, TOP, 1, 1},
                               {W, TOP, 2, 3},            {0, BOTTOM, 4, 5},
                               {W, BOTTOM, 5, 6},         {-12, 60, 0.7f, 0.1f},
                               {W + 9, BOTTOM + 15, 3, 1}, {-1e6, 50, 1, 2},
                               {1e30, -1e30, 1, 2},        {5000, 5000, 0, 0}};
    while (int(poses.size()) < count) poses.push_back({x(gen), y(gen), angle(gen), angle(gen)});
    return poses;
}

// Lines and rings in colours other than black, so a black glyph's own pixels
// can be told from it.
void DrawBackdrop(RasterCanvas& canvas) {
    const Colour colours[] = {SHELL_COLOUR, TRAIL_COLOUR, HIT_TANK_COLOUR, PLAYER_BLUE};
    int i = 0;
    for (int y = 3; y < H; y += 7) canvas.DrawLine(-5, float(y), W + 5, float(y) + 3, colours[i++ % 4]);
    for (int x = 2; x < W; x += 11) canvas.DrawLine(float(x), -5, float(x) - 4, H + 5, colours[i++ % 4]);
    for (int r = 4; r < W; r += 9) canvas.DrawCircle(W / 2.0f, H / 2.0f, float(r), colours[i++ % 4]);
}

// Every device pixel that differs between the two pictures.
std::vector<QPoint> ChangedPixels(const QImage& before, const QImage& after) {
    std::vector<QPoint> changed;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (before.pixel(x, y) != after.pixel(x, y)) changed.emplace_back(x, y);
    return changed;
}

TEST(RasterErase, GlyphDrawnAgainInWhiteLeavesWhiteCanvas) {
    for (qreal ratio : RATIOS) {
        SCOPED_TRACE(ratio);
        RasterCanvas canvas(W, H, ratio);
        const QImage white = Blank(canvas.Image());
        int shown = 0;
        for (const Pose& p : Poses(300)) {
            Draw(canvas, p, BLACK);
            shown += canvas.Image() != white;
            Draw(canvas, p, WHITE);
            ASSERT_TRUE(SamePicture(canvas.Image(), white)) << "pose at " << p.x << ", " << p.y;
        }
        EXPECT_GT(shown, 260);  // the poses really drew something
    }
}

TEST(RasterErase, OnlyTheGlyphsOwnPixelsTurnWhite) {
    for (qreal ratio : RATIOS) {
        SCOPED_TRACE(ratio);
        for (const Pose& p : Poses(40)) {
            RasterCanvas canvas(W, H, ratio);
            DrawBackdrop(canvas);
            const QImage before = canvas.Image().copy();
            Draw(canvas, p, BLACK);
            const QImage drawn = canvas.Image().copy();
            Draw(canvas, p, WHITE);
            const QImage& after = canvas.Image();
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x) {
                    const bool glyph = drawn.pixel(x, y) == Rgb(BLACK);
                    ASSERT_EQ(after.pixel(x, y), glyph ? Rgb(WHITE) : before.pixel(x, y))
                        << "pixel " << x << ", " << y << " pose at " << p.x << ", " << p.y;
                }
        }
    }
}

TEST(RasterPen, IsAliased) {
    for (qreal ratio : RATIOS) {
        SCOPED_TRACE(ratio);
        RasterCanvas canvas(W, H, ratio);
        for (const Pose& p : Poses(60)) Draw(canvas, p, PLAYER_BLUE);
        canvas.DrawCircle(33.3f, 44.6f, 1, PLAYER_BLUE);
        canvas.DrawLine(1.25f, 7.5f, 150.7f, 99.1f, PLAYER_BLUE);
        std::set<QRgb> colours;
        const QImage& image = canvas.Image();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
        EXPECT_EQ(colours, (std::set<QRgb>{Rgb(PLAYER_BLUE), Rgb(WHITE)}));
    }
}

TEST(RasterDirty, CoversEveryChangedPixel) {
    for (qreal ratio : RATIOS) {
        SCOPED_TRACE(ratio);
        RasterCanvas canvas(W, H, ratio);
        DrawBackdrop(canvas);
        canvas.TakeDirtyRect();
        for (const Pose& p : Poses(80)) {
            for (Colour colour : {BLACK, WHITE}) {
                const QImage before = canvas.Image().copy();
                Draw(canvas, p, colour);
                const QRect dirty = canvas.TakeDirtyRect();
                const QRectF reach(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio,
                                   dirty.height() * ratio);
                for (QPoint px : ChangedPixels(before, canvas.Image()))
                    ASSERT_TRUE(reach.contains(QRectF(px, QSizeF(1, 1))))
                        << "pixel " << px.x() << ", " << px.y() << " outside dirty " << dirty.x()
                        << ", " << dirty.y() << " " << dirty.width() << " x " << dirty.height();
            }
        }
    }
}

TEST(RasterDirty, EmptyWhenNothingDrawnAndWholeAfterClear) {
    RasterCanvas canvas(W, H);
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty());
    canvas.DrawLine(10, 10, 50, 60, BLACK);
    EXPECT_FALSE(canvas.TakeDirtyRect().isEmpty());
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty()) << "taking it empties it";
    canvas.DrawLine(-900, -900, -800, -700, BLACK);
    canvas.DrawCircle(1e6f, 50, 5, BLACK);
    Draw(canvas, {5000, 5000, 1, 1}, BLACK);
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty()) << "far-off shapes change nothing";
    canvas.ClearCanvas();
    EXPECT_EQ(canvas.TakeDirtyRect(), QRect(0, 0, W, H));
}

TEST(RasterResize, KeepsTheOverlapAndWhitensTheRest) {
    RasterCanvas canvas(W, H);
    DrawBackdrop(canvas);
    const QImage before = canvas.Image().copy();
    canvas.TakeDirtyRect();

    canvas.Resize(W + 40, H - 30);
    EXPECT_EQ(canvas.CanvasWidth(), float(W + 40));
    EXPECT_EQ(canvas.CanvasHeight(), float(H - 30));
    EXPECT_EQ(canvas.TakeDirtyRect(), QRect(0, 0, W + 40, H - 30));
    const QImage& grown = canvas.Image();
    ASSERT_EQ(grown.size(), QSize(W + 40, H - 30));
    for (int y = 0; y < grown.height(); ++y)
        for (int x = 0; x < grown.width(); ++x)
            ASSERT_EQ(grown.pixel(x, y), x < W ? before.pixel(x, y) : Rgb(WHITE)) << x << ", " << y;

    canvas.Resize(W, H, 2);
    EXPECT_EQ(canvas.Image().size(), QSize(2 * W, 2 * H));
    EXPECT_EQ(canvas.CanvasWidth(), float(W));
}

TEST(RasterResize, NothingOrLessBecomesOnePixel) {
    for (QSize size : {QSize(0, 0), QSize(-5, -7), QSize(0, 40), QSize(-1, 1)}) {
        RasterCanvas made(size.width(), size.height());
        EXPECT_EQ(made.CanvasWidth(), size.width() > 0 ? size.width() : 1);
        RasterCanvas canvas(W, H);
        canvas.Resize(size.width(), size.height());
        EXPECT_EQ(canvas.CanvasWidth(), std::max(1, size.width()));
        EXPECT_EQ(canvas.CanvasHeight(), std::max(1, size.height()));
        EXPECT_EQ(canvas.Image().size(), QSize(std::max(1, size.width()), std::max(1, size.height())));
        for (const Pose& p : Poses(20)) Draw(canvas, p, BLACK);
        canvas.ClearCanvas();
        EXPECT_EQ(canvas.Image().pixel(0, 0), Rgb(WHITE));
    }
}

// A line through the picture with far-off ends shows the same pixels as the
// same line with ends just outside the picture.
TEST(RasterFarOff, LongLinesShowTheirVisiblePart) {
    struct Case {
        float x1, y1, x2, y2;  // far ends
        float nx1, ny1, nx2, ny2;  // the same line, ends near
    };
    const Case cases[] = {
        {-1e30f, 50, 1e30f, 50, -10, 50, W + 10, 50},
        {70, 1e30f, 70, -1e30f, 70, H + 10, 70, -10},
        {-1e6f, -1e6f, 1e6f, 1e6f, -10, -10, W + 10, W + 10},
        {-1e30f, -1e30f, 1e30f, 1e30f, -10, -10, W + 10, W + 10},
        {-1e30f, -5e29f, 1e30f, 5e29f, -10, -5, W + 10, (W + 10) / 2},
        {0.5f, 30, 1e30f, 30, 0.5f, 30, W + 10, 30},
    };
    for (const Case& c : cases) {
        RasterCanvas far(W, H), near(W, H);
        far.DrawLine(c.x1, c.y1, c.x2, c.y2, BLACK);
        near.DrawLine(c.nx1, c.ny1, c.nx2, c.ny2, BLACK);
        EXPECT_TRUE(SamePicture(far.Image(), near.Image())) << c.x1 << ", " << c.y1 << " - " << c.x2 << ", " << c.y2;
    }
}

TEST(RasterFarOff, ShapesOutOfSightOrUndefinedDrawNothing) {
    RasterCanvas canvas(W, H);
    const QImage white = Blank(canvas.Image());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    canvas.DrawLine(nan, 10, 50, 50, BLACK);
    canvas.DrawLine(10, 10, inf, nan, BLACK);
    canvas.DrawLineTo(20, 20, BLACK);
    canvas.DrawCircle(nan, 50, 5, BLACK);
    canvas.DrawCircle(50, 50, inf, BLACK);
    canvas.DrawLine(1e30f, 1e30f, 2e30f, -1e30f, BLACK);
    canvas.DrawLine(-1e30f, -1e30f, -1e30f, 1e30f, BLACK);
    canvas.DrawLine(1e6f, 0, 1e6f, H, BLACK);
    canvas.DrawLine(-1e30f, -1e30f, 1e30f, -1e30f + 1e24f, BLACK);
    canvas.DrawCircle(W / 2.0f, H / 2.0f, 1e30f, BLACK);
    canvas.DrawCircle(W / 2.0f, H / 2.0f, 1e6f, BLACK);
    canvas.DrawCircle(-1e30f, 1e30f, 5, BLACK);
    canvas.DrawCircle(1e6f, 1e6f, 1e3f, BLACK);
    EXPECT_TRUE(SamePicture(canvas.Image(), white));
    EXPECT_TRUE(canvas.TakeDirtyRect().isEmpty());
}

TEST(RasterFarOff, LineToStartsWhereTheLastLineEndedEvenIfUnseen) {
    const float starts[][2] = {{-300, 7}, {-1e30f, 7}, {1e30f, 1e30f}};
    for (const auto& s : starts) {
        RasterCanvas canvas(W, H), reference(W, H);
        canvas.DrawLine(-9e3f, 3, s[0], s[1], BLACK);  // out of sight
        canvas.DrawLineTo(40, 7, BLACK);
        reference.DrawLine(s[0], s[1], 40, 7, BLACK);
        EXPECT_TRUE(SamePicture(canvas.Image(), reference.Image())) << s[0] << ", " << s[1];
    }
}

}  // namespace
}  // namespace kestrel
