// The pixel picture, checked on its real pixels: erasing is exact, the dirty
// rectangle covers every change, clipping never moves a pixel, far-off and
// undefined coordinates are safe, and resizing keeps the picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "render/PixelCanvas.h"
#include "render/TankGlyph.h"
#include "UnitSupport.h"

namespace kestrel {
namespace {

constexpr int W = 160;
constexpr int H = 120;
constexpr double RATIOS[] = {1, 1.25, 1.5, 2, 3};

using Picture = std::vector<std::uint8_t>;

Picture Pixels(const PixelCanvas& c) {
    return {c.Bytes(), c.Bytes() + c.BytesPerLine() * std::size_t(c.DeviceHeight())};
}

// Success, or the first device pixel at which `holds(x, y)` is false.
template <typename Holds>
testing::AssertionResult EveryPixel(const PixelCanvas& c, Holds holds) {
    for (int y = 0; y < c.DeviceHeight(); ++y)
        for (int x = 0; x < c.DeviceWidth(); ++x)
            if (!holds(x, y)) return testing::AssertionFailure() << "pixel " << x << ", " << y;
    return testing::AssertionSuccess();
}

testing::AssertionResult AllWhite(const PixelCanvas& c) {
    return EveryPixel(c, [&](int x, int y) { return c.PixelAt(x, y) == WHITE; });
}

bool Inside(const PixelRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

bool Inside(const std::vector<PixelRect>& rects, int x, int y) {
    return std::any_of(rects.begin(), rects.end(), [&](const PixelRect& r) { return Inside(r, x, y); });
}

using Rects = std::vector<PixelRect>;

// One stroke of a random batch: a line, a line from the pen, or a ring.
struct Stroke {
    enum { Line, LineTo, Ring } kind;
    float v[4];
    void Draw(PixelCanvas& c, Colour colour) const {
        switch (kind) {
            case Line: c.DrawLine(v[0], v[1], v[2], v[3], colour); break;
            case LineTo:  // a line-to always follows a line of the same shape
                c.DrawLine(v[2], v[3], v[0], v[1], colour);
                c.DrawLineTo(v[2] + 7, v[3] - 5, colour);
                break;
            case Ring: c.DrawCircle(v[0], v[1], v[2], colour); break;
        }
    }
};

// Mostly on and around the picture, cut by its edges; now and then far off.
std::vector<Stroke> RandomStrokes(std::mt19937& gen, int count) {
    std::uniform_real_distribution<float> nearX(-30, W + 30), nearY(-30, H + 30), radius(0, 40),
        far(-1e9f, 1e9f), huge(-1e30f, 1e30f), unit(0, 1);
    std::vector<Stroke> strokes;
    for (int i = 0; i < count; ++i) {
        const float pick = unit(gen);
        auto x = [&] { return pick < 0.9f ? nearX(gen) : pick < 0.95f ? far(gen) : huge(gen); };
        auto y = [&] { return pick < 0.9f ? nearY(gen) : pick < 0.95f ? far(gen) : huge(gen); };
        const int kind = int(unit(gen) * 3);
        if (kind == Stroke::Ring)
            strokes.push_back({Stroke::Ring, {nearX(gen), nearY(gen), pick < 0.9f ? radius(gen) : W * unit(gen) * 4, 0}});
        else
            strokes.push_back({kind == 0 ? Stroke::Line : Stroke::LineTo, {x(), y(), x(), y()}});
    }
    return strokes;
}

Colour RandomColour(std::mt19937& gen) {
    std::uniform_int_distribution<int> c(0, 254);
    return Colour{std::uint8_t(c(gen)), std::uint8_t(c(gen)), std::uint8_t(c(gen))};
}

// Any batch drawn in colours and then drawn again in white, in any order,
// leaves a white picture; and every pixel a stroke changes lies in the dirty
// rectangles taken after it.
TEST(PixelErase, AnyBatchDrawnAgainInWhiteLeavesAWhitePicture) {
    std::mt19937 gen(20261208);
    for (double ratio : RATIOS) {
        SCOPED_TRACE(ratio);
        PixelCanvas canvas(W, H, ratio);
        canvas.TakeDirtyRects();
        Picture before;
        for (int batch = 0; batch < test::Cases(12, 4); ++batch) {
            std::vector<Stroke> strokes = RandomStrokes(gen, 60);
            for (const Stroke& s : strokes) {
                before.assign(canvas.Bytes(), canvas.Bytes() + canvas.BytesPerLine() * std::size_t(canvas.DeviceHeight()));
                s.Draw(canvas, RandomColour(gen));
                const Rects dirty = canvas.TakeDirtyRects();
                const std::uint8_t* after = canvas.Bytes();
                ASSERT_TRUE(EveryPixel(canvas, [&](int x, int y) {
                    const std::size_t at = (std::size_t(y) * canvas.DeviceWidth() + x) * 4;
                    return std::equal(&before[at], &before[at] + 4, after + at) || Inside(dirty, x, y);
                }));
            }
            std::shuffle(strokes.begin(), strokes.end(), gen);
            for (const Stroke& s : strokes) s.Draw(canvas, WHITE);
            ASSERT_TRUE(AllWhite(canvas)) << "batch " << batch;
        }
    }
}

// Pixels marked in a plain bitmap over a window of the plane: cheap to ask
// of every pixel of a picture, where a set would cost a search each time.
class PixelMarks {
  public:
    PixelMarks(long long left, long long top, long long width, long long height)
        : left_(left), top_(top), width_(width), height_(height), marks_(std::size_t(width * height)) {}
    void Mark(long long x, long long y) {
        if (Within(x, y)) marks_[std::size_t((y - top_) * width_ + (x - left_))] = 1;
    }
    bool operator()(long long x, long long y) const {
        return Within(x, y) && marks_[std::size_t((y - top_) * width_ + (x - left_))];
    }

  private:
    bool Within(long long x, long long y) const {
        return x >= left_ && x < left_ + width_ && y >= top_ && y < top_ + height_;
    }
    long long left_, top_, width_, height_;
    std::vector<std::uint8_t> marks_;
};

// The pixels of the classic integer line walk from (x0, y0) to (x1, y1): at
// step i along the longer axis the other has moved i * minor / major,
// rounded half up; both ends included.
std::set<std::pair<long long, long long>> WalkedPixels(long long x0, long long y0, long long x1,
                                                       long long y1) {
    std::set<std::pair<long long, long long>> pixels;
    const long long dx = x1 - x0, dy = y1 - y0;
    const long long major = std::max(std::abs(dx), std::abs(dy));
    for (long long i = 0; i <= major; ++i) {
        const auto along = [&](long long d) {
            if (major == 0) return 0LL;
            const long long moved = (2 * i * std::abs(d) + major) / (2 * major);
            return d < 0 ? -moved : moved;
        };
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        pixels.insert({x0 + (xMajor ? (dx < 0 ? -i : i) : along(dx)),
                       y0 + (xMajor ? along(dy) : (dy < 0 ? -i : i))});
    }
    return pixels;
}

// A line cut by the edges covers inside the picture exactly the pixels of
// its whole walk that lie inside: clipping moves no pixel.
TEST(PixelLine, ClippingKeepsEveryPixelOfTheWholeWalk) {
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> end(-400, 400);
    for (int n = 0; n < 400; ++n) {
        const int x0 = end(gen), y0 = end(gen), x1 = end(gen), y1 = end(gen);
        PixelCanvas canvas(W, H);
        canvas.DrawLine(float(x0), float(y0), float(x1), float(y1), BLACK);
        const auto walked = WalkedPixels(x0, y0, x1, y1);
        ASSERT_TRUE(EveryPixel(canvas, [&](int x, int y) {
            return (canvas.PixelAt(x, y) == BLACK) == walked.count({x, y});
        })) << "line " << x0 << ", " << y0 << " to " << x1 << ", " << y1;
    }
}

// With a pen of more than one pixel (ratio 1.5 and up) a line is the same
// integer walk between its ends' pixels, each walked pixel the top-left of a
// pen square: the union of those squares, cut by the edges, and nothing else.
// The ends' pixels follow the rule for points: the pen square centred on the
// scaled point, its corner rounded down.
TEST(PixelLine, WidePenPaintsASquareAtEveryPixelOfTheWalk) {
    std::mt19937 gen(1508);
    std::uniform_int_distribution<int> quarter(-4 * 40, 4 * (W + 40));  // canvas units / 4
    for (double ratio : {1.5, 2.0, 3.0}) {
        const int pen = int(std::lround(ratio));
        const auto pixelOf = [&](float canvas) {
            return (long long)std::floor(double(canvas) * ratio - 0.5 * (pen - 1));
        };
        for (int n = 0; n < test::Cases(300, 100); ++n) {
            const float x0 = quarter(gen) / 4.0f, y0 = quarter(gen) / 4.0f;
            const float x1 = quarter(gen) / 4.0f, y1 = quarter(gen) / 4.0f;
            PixelCanvas canvas(W, H, ratio);
            canvas.DrawLine(x0, y0, x1, y1, BLACK);
            PixelMarks squares(0, 0, canvas.DeviceWidth(), canvas.DeviceHeight());
            for (auto [wx, wy] : WalkedPixels(pixelOf(x0), pixelOf(y0), pixelOf(x1), pixelOf(y1)))
                for (int dy = 0; dy < pen; ++dy)
                    for (int dx = 0; dx < pen; ++dx) squares.Mark(wx + dx, wy + dy);
            ASSERT_TRUE(EveryPixel(canvas, [&](int x, int y) {
                return (canvas.PixelAt(x, y) == BLACK) == squares(x, y);
            })) << "ratio " << ratio << ", line " << x0 << ", " << y0 << " to " << x1 << ", " << y1;
        }
    }
}

using PixelSet = std::set<std::pair<int, int>>;

// The black pixels, relative to (cx, cy).
PixelSet InkedAround(const PixelCanvas& c, int cx, int cy) {
    PixelSet inked;
    EveryPixel(c, [&](int x, int y) {
        if (c.PixelAt(x, y) == BLACK) inked.insert({x - cx, y - cy});
        return true;
    });
    return inked;
}

// The midpoint rule, pixel by pixel: a ring pixel lies a along its flatter
// axis and b along its steeper one (a <= b), and the circle of radius r
// passes between the midpoints half a pixel either side of it along the
// steeper axis: a^2 + (b - 1/2)^2 < r^2 < a^2 + (b + 1/2)^2, in quarters.
bool OnTheCircle(std::pair<int, int> p, int r) {
    const long long a = std::min(std::abs(p.first), std::abs(p.second));
    const long long b = std::max(std::abs(p.first), std::abs(p.second));
    if (r == 0) return a == 0 && b == 0;
    const long long inner = 4 * a * a + (2 * b - 1) * (2 * b - 1);
    const long long outer = 4 * a * a + (2 * b + 1) * (2 * b + 1);
    return inner < 4LL * r * r && 4LL * r * r < outer;
}

bool EightFold(const PixelSet& ring) {
    for (auto [x, y] : ring)
        for (auto [a, b] : {std::pair{x, y}, std::pair{y, x}})
            for (int sa : {-1, 1})
                for (int sb : {-1, 1})
                    if (!ring.count({sa * a, sb * b})) return false;
    return true;
}

// Every pixel reaches every other through its eight neighbours.
bool Connected(const PixelSet& ring) {
    if (ring.empty()) return true;
    PixelSet reached{*ring.begin()};
    std::vector<std::pair<int, int>> open{*ring.begin()};
    while (!open.empty()) {
        const auto [x, y] = open.back();
        open.pop_back();
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (ring.count({x + dx, y + dy}) && reached.insert({x + dx, y + dy}).second)
                    open.push_back({x + dx, y + dy});
    }
    return reached.size() == ring.size();
}

// The circle crosses every column and row within r of the centre, on both
// sides of it: each holds a pixel on or past the centre line either way.
bool CrossesEveryColumnAndRow(const PixelSet& ring, int r) {
    const auto holds = [&](auto on) { return std::any_of(ring.begin(), ring.end(), on); };
    for (int k = -r; k <= r; ++k) {
        if (!holds([&](auto p) { return p.first == k && p.second >= 0; }) ||
            !holds([&](auto p) { return p.first == k && p.second <= 0; }) ||
            !holds([&](auto p) { return p.second == k && p.first >= 0; }) ||
            !holds([&](auto p) { return p.second == k && p.first <= 0; }))
            return false;
    }
    return true;
}

// A whole ring follows the midpoint rule at every pixel, is symmetric in all
// eight octants, connected, and crosses every column and row it spans; a
// ring cut by the edges keeps exactly the whole ring's pixels that lie
// inside the picture.
TEST(PixelRing, FollowsTheMidpointRuleAndItsCutsKeepTheirPixels) {
    constexpr int BIG = 2 * 130 + 8;
    for (int r = 0; r <= 130; ++r) {
        PixelCanvas whole(BIG, BIG);
        whole.DrawCircle(BIG / 2 + 0.75f, BIG / 2 + 0.25f, float(r), BLACK);
        const PixelSet ring = InkedAround(whole, BIG / 2, BIG / 2);
        PixelMarks onRing(-BIG, -BIG, 2 * BIG, 2 * BIG);
        for (auto [x, y] : ring) onRing.Mark(x, y);
        for (const auto& p : ring)
            ASSERT_TRUE(OnTheCircle(p, r)) << "radius " << r << ": " << p.first << ", " << p.second;
        ASSERT_TRUE(EightFold(ring)) << "radius " << r;
        ASSERT_TRUE(Connected(ring)) << "radius " << r;
        ASSERT_TRUE(CrossesEveryColumnAndRow(ring, r)) << "radius " << r;
        // Centred, and off to the corners so that the edges cut it.
        for (auto [cx, cy] : {std::pair{W / 2, H / 2}, std::pair{3, 4}, std::pair{W - 2, H + 20}}) {
            PixelCanvas canvas(W, H);
            canvas.DrawCircle(float(cx) + 0.75f, float(cy) + 0.25f, float(r), BLACK);
            ASSERT_TRUE(EveryPixel(canvas, [&](int x, int y) {
                return (canvas.PixelAt(x, y) == BLACK) == onRing(x - cx, y - cy);
            })) << "radius " << r << " at " << cx << ", " << cy;
        }
    }
}

// At ratio d a canvas point lands at d times its place, and each pixel of a
// shape is a pen of round(d) pixels square, centred on the scaled point.
TEST(PixelRatio, ScalesCoordinatesAndThickensThePen) {
    const struct {
        double ratio;
        int pen, left, right, top, bottom;  // inclusive
    } cases[] = {
        {1, 1, 10, 60, 20, 20},    {1.25, 1, 12, 75, 25, 25}, {1.5, 2, 14, 90, 29, 30},
        {2, 2, 19, 120, 39, 40},   {3, 3, 29, 181, 59, 61},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ratio);
        PixelCanvas canvas(W, H, c.ratio);
        EXPECT_EQ(canvas.PenSize(), c.pen);
        EXPECT_EQ(canvas.DeviceWidth(), int(std::ceil(W * c.ratio)));
        canvas.DrawLine(10, 20, 60, 20, BLACK);
        EXPECT_TRUE(EveryPixel(canvas, [&](int x, int y) {
            const bool on = x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
            return (canvas.PixelAt(x, y) == BLACK) == on;
        }));
    }
}

// Strokes with far-off or undefined coordinates, each beside one near the
// picture that must look the same (or nothing where none of it shows).
using Strokes = std::function<void(PixelCanvas&)>;
struct FarAndNear {
    Strokes far, near;
};

Strokes Line(float x1, float y1, float x2, float y2) {
    return [=](PixelCanvas& c) { c.DrawLine(x1, y1, x2, y2, BLACK); };
}
Strokes Circle(float x, float y, float r) {
    return [=](PixelCanvas& c) { c.DrawCircle(x, y, r, BLACK); };
}
// The pen moves to the end of a line even when nothing of it shows.
Strokes LineTo(float x1, float y1, float x2, float y2) {
    return [=](PixelCanvas& c) {
        c.DrawLine(-9e3f, 3, x1, y1, BLACK);
        c.DrawLineTo(x2, y2, BLACK);
    };
}

std::vector<FarAndNear> FarOffCases() {
    const Strokes nothing = [](PixelCanvas&) {};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    return {
        {Line(-1e30f, 50, 1e30f, 50), Line(-10, 50, W + 10, 50)},
        {Line(70, 1e30f, 70, -1e30f), Line(70, H + 10, 70, -10)},
        {Line(-1e6f, -1e6f, 1e6f, 1e6f), Line(-10, -10, W + 10, W + 10)},
        {Line(-1e30f, -1e30f, 1e30f, 1e30f), Line(-10, -10, W + 10, W + 10)},
        {Line(-1e30f, -5e29f, 1e30f, 5e29f), Line(-10, -5, W + 10, (W + 10) / 2)},
        {Line(0.5f, 30, 1e30f, 30), Line(0.5f, 30, W + 10, 30)},
        {Line(-1e9f, 1, 1e9f, 1), Line(-10, 1, W + 10, 1)},  // walks the picture's width only
        {Line(W + 0.2f, -1e30f, W + 0.2f, 50), Line(W + 0.2f, -10, W + 0.2f, 50)},
        {Line(-1e30f, H + 0.4f, 20, H + 0.4f), Line(-10, H + 0.4f, 20, H + 0.4f)},
        {LineTo(-300, 7, 40, 7), Line(-300, 7, 40, 7)},
        {LineTo(-1e30f, 7, 40, 7), Line(-1e30f, 7, 40, 7)},
        {LineTo(1e30f, 1e30f, 40, 7), Line(1e30f, 1e30f, 40, 7)},
        {Line(nan, 10, 50, 50), nothing},
        {LineTo(inf, nan, 20, 20), nothing},
        {Line(1e30f, 1e30f, 2e30f, -1e30f), nothing},
        {Line(-1e30f, -1e30f, -1e30f, 1e30f), nothing},
        {Line(1e6f, 0, 1e6f, H), nothing},
        {Line(-1e30f, -1e30f, 1e30f, -1e30f + 1e24f), nothing},
        {Circle(nan, 50, 5), nothing},
        {Circle(50, 50, inf), nothing},
        {Circle(W / 2.0f, H / 2.0f, 1e30f), nothing},
        {Circle(W / 2.0f, H / 2.0f, 1e6f), nothing},
        {Circle(-1e30f, 1e30f, 5), nothing},
        {Circle(1e6f, 1e6f, 1e3f), nothing},
        {Circle(W / 2.0f, -1e6f, 1e6f + 20), Line(-10, 20, W + 10, 20)},
    };
}

// Far-off or undefined coordinates show the visible part of the same stroke,
// and nothing at all (not even a dirty rectangle) where none is visible.
TEST(PixelFarOff, DrawsOnlyTheVisiblePart) {
    const std::vector<FarAndNear> cases = FarOffCases();
    for (double ratio : {1.0, 2.0, 3.0})
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            PixelCanvas far(W, H, ratio), near(W, H, ratio);
            far.TakeDirtyRects(), near.TakeDirtyRects();
            cases[i].far(far);
            cases[i].near(near);
            EXPECT_EQ(Pixels(far), Pixels(near)) << "case " << i << " at ratio " << ratio;
            EXPECT_EQ(far.TakeDirtyRects().empty(), near.TakeDirtyRects().empty()) << "case " << i;
        }
}

TEST(PixelResize, KeepsTheOverlapWhitensTheRestAndNeverGoesBelowOnePixel) {
    PixelCanvas canvas(W, H);
    EXPECT_EQ(canvas.TakeDirtyRects(), (Rects{{0, 0, W, H}}));
    for (int x = 0; x < W; x += 3) canvas.DrawLine(float(x), 0, float(x) + 40, H, SHELL_COLOUR);
    const PixelCanvas before = canvas;
    canvas.Resize(W + 40, H - 30);
    EXPECT_EQ(canvas.CanvasWidth(), float(W + 40));
    EXPECT_EQ(canvas.CanvasHeight(), float(H - 30));
    EXPECT_EQ(canvas.TakeDirtyRects(), (Rects{{0, 0, W + 40, H - 30}}));
    EXPECT_TRUE(canvas.TakeDirtyRects().empty()) << "taking it empties it";
    EXPECT_TRUE(EveryPixel(canvas, [&](int x, int y) {
        return canvas.PixelAt(x, y) == (x < W ? before.PixelAt(x, y) : WHITE);
    }));

    // A new ratio alone keeps the picture, each old pixel now a 2 x 2 block.
    canvas.Resize(W + 40, H - 30, 2);
    EXPECT_EQ(canvas.DeviceWidth(), 2 * (W + 40));
    EXPECT_TRUE(EveryPixel(canvas, [&](int x, int y) {
        return canvas.PixelAt(x, y) == (x < 2 * W ? before.PixelAt(x / 2, y / 2) : WHITE);
    }));
    canvas.ClearCanvas();
    EXPECT_EQ(canvas.TakeDirtyRects(), (Rects{{0, 0, 2 * (W + 40), 2 * (H - 30)}}));
    EXPECT_TRUE(AllWhite(canvas));

    // The platform may give the exact device size itself.
    canvas.Resize(W, H, 1.25, 201, 149);
    EXPECT_EQ(canvas.DeviceWidth(), 201);
    EXPECT_EQ(canvas.DeviceHeight(), 149);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto [w, h, ratio] : {std::tuple{0, 0, 1.0}, {-5, -7, 1.0}, {0, 40, 0.0}, {-1, 1, nan},
                               {3, 2, -2.0}, {1, 1, 1e300}}) {
        canvas.Resize(w, h, ratio);
        EXPECT_EQ(canvas.CanvasWidth(), std::max(1, w));
        EXPECT_EQ(canvas.CanvasHeight(), std::max(1, h));
        EXPECT_GE(canvas.DeviceWidth(), 1);
        for (int i = 0; i < 20; ++i) DrawTank(canvas, i * 7 - 40, i * 5 - 30, float(i), 2, BLACK);
    }
}

// Two small strokes far apart are two small areas, not the box around both;
// strokes in a column of tiles make one tall area.
TEST(PixelDirty, TilesKeepSeparateChangesApartAndJoinThoseThatLineUp) {
    constexpr int T = DirtyTiles::TILE;
    PixelCanvas canvas(10 * T, 6 * T);
    canvas.TakeDirtyRects();
    canvas.DrawLine(3, 3, 5, 5, BLACK);
    canvas.DrawCircle(9 * T + 10, 5 * T + 10, 3, BLACK);
    EXPECT_EQ(canvas.TakeDirtyRects(), (Rects{{0, 0, T, T}, {9 * T, 5 * T, 10 * T, 6 * T}}));
    canvas.DrawLine(2 * T + 1, 1, 2 * T + 3, 4 * T - 1, BLACK);
    canvas.DrawLine(2 * T + 1, 5 * T, 3 * T + 5, 5 * T + 1, BLACK);
    EXPECT_EQ(canvas.TakeDirtyRects(), (Rects{{2 * T, 0, 3 * T, 4 * T}, {2 * T, 5 * T, 4 * T, 6 * T}}));
    EXPECT_TRUE(canvas.TakeDirtyRects().empty());
}

TEST(PixelDirty, CoveringCanvasUnitsContainEveryChangedDevicePixel) {
    for (double ratio : RATIOS) {
        const PixelRect device{3, 5, 17, 29};
        const PixelRect units = CanvasUnitsCovering(device, ratio, W, H);
        for (int y = device.top; y < device.bottom; ++y)
            for (int x = device.left; x < device.right; ++x)
                ASSERT_TRUE(Inside(units, int(x / ratio), int(y / ratio))) << ratio;
    }
    EXPECT_TRUE(CanvasUnitsCovering({}, 2, W, H).Empty());
    EXPECT_EQ(CanvasUnitsCovering({0, 0, 500, 500}, 1, W, H), (PixelRect{0, 0, W, H}));
}

// The same strokes in either pixel format: the same colours, laid out as a
// browser (bytes red, green, blue, alpha) or a desktop screen (words
// 0xAARRGGBB) takes them.
TEST(PixelFormats, HoldTheSameColoursInTheirOwnLayout) {
    const Colour colour{1, 2, 3};
    const std::uint32_t rgba = PackPixel(colour, PixelFormat::RgbaBytes);
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&rgba);
    EXPECT_EQ((std::vector<int>{bytes[0], bytes[1], bytes[2], bytes[3]}), (std::vector<int>{1, 2, 3, 255}));
    EXPECT_EQ(PackPixel(colour, PixelFormat::ArgbWords), 0xff010203u);

    PixelCanvas browser(W, H, 1.5, PixelFormat::RgbaBytes), screen(W, H, 1.5, PixelFormat::ArgbWords);
    for (PixelCanvas* c : {&browser, &screen}) {
        DrawTank(*c, 60, 100, 0.3f, 2.2f, PLAYER_BLUE);
        c->DrawCircle(100, 50, 7, colour);
        c->Resize(W + 10, H, 2);
    }
    EXPECT_TRUE(EveryPixel(browser, [&](int x, int y) { return browser.PixelAt(x, y) == screen.PixelAt(x, y); }));
    EXPECT_EQ(browser.PixelAt(200, 100 - 14), colour) << "the ring's top, scaled to ratio 2";
}

}  // namespace
}  // namespace kestrel
