#include "trace/TraceFormat.h"

#include "model/BattlefieldFields.h"

namespace kestrel {
namespace {

void AppendColour(std::string& line, Colour colour) {
    AppendInt(line, colour.r);
    AppendInt(line, colour.g);
    AppendInt(line, colour.b);
}

template <FieldKind KIND>
void AppendValue(std::string& line, auto value) {
    if constexpr (KIND == FieldKind::Real) AppendDouble(line, value);
    else if constexpr (KIND == FieldKind::Single) AppendSingle(line, value);
    else if constexpr (KIND == FieldKind::Flag) AppendInt(line, value ? -1 : 0);
    else AppendInt(line, value);  // 16-bit whole numbers and slots
}

}  // namespace

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
    ForEachFieldGroup([&](const auto& group) {
        for (int i = 0; i < group.LINES; ++i) {
            text += group.prefix;
            if (group.PER_SLOT) AppendInt(text, i);
            group.ForEachField([&](auto field) { AppendValue<field.KIND>(text, field.At(bf, i)); });
            text += '\n';
        }
    });
    return text;
}

std::string FormatScores(const Seats& seats) {
    std::string text;
    for (int k = 0; k < seats.count; ++k) {
        text += "score";
        AppendInt(text, k);
        AppendUnsigned(text, seats.scores[k].kills);
        AppendUnsigned(text, seats.scores[k].wins);
        text += '\n';
    }
    return text;
}

}  // namespace kestrel
