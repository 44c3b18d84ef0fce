#include "tools/SvgCanvas.h"

#include <cstdio>

namespace kestrel {

std::string SvgNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string number(text);
    number.erase(number.find_last_not_of('0') + 1);
    if (number.back() == '.') number.pop_back();
    if (number == "-0") number = "0";
    return number;
}

std::string SvgColour(Colour colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.r, colour.g, colour.b);
    return text;
}

std::string SvgCanvas::X(float x) const { return SvgNumber(placement_.dx + placement_.scale * x); }
std::string SvgCanvas::Y(float y) const { return SvgNumber(placement_.dy + placement_.scale * y); }

void SvgCanvas::DrawLine(float x1, float y1, float x2, float y2, Colour colour) {
    ClosePath();
    path_ = "M" + X(x1) + " " + Y(y1) + "L" + X(x2) + " " + Y(y2);
    pathColour_ = colour;
    pathStartX_ = x1;
    pathStartY_ = y1;
    penX_ = x2;
    penY_ = y2;
}

void SvgCanvas::DrawLineTo(float x2, float y2, Colour colour) {
    if (path_.empty() || colour != pathColour_) DrawLine(penX_, penY_, x2, y2, colour);
    else if (x2 == pathStartX_ && y2 == pathStartY_) {
        path_ += "Z";
        ClosePath();
    } else {
        path_ += "L" + X(x2) + " " + Y(y2);
    }
    penX_ = x2;
    penY_ = y2;
}

void SvgCanvas::DrawCircle(float cx, float cy, float radius, Colour colour) {
    ClosePath();
    elements_ += "<circle cx=\"" + X(cx) + "\" cy=\"" + Y(cy) + "\" r=\"" +
                 SvgNumber(placement_.scale * radius) + "\" stroke=\"" + SvgColour(colour) + "\"/>\n";
}

void SvgCanvas::ClearCanvas() {
    path_.clear();
    elements_.clear();
}

void SvgCanvas::ClosePath() {
    if (path_.empty()) return;
    elements_ += "<path d=\"" + path_ + "\" stroke=\"" + SvgColour(pathColour_) + "\"/>\n";
    path_.clear();
}

std::string SvgCanvas::Elements() {
    ClosePath();
    return elements_;
}

}  // namespace kestrel
