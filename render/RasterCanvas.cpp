#include "render/RasterCanvas.h"

#include <QPen>
#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

// Shapes are culled or clipped against the picture grown by this margin, so
// that far-off coordinates (a tank dragged off the desktop) never reach the
// rasteriser while everything near the picture is drawn untouched.
constexpr double GUARD = 4096;
// How far the pen's mark may reach beyond the geometry, in canvas units.
constexpr double PEN_REACH = 2;

QImage BlankImage(int width, int height, qreal ratio) {
    QImage image(int(std::ceil(width * ratio)), int(std::ceil(height * ratio)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    return image;
}

// False for NaN.
bool InRange(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Liang-Barsky: trims the segment to the box; false when nothing is left.
bool ClipToBox(double& x1, double& y1, double& x2, double& y2, double lo_x, double lo_y,
               double hi_x, double hi_y) {
    double t0 = 0, t1 = 1;
    const double dx = x2 - x1, dy = y2 - y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - lo_x, hi_x - x1, y1 - lo_y, hi_y - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const double sx = x1, sy = y1;
    if (t0 > 0) x1 = sx + t0 * dx, y1 = sy + t0 * dy;
    if (t1 < 1) x2 = sx + t1 * dx, y2 = sy + t1 * dy;
    return true;
}

struct Point {
    double x, y;
};

struct Box {
    double left, top, right, bottom;
};

// Ends farther than this from the picture are first brought in by halving.
constexpr double FAR_REACH = 1 << 20;
// A float's range is spent long before this many halvings.
constexpr int MAX_HALVINGS = 300;

// False for NaN.
bool Near(Point p, const Box& box) {
    return p.x > box.left - FAR_REACH && p.x < box.right + FAR_REACH &&
           p.y > box.top - FAR_REACH && p.y < box.bottom + FAR_REACH;
}

bool BoundsMeet(Point a, Point b, const Box& box) {
    return std::max(a.x, b.x) >= box.left && std::min(a.x, b.x) <= box.right &&
           std::max(a.y, b.y) >= box.top && std::min(a.y, b.y) <= box.bottom;
}

// Clipping a line whose ends lie at 1e30 in one step loses every digit that
// matters near the picture. A midpoint is rounded relative to its own size,
// so halving keeps the line's true course while its ends come in; only the
// pieces that can reach the box are kept.
template <typename DrawPiece>
void ForEachNearPiece(Point a, Point b, const Box& box, int halvings, DrawPiece&& draw) {
    if (!BoundsMeet(a, b, box)) return;
    if (halvings == 0 || (Near(a, box) && Near(b, box))) {
        draw(a, b);
        return;
    }
    const Point m{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    ForEachNearPiece(a, m, box, halvings - 1, draw);
    ForEachNearPiece(m, b, box, halvings - 1, draw);
}

}  // namespace

RasterCanvas::RasterCanvas(int width, int height, qreal devicePixelRatio)
    : width_(std::max(1, width)),
      height_(std::max(1, height)),
      image_(BlankImage(width_, height_, devicePixelRatio)) {}

RasterCanvas::~RasterCanvas() { EndPainting(); }

QPainter& RasterCanvas::Painter(Colour colour) {
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
        painter_->setBrush(Qt::NoBrush);
    } else if (colour == penColour_) {
        return *painter_;
    }
    painter_->setPen(PenFor(colour));
    penColour_ = colour;
    return *painter_;
}

// Making a pen allocates, and a tick switches colour a few hundred times
// among a handful of colours, so recent pens are kept.
const QPen& RasterCanvas::PenFor(Colour colour) {
    for (std::size_t i = 0; i < pensUsed_; ++i)
        if (pens_[i].colour == colour) return pens_[i].pen;
    // A cosmetic pen keeps its width in device pixels; on a high-density
    // screen it grows with the pixel ratio so lines keep their weight.
    const int width = std::max(1, int(std::lround(image_.devicePixelRatio())));
    QPen pen(QColor(colour.r, colour.g, colour.b), width);
    pen.setCosmetic(true);
    CachedPen& slot = pens_[nextPen_];
    slot = {colour, std::move(pen)};
    nextPen_ = (nextPen_ + 1) % pens_.size();
    pensUsed_ = std::min(pensUsed_ + 1, pens_.size());
    return slot.pen;
}

void RasterCanvas::EndPainting() { painter_.reset(); }

bool RasterCanvas::InSight(double left, double top, double right, double bottom) const {
    return right >= -PEN_REACH && bottom >= -PEN_REACH && left <= width_ + PEN_REACH &&
           top <= height_ + PEN_REACH;
}

void RasterCanvas::MarkDirty(double left, double top, double right, double bottom) {
    const double l = std::clamp(std::floor(left - PEN_REACH), 0.0, double(width_));
    const double t = std::clamp(std::floor(top - PEN_REACH), 0.0, double(height_));
    const double r = std::clamp(std::ceil(right + PEN_REACH), 0.0, double(width_));
    const double b = std::clamp(std::ceil(bottom + PEN_REACH), 0.0, double(height_));
    if (r <= l || b <= t) return;
    dirty_ |= QRect(int(l), int(t), int(r - l), int(b - t));
}

void RasterCanvas::DrawLine(float x1, float y1, float x2, float y2, Colour colour) {
    penX_ = x2, penY_ = y2;
    const Box sight{-PEN_REACH, -PEN_REACH, width_ + PEN_REACH, height_ + PEN_REACH};
    const Point a{x1, y1}, b{x2, y2};
    if (Near(a, sight) && Near(b, sight)) {
        DrawNearLine(x1, y1, x2, y2, colour);
        return;
    }
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return;
    ForEachNearPiece(a, b, sight, MAX_HALVINGS, [&](Point from, Point to) {
        DrawNearLine(from.x, from.y, to.x, to.y, colour);
    });
}

void RasterCanvas::DrawNearLine(double ax, double ay, double bx, double by, Colour colour) {
    const double loX = -GUARD, loY = -GUARD, hiX = width_ + GUARD, hiY = height_ + GUARD;
    // Clipping leaves a segment inside the box exactly as it is.
    if (!(InRange(ax, loX, hiX) && InRange(bx, loX, hiX) && InRange(ay, loY, hiY) &&
          InRange(by, loY, hiY)) &&
        !ClipToBox(ax, ay, bx, by, loX, loY, hiX, hiY))
        return;
    const double left = std::min(ax, bx), right = std::max(ax, bx);
    const double top = std::min(ay, by), bottom = std::max(ay, by);
    if (!InSight(left, top, right, bottom)) return;
    Painter(colour).drawLine(QPointF(ax, ay), QPointF(bx, by));
    MarkDirty(left, top, right, bottom);
}

void RasterCanvas::DrawLineTo(float x2, float y2, Colour colour) {
    DrawLine(penX_, penY_, x2, y2, colour);
}

void RasterCanvas::DrawCircle(float cx, float cy, float radius, Colour colour) {
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(radius)) return;
    const double r = std::abs(double(radius));
    if (!InSight(cx - r, cy - r, cx + r, cy + r)) return;
    // A ring so wide that the whole picture lies inside it shows nothing.
    const double dx = std::max(std::abs(cx + PEN_REACH), std::abs(width_ + PEN_REACH - cx));
    const double dy = std::max(std::abs(cy + PEN_REACH), std::abs(height_ + PEN_REACH - cy));
    if (std::hypot(dx, dy) < r - PEN_REACH) return;
    Painter(colour).drawEllipse(QPointF(cx, cy), r, r);
    MarkDirty(cx - r, cy - r, cx + r, cy + r);
}

void RasterCanvas::ClearCanvas() {
    EndPainting();
    image_.fill(Qt::white);
    dirty_ = QRect(0, 0, width_, height_);
}

void RasterCanvas::Resize(int width, int height, qreal devicePixelRatio) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (width == width_ && height == height_ && devicePixelRatio == image_.devicePixelRatio())
        return;
    EndPainting();
    QImage resized = BlankImage(width, height, devicePixelRatio);
    {
        QPainter copy(&resized);
        copy.drawImage(QPointF(0, 0), image_);
    }
    image_ = std::move(resized);
    pensUsed_ = nextPen_ = 0;  // the pen width follows the pixel ratio
    width_ = width;
    height_ = height;
    dirty_ = QRect(0, 0, width_, height_);
}

const QImage& RasterCanvas::Image() {
    EndPainting();
    return image_;
}

QRect RasterCanvas::TakeDirtyRect() {
    const QRect taken = dirty_;
    dirty_ = QRect();
    return taken;
}

}  // namespace kestrel
