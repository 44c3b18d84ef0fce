// kestrel-icon FILE.svg | kestrel-icon FILE.png SIZE
// Draws the program's icon: the player's tank, drawn by the game's own glyph
// code, on a white tile like the battlefield's. The SVG is the master; the
// PNGs are the same strokes painted at fixed sizes for desktops that want them.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

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

QImage PngIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / ICON_SIDE, size / ICON_SIDE);
    painter.setPen(QPen(ToQColor(TILE_RIM), TILE_RIM_WIDTH));
    painter.setBrush(ToQColor(WHITE));
    const double tileSide = ICON_SIDE - 2 * TILE_INSET;
    painter.drawRoundedRect(QRectF(TILE_INSET, TILE_INSET, tileSide, tileSide), TILE_RADIUS, TILE_RADIUS);
    {
        IconPainterCanvas canvas(painter, FitGlyph());
        DrawIconTank(canvas);
    }
    painter.end();
    return image;
}

constexpr int MIN_PNG_SIDE = 8;
constexpr int MAX_PNG_SIDE = 1024;

int Usage() {
    std::cerr << "usage: kestrel-icon FILE.svg | kestrel-icon FILE.png SIZE (" << MIN_PNG_SIDE << ".."
              << MAX_PNG_SIDE << ")\n";
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

int WritePng(const char* path, std::string_view sizeText) {
    int size = 0;
    const auto [end, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    if (ec != std::errc() || end != sizeText.data() + sizeText.size() || size < MIN_PNG_SIDE ||
        size > MAX_PNG_SIDE)
        return Usage();
    if (!PngIcon(size).save(QString::fromLocal8Bit(path), "PNG")) {
        std::cerr << "kestrel-icon: cannot write " << path << '\n';
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    if (argc == 2 && kestrel::EndsWith(argv[1], ".svg")) return kestrel::WriteSvg(argv[1]);
    if (argc == 3 && kestrel::EndsWith(argv[1], ".png")) return kestrel::WritePng(argv[1], argv[2]);
    return kestrel::Usage();
}
