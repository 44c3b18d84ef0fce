// kestrel-icon FILE.svg | kestrel-icon FILE.png SIZE [maskable]
// kestrel-icon --check FILE.png SIZE [maskable]
// Draws the program's icon: the player's tank, drawn by the game's own glyph
// code, on a white tile like the battlefield's. The SVG is the master; the
// PNGs are the same strokes painted at fixed sizes for desktops and the web
// page that want them. A maskable icon (for the installed web page) fills the
// whole square with white and keeps the tank inside the middle circle that
// any mask leaves. --check says whether FILE.png holds the pixels drawn now.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "render/RecordingCanvas.h"
#include "render/TankGlyph.h"
#include "tools/SvgCanvas.h"

namespace kestrel {
namespace {

// The pose: the tank drives to the right and a little toward the viewer, its
// turret turned a little up the field, so both hull outlines and both barrel
// lines are seen apart.
constexpr float GLYPH_CANVAS_SIDE = 100;
constexpr double GLYPH_X = 50;
constexpr double GLYPH_Y = 40;
constexpr float HEADING = 1.3f;
constexpr float TURRET = 2.0f;

// The document: a 48-unit square, a white rounded tile with a grey rim, and
// the glyph fitted into the tile with room for its strokes.
constexpr double ICON_SIDE = 48;
constexpr double TILE_INSET = 2;
constexpr double TILE_RADIUS = 7;
constexpr double TILE_RIM_WIDTH = 1.5;
constexpr Colour TILE_RIM = HIT_TANK_COLOUR;
constexpr double GLYPH_PADDING = 5.5;
// Wide enough to read at 16 pixels, narrow enough to keep the turret open.
constexpr double STROKE_WIDTH = 2.3;

struct Bounds {
    double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
    void Add(double x, double y, double reach = 0) {
        left = std::min(left, x - reach);
        right = std::max(right, x + reach);
        top = std::min(top, y - reach);
        bottom = std::max(bottom, y + reach);
    }
};

void DrawIconTank(Canvas& canvas) { DrawTank(canvas, GLYPH_X, GLYPH_Y, HEADING, TURRET, PLAYER_BLUE); }

Bounds GlyphBounds() {
    RecordingCanvas probe(GLYPH_CANVAS_SIDE, GLYPH_CANVAS_SIDE);
    DrawIconTank(probe);
    Bounds bounds;
    for (const CanvasCall& call : probe.Calls()) {
        switch (call.kind) {
            case CanvasCall::Kind::Circle: bounds.Add(call.v[0], call.v[1], call.v[2]); break;
            case CanvasCall::Kind::Line: bounds.Add(call.v[0], call.v[1]); [[fallthrough]];
            case CanvasCall::Kind::LineTo: bounds.Add(call.v[call.kind == CanvasCall::Kind::Line ? 2 : 0],
                                                      call.v[call.kind == CanvasCall::Kind::Line ? 3 : 1]);
                break;
            case CanvasCall::Kind::Clear: break;
        }
    }
    return bounds;
}

// Scales the glyph to fill the tile less its padding, centred.
SvgPlacement FitGlyph() {
    const Bounds b = GlyphBounds();
    const double room = ICON_SIDE - 2 * (TILE_INSET + GLYPH_PADDING);
    const double scale = std::min(room / (b.right - b.left), room / (b.bottom - b.top));
    return {scale, ICON_SIDE / 2 - scale * (b.left + b.right) / 2,
            ICON_SIDE / 2 - scale * (b.top + b.bottom) / 2};
}

// A maskable icon may be cut to any shape that holds the circle of 80 % of
// its side around the middle: the glyph's box, strokes included, fits in
// that circle (its diagonal no longer than the circle's diameter).
constexpr double MASK_SAFE_DIAMETER = 0.8 * ICON_SIDE;

SvgPlacement FitGlyphInSafeCircle() {
    const Bounds b = GlyphBounds();
    const double width = b.right - b.left, height = b.bottom - b.top;
    // The strokes reach half their width beyond the glyph's box on each side.
    const double scale = (MASK_SAFE_DIAMETER - STROKE_WIDTH * std::sqrt(2.0)) / std::hypot(width, height);
    return {scale, ICON_SIDE / 2 - scale * (b.left + b.right) / 2,
            ICON_SIDE / 2 - scale * (b.top + b.bottom) / 2};
}

std::string SvgDocument() {
    SvgCanvas canvas(GLYPH_CANVAS_SIDE, GLYPH_CANVAS_SIDE, FitGlyph());
    DrawIconTank(canvas);
    const std::string tile = SvgNumber(TILE_INSET);
    const std::string tileSide = SvgNumber(ICON_SIDE - 2 * TILE_INSET);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + SvgNumber(ICON_SIDE) +
           "\" height=\"" + SvgNumber(ICON_SIDE) + "\" viewBox=\"0 0 " + SvgNumber(ICON_SIDE) + " " +
           SvgNumber(ICON_SIDE) + "\">\n" +
           "<rect x=\"" + tile + "\" y=\"" + tile + "\" width=\"" + tileSide + "\" height=\"" + tileSide +
           "\" rx=\"" + SvgNumber(TILE_RADIUS) + "\" fill=\"" + SvgColour(WHITE) + "\" stroke=\"" +
           SvgColour(TILE_RIM) + "\" stroke-width=\"" + SvgNumber(TILE_RIM_WIDTH) + "\"/>\n" +
           "<g fill=\"none\" stroke-width=\"" + SvgNumber(STROKE_WIDTH) +
           "\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n" + canvas.Elements() + "</g>\n</svg>\n";
}

QColor ToQColor(Colour colour) { return QColor(colour.r, colour.g, colour.b); }

// The same strokes as the SVG, painted smooth at one pixel size.
class IconPainterCanvas final : public Canvas {
public:
    IconPainterCanvas(QPainter& painter, SvgPlacement placement)
        : painter_(painter), strokeWidth_(STROKE_WIDTH / placement.scale) {
        painter_.save();
        painter_.translate(placement.dx, placement.dy);
        painter_.scale(placement.scale, placement.scale);
    }
    ~IconPainterCanvas() override { painter_.restore(); }

    float CanvasWidth() const override { return GLYPH_CANVAS_SIDE; }
    float CanvasHeight() const override { return GLYPH_CANVAS_SIDE; }
    void DrawLine(float x1, float y1, float x2, float y2, Colour colour) override {
        Pen(colour);
        painter_.drawLine(QPointF(x1, y1), QPointF(x2, y2));
        pen_ = QPointF(x2, y2);
    }
    void DrawLineTo(float x2, float y2, Colour colour) override { DrawLine(pen_.x(), pen_.y(), x2, y2, colour); }
    void DrawCircle(float cx, float cy, float radius, Colour colour) override {
        Pen(colour);
        painter_.setBrush(Qt::NoBrush);
        painter_.drawEllipse(QPointF(cx, cy), radius, radius);
    }
    void ClearCanvas() override {}

private:
    void Pen(Colour colour) {
        painter_.setPen(QPen(ToQColor(colour), strokeWidth_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }

    QPainter& painter_;
    double strokeWidth_;
    QPointF pen_;
};

enum class IconShape { Tile, Maskable };

QImage PngIcon(int size, IconShape shape) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(shape == IconShape::Maskable ? ToQColor(WHITE) : QColor(Qt::transparent));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / ICON_SIDE, size / ICON_SIDE);
    if (shape == IconShape::Tile) {
        painter.setPen(QPen(ToQColor(TILE_RIM), TILE_RIM_WIDTH));
        painter.setBrush(ToQColor(WHITE));
        const double tileSide = ICON_SIDE - 2 * TILE_INSET;
        painter.drawRoundedRect(QRectF(TILE_INSET, TILE_INSET, tileSide, tileSide), TILE_RADIUS, TILE_RADIUS);
    }
    {
        IconPainterCanvas canvas(painter, shape == IconShape::Maskable ? FitGlyphInSafeCircle() : FitGlyph());
        DrawIconTank(canvas);
    }
    painter.end();
    return image;
}

constexpr int MIN_PNG_SIDE = 8;
constexpr int MAX_PNG_SIDE = 1024;

int Usage() {
    std::cerr << "usage: kestrel-icon FILE.svg | kestrel-icon [--check] FILE.png SIZE [maskable]  (SIZE "
              << MIN_PNG_SIDE << ".." << MAX_PNG_SIDE << ")\n";
    return 2;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

int WriteSvg(const char* path) {
    std::ofstream out(path, std::ios::binary);
    out << SvgDocument();
    out.close();
    if (!out) {
        std::cerr << "kestrel-icon: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

std::optional<int> PngSide(std::string_view sizeText) {
    int size = 0;
    const auto [end, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    if (ec != std::errc() || end != sizeText.data() + sizeText.size() || size < MIN_PNG_SIDE ||
        size > MAX_PNG_SIDE)
        return std::nullopt;
    return size;
}

int WritePng(const char* path, int size, IconShape shape) {
    if (!PngIcon(size, shape).save(QString::fromLocal8Bit(path), "PNG")) {
        std::cerr << "kestrel-icon: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

// Qt's antialiasing takes a different path on different processors, and
// the paths round some edge pixels apart by one step.
constexpr int ANTIALIAS_ROUNDING = 1;

bool SameChannel(int a, int b) { return std::abs(a - b) <= ANTIALIAS_ROUNDING; }

bool SamePicture(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (!SameChannel(qRed(p), qRed(q)) || !SameChannel(qGreen(p), qGreen(q)) ||
                !SameChannel(qBlue(p), qBlue(q)) || !SameChannel(qAlpha(p), qAlpha(q)))
                return false;
        }
    return true;
}

// Compares pixels, not bytes: another PNG writer may pack the same picture
// differently.
int CheckPng(const char* path, int size, IconShape shape) {
    const QImage saved(QString::fromLocal8Bit(path));
    if (saved.isNull()) {
        std::cerr << "kestrel-icon: cannot read " << path << '\n';
        return 1;
    }
    if (!SamePicture(saved.convertToFormat(QImage::Format_ARGB32), PngIcon(size, shape))) {
        std::cerr << "kestrel-icon: " << path << " is not the icon drawn now\n";
        return 1;
    }
    return 0;
}

int PngCommand(bool check, const char* path, std::string_view sizeText, std::string_view shapeText) {
    const std::optional<int> size = PngSide(sizeText);
    if (!size || !EndsWith(path, ".png") || (shapeText != "" && shapeText != "maskable")) return Usage();
    const IconShape shape = shapeText == "maskable" ? IconShape::Maskable : IconShape::Tile;
    return check ? CheckPng(path, *size, shape) : WritePng(path, *size, shape);
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && kestrel::EndsWith(args[0], ".svg")) return kestrel::WriteSvg(argv[1]);
    const bool check = !args.empty() && args[0] == "--check";
    const std::size_t at = check ? 1 : 0;
    if (args.size() != at + 2 && args.size() != at + 3) return kestrel::Usage();
    return kestrel::PngCommand(check, argv[1 + at], args[at + 1], args.size() == at + 3 ? args[at + 2] : "");
}
