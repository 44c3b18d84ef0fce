#include "tools/TraceFormat.h"

#include <cstdio>

namespace kestrel {
namespace {

void AppendPrintf(std::string& line, const char* format, auto value) {
    char buffer[40];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    if (!line.empty() && line.back() != '\n') line += ' ';
    line.append(buffer, std::size_t(length));
}

void AppendColour(std::string& line, Colour colour) {
    AppendInt(line, colour.r);
    AppendInt(line, colour.g);
    AppendInt(line, colour.b);
}

}  // namespace

void AppendDouble(std::string& line, double value) { AppendPrintf(line, "%.17g", value); }
void AppendSingle(std::string& line, float value) { AppendPrintf(line, "%.9g", double(value)); }
void AppendInt(std::string& line, long long value) { AppendPrintf(line, "%lld", value); }

std::string FormatCall(const CanvasCall& call) {
    using Kind = CanvasCall::Kind;
    std::string line;
    int values = 0;
    switch (call.kind) {
        case Kind::Circle: line = "circle", values = 3; break;
        case Kind::Line: line = "line", values = 4; break;
        case Kind::LineTo: line = "lineto", values = 2; break;
        case Kind::Clear: return "clear";
    }
    for (int i = 0; i < values; ++i) AppendSingle(line, call.v[i]);
    AppendColour(line, call.colour);
    return line;
}

std::string FormatState(const Battlefield& bf) {
    std::string text;
    text.reserve(16 * 1024);
    for (int i = 0; i < SLOT_COUNT; ++i) {
        text += "tank";
        AppendInt(text, i);
        AppendDouble(text, bf.tankX[i]);
        AppendDouble(text, bf.tankY[i]);
        AppendSingle(text, bf.tankHeading[i]);
        AppendSingle(text, bf.turretAngle[i]);
        AppendInt(text, bf.tankHits[i]);
        AppendSingle(text, bf.tankSpeed[i]);
        AppendInt(text, bf.tankTarget[i]);
        text += '\n';
    }
    for (int i = 0; i < SLOT_COUNT; ++i) {
        text += "shell";
        AppendInt(text, i);
        AppendDouble(text, bf.shellX[i]);
        AppendDouble(text, bf.shellY[i]);
        AppendSingle(text, bf.shellHeading[i]);
        AppendInt(text, bf.shellTimer[i]);
        text += '\n';
    }
    text += "work";
    AppendInt(text, bf.currentTank);
    AppendInt(text, bf.liveCount);
    AppendSingle(text, bf.lastLiveSpeed);
    AppendDouble(text, bf.aimAngle);
    AppendDouble(text, bf.targetRange);
    AppendDouble(text, bf.turretError);
    AppendDouble(text, bf.hullError);
    text += "\npointer";
    AppendInt(text, bf.dragging ? -1 : 0);
    AppendInt(text, bf.dragSlot);
    AppendInt(text, bf.pointerDepth);
    text += '\n';
    return text;
}

}  // namespace kestrel
