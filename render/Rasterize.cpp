#include "render/Rasterize.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrel {
namespace {

using Whole = std::int64_t;
// Products of two coordinates need more than 64 bits.
__extension__ typedef __int128 Wide;

// Coordinates up to this size in device units are walked exactly; a double
// still holds every whole number up to here. Farther line ends are brought in
// first, and rings beyond it are not drawn.
constexpr double NEAR = 4503599627370496.0;  // 2^52
// A double's range (2^1024) is spent long before this many halvings.
constexpr int MAX_HALVINGS = 1100;

Wide FloorDiv(Wide n, Wide d) {  // d > 0
    const Wide q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
}
Wide CeilDiv(Wide n, Wide d) { return -FloorDiv(-n, d); }

// The steps i in first..last of a walk.
struct Steps {
    Whole first;
    Whole last;
    bool Empty() const { return first > last; }
};

// The steps i in 0..length at which start + sign * i lies in lo..hi.
Steps StepsWithin(Whole start, int sign, Whole length, Whole lo, Whole hi) {
    const Whole first = sign > 0 ? lo - start : start - hi;
    const Whole last = sign > 0 ? hi - start : start - lo;
    return {std::max<Whole>(first, 0), std::min(last, length)};
}

// The pixels at which a pen square still reaches into the picture.
struct Reach {
    Whole left, top, right, bottom;  // inclusive
};

Reach ReachOf(const PixelTarget& t) {
    const Whole overhang = t.pen - 1;
    return {-overhang, -overhang, Whole(t.width) - 1, Whole(t.height) - 1};
}

void PaintSquare(PixelTarget& t, Whole x, Whole y) {
    const int left = int(std::max<Whole>(x, 0));
    const int top = int(std::max<Whole>(y, 0));
    const int right = int(std::min<Whole>(x + t.pen, t.width));
    const int bottom = int(std::min<Whole>(y + t.pen, t.height));
    for (int row = top; row < bottom; ++row)
        std::fill(t.pixels + std::ptrdiff_t(row) * t.width + left,
                  t.pixels + std::ptrdiff_t(row) * t.width + right, t.colour);
}

void MarkPainted(PixelTarget& t, Whole left, Whole top, Whole right, Whole bottom) {
    t.painted.Unite({int(std::max<Whole>(left, 0)), int(std::max<Whole>(top, 0)),
                     int(std::min<Whole>(right + t.pen, t.width)),
                     int(std::min<Whole>(bottom + t.pen, t.height))});
}

// One axis of a line: where it starts, which way it goes and how far.
struct Axis {
    Whole start;
    int sign;
    Whole length;

    Axis(Whole from, Whole to) : start(from), sign(to < from ? -1 : 1), length(std::abs(to - from)) {}
    Whole At(Whole step) const { return start + sign * step; }
};

// The part of a walk in reach of the picture: steps first..last along the
// major axis, the minor axis having moved `moved` steps at the first and
// `lastMoved` at the last; `error` is the walk's error term at the first.
struct Span {
    Whole first, last, moved, lastMoved, error;
};

// At step i the minor axis has moved floor((2 i dn + dm) / 2 dm) steps, that
// is i dn / dm rounded with halves rounding on; the remainder is the error
// term. Clipping finds the first and last steps in reach from that rule.
Span ClippedSpan(const Axis& major, Whole majorLo, Whole majorHi, const Axis& minor, Whole minorLo,
                 Whole minorHi) {
    const Whole dm = major.length, dn = minor.length;
    Steps steps = StepsWithin(major.start, major.sign, dm, majorLo, majorHi);
    const Steps moves = StepsWithin(minor.start, minor.sign, dn, minorLo, minorHi);
    if (moves.Empty()) return {1, 0, 0, 0, 0};
    const Wide twoDm = Wide(2) * std::max<Whole>(dm, 1), twoDn = Wide(2) * dn;
    if (dn > 0) {
        // The minor axis has moved j steps from i = ceil((2 j dm - dm) / 2 dn) on.
        steps.first = std::max(steps.first, Whole(CeilDiv(twoDm * moves.first - dm, twoDn)));
        steps.last = std::min(steps.last, Whole(CeilDiv(twoDm * (moves.last + 1) - dm, twoDn)) - 1);
    }
    const Wide firstTerm = twoDn * steps.first + dm;
    return {steps.first, steps.last, Whole(firstTerm / twoDm),
            Whole((twoDn * steps.last + dm) / twoDm), Whole(firstTerm % twoDm)};
}

// A wider pen: a square at each pixel of the walk, steps first..last of
// span, cut by the picture's edges. Kept out of line: the one-pixel walk
// below is the hot path, and stays lean without it.
[[gnu::noinline]] void PaintWideWalk(PixelTarget& t, bool xMajor, const Axis& major, const Axis& minor,
                                     const Span& span) {
    const Whole twoDm = 2 * std::max<Whole>(major.length, 1), twoDn = 2 * minor.length;
    Whole m = major.At(span.first), n = minor.At(span.moved), error = span.error;
    for (Whole i = span.first; i <= span.last; ++i) {
        PaintSquare(t, xMajor ? m : n, xMajor ? n : m);
        m += major.sign;
        error += twoDn;
        if (error >= twoDm) {
            error -= twoDm;
            n += minor.sign;
        }
    }
}

// The steps of a walk in reach of the picture, whose reach is r.
Span SpanInReach(const Reach& r, bool xMajor, const Axis& major, const Axis& minor, Whole x0, Whole y0,
                 Whole x1, Whole y1) {
    const bool inReach = std::min(x0, x1) >= r.left && std::max(x0, x1) <= r.right &&
                         std::min(y0, y1) >= r.top && std::max(y0, y1) <= r.bottom;
    return inReach ? Span{0, major.length, 0, minor.length, major.length}
           : xMajor ? ClippedSpan(major, r.left, r.right, minor, r.top, r.bottom)
                    : ClippedSpan(major, r.top, r.bottom, minor, r.left, r.right);
}

// Bresenham's walk from (x0, y0) to (x1, y1), both ends included. Only the
// steps in reach of the picture are walked, so the cost is bounded by the
// picture, not by the line.
void WalkLine(PixelTarget& t, Whole x0, Whole y0, Whole x1, Whole y1) {
    const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
    const Axis major = xMajor ? Axis(x0, x1) : Axis(y0, y1);
    const Axis minor = xMajor ? Axis(y0, y1) : Axis(x0, x1);
    const Span span = SpanInReach(ReachOf(t), xMajor, major, minor, x0, y0, x1, y1);
    if (span.first > span.last) return;

    const Whole firstMajor = major.At(span.first), lastMajor = major.At(span.last);
    const Whole firstMinor = minor.At(span.moved), lastMinor = minor.At(span.lastMoved);
    const Whole firstX = xMajor ? firstMajor : firstMinor, lastX = xMajor ? lastMajor : lastMinor;
    const Whole firstY = xMajor ? firstMinor : firstMajor, lastY = xMajor ? lastMinor : lastMajor;
    MarkPainted(t, std::min(firstX, lastX), std::min(firstY, lastY), std::max(firstX, lastX),
                std::max(firstY, lastY));
    if (t.pen > 1) {
        PaintWideWalk(t, xMajor, major, minor, span);
        return;
    }

    // A one-pixel pen: every pixel walked lies in the picture, so the walk
    // steps through the buffer itself.
    const std::ptrdiff_t stride = t.width;
    const std::ptrdiff_t majorStep = xMajor ? major.sign : major.sign * stride;
    const std::ptrdiff_t minorStep = xMajor ? minor.sign * stride : minor.sign;
    std::ptrdiff_t at = std::ptrdiff_t(firstY) * stride + std::ptrdiff_t(firstX);
    std::uint32_t* const pixels = t.pixels;
    const std::uint32_t colour = t.colour;  // not reloaded after each store
    const Whole twoDm = 2 * std::max<Whole>(major.length, 1), twoDn = 2 * minor.length;
    Whole error = span.error;
    for (Whole i = span.first; i <= span.last; ++i) {
        pixels[at] = colour;
        error += twoDn;
        const bool carry = error >= twoDm;
        error -= carry ? twoDm : 0;
        at += majorStep + (carry ? minorStep : 0);
    }
}

struct Point {
    double x, y;
};

bool IsNear(Point p) { return std::abs(p.x) <= NEAR && std::abs(p.y) <= NEAR; }

// Whether a piece's box meets the picture's, grown by a pen on every side:
// a point may be half a pen off its pixel, and that pixel's square reaches
// a pen further.
bool MeetsReach(Point a, Point b, const PixelTarget& t) {
    const double pen = t.pen;
    return std::max(a.x, b.x) >= -pen && std::min(a.x, b.x) <= t.width + pen &&
           std::max(a.y, b.y) >= -pen && std::min(a.y, b.y) <= t.height + pen;
}

void WalkNearLine(PixelTarget& t, Point a, Point b) {
    WalkLine(t, PixelOf(a.x, t.pen), PixelOf(a.y, t.pen), PixelOf(b.x, t.pen), PixelOf(b.y, t.pen));
}

// A line with an end beyond NEAR is halved until its pieces' ends are near;
// a midpoint is rounded relative to its own size, so the pieces keep the
// line's course. Pieces that cannot reach the picture are dropped.
void PlotFarLine(PixelTarget& t, Point a, Point b, int halvings) {
    if (!MeetsReach(a, b, t)) return;
    if (IsNear(a) && IsNear(b)) {
        WalkNearLine(t, a, b);
        return;
    }
    if (halvings == 0) return;
    const Point m{0.5 * a.x + 0.5 * b.x, 0.5 * a.y + 0.5 * b.y};
    PlotFarLine(t, a, m, halvings - 1);
    PlotFarLine(t, m, b, halvings - 1);
}

// The whole square root of n.
Whole SquareRoot(Wide n) {
    Whole s = Whole(std::sqrt(double(n)));
    while (Wide(s) * s > n) --s;
    while (Wide(s + 1) * (s + 1) <= n) ++s;
    return s;
}

// The midpoint rule: at a distance a from the centre along one axis, the
// ring lies h pixels out along the other, h the largest with
// a^2 + (h - 1/2)^2 <= r^2; -1 where there is none.
Whole RingHalfWidth(Whole a, Whole radius) {
    if (radius == 0) return 0;
    const Whole root = SquareRoot(4 * (Wide(radius) * radius - Wide(a) * a));
    return root == 0 ? -1 : (root + 1) / 2;
}

// The pixels of a ring that reach the picture, and the box they span.
struct RingPainter {
    PixelTarget& t;
    Reach reach;
    Whole left = 0, top = 0, right = -1, bottom = -1;

    void Paint(Whole x, Whole y) {
        if (x < reach.left || x > reach.right || y < reach.top || y > reach.bottom) return;
        PaintSquare(t, x, y);
        if (left > right) left = right = x, top = bottom = y;
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
    }
    void Finish() {
        if (left <= right) MarkPainted(t, left, top, right, bottom);
    }
};

// A ring wholly in reach of the picture: the classic incremental walk of one
// octant, mirrored into the other seven. It gives the pixels of the midpoint
// rule above without a square root.
void PlotWholeRing(PixelTarget& t, Whole cx, Whole cy, Whole radius) {
    const auto paint = [&](Whole x, Whole y) {
        if (t.pen == 1)
            t.pixels[std::ptrdiff_t(y) * t.width + std::ptrdiff_t(x)] = t.colour;
        else
            PaintSquare(t, x, y);
    };
    Whole a = 0, h = radius, decision = 1 - radius;
    while (a <= h) {
        paint(cx + a, cy + h), paint(cx - a, cy + h), paint(cx + a, cy - h), paint(cx - a, cy - h);
        paint(cx + h, cy + a), paint(cx - h, cy + a), paint(cx + h, cy - a), paint(cx - h, cy - a);
        if (decision < 0) {
            decision += 2 * a + 3;
        } else {
            decision += 2 * (a - h) + 5;
            --h;
        }
        ++a;
    }
    MarkPainted(t, cx - radius, cy - radius, cx + radius, cy + radius);
}

// A ring cut by the edges: each column in reach holds the ring's pixels where
// it is steeper than 45 degrees from the centre, each row those where it is
// flatter; scanning only the columns and rows in reach bounds the cost by the
// picture.
void PlotCutRing(PixelTarget& t, Whole x, Whole y, Whole radius, const Reach& reach) {
    const Whole left = std::max(x - radius, reach.left), right = std::min(x + radius, reach.right);
    const Whole top = std::max(y - radius, reach.top), bottom = std::min(y + radius, reach.bottom);
    if (left > right || top > bottom) return;
    RingPainter painter{t, reach};
    for (Whole column = left; column <= right; ++column) {
        const Whole a = std::abs(column - x), h = RingHalfWidth(a, radius);
        if (a > h) continue;
        painter.Paint(column, y - h);
        painter.Paint(column, y + h);
    }
    for (Whole row = top; row <= bottom; ++row) {
        const Whole b = std::abs(row - y), h = RingHalfWidth(b, radius);
        if (b > h) continue;
        painter.Paint(x - h, row);
        painter.Paint(x + h, row);
    }
    painter.Finish();
}

}  // namespace

void PixelRect::Unite(const PixelRect& other) {
    if (other.Empty()) return;
    if (Empty()) {
        *this = other;
        return;
    }
    left = std::min(left, other.left);
    top = std::min(top, other.top);
    right = std::max(right, other.right);
    bottom = std::max(bottom, other.bottom);
}

void PlotLine(PixelTarget& t, double x1, double y1, double x2, double y2) {
    const Point a{x1, y1}, b{x2, y2};
    if (IsNear(a) && IsNear(b)) {  // false for NaN
        WalkNearLine(t, a, b);
    } else if (std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2)) {
        PlotFarLine(t, a, b, MAX_HALVINGS);
    }
}

void PlotRing(PixelTarget& t, double cx, double cy, double radius) {
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(radius)) return;
    const double r = std::round(std::abs(radius));
    if (std::abs(cx) > NEAR || std::abs(cy) > NEAR || r > NEAR) return;
    const Whole x = PixelOf(cx, t.pen), y = PixelOf(cy, t.pen), rad = Whole(r);
    const Reach reach = ReachOf(t);
    if (x - rad >= reach.left && x + rad <= reach.right && y - rad >= reach.top && y + rad <= reach.bottom)
        PlotWholeRing(t, x, y, rad);
    else
        PlotCutRing(t, x, y, rad, reach);
}

}  // namespace kestrel
