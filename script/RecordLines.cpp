#include "script/RecordLines.h"

#include <cstdint>

#include "model/BattlefieldFields.h"
#include "model/Numeric.h"

namespace kestrel {
namespace {

constexpr int FLAG_SET = -1;  // as the replay tool prints a set flag

// A value for a field of the given kind. Errors call it "value", but a slot
// "slot" and a flag by its field's name.
template <FieldKind KIND>
auto ParseValue(std::string_view token, std::string_view name) {
    if constexpr (KIND == FieldKind::Real) return ParseReal(token, "value");
    else if constexpr (KIND == FieldKind::Single) return ParseSingle(token, "value");
    else if constexpr (KIND == FieldKind::Int16) return ParseInt16(token, "value");
    else if constexpr (KIND == FieldKind::Slot) return ParseSlot(token);
    else return ParseWhole<int>(token, FLAG_SET, 0, name) == FLAG_SET;
}

template <FieldKind KIND, typename Value>
void AppendValue(std::string& line, Value value) {
    if constexpr (KIND == FieldKind::Real) AppendDouble(line, value);
    else if constexpr (KIND == FieldKind::Single) AppendSingle(line, value);
    else if constexpr (KIND == FieldKind::Flag) AppendInt(line, value ? FLAG_SET : 0);
    else AppendInt(line, value);
}

// Zero bits, so that a negative zero is written too.
template <typename Value>
bool IsZeroBits(Value value) {
    if constexpr (std::is_same_v<Value, double>) return BitsOf(value) == 0;
    else if constexpr (std::is_same_v<Value, float>) return BitsOf(value) == 0;
    else return value == Value{};
}

}  // namespace

void ReadSetLine(Battlefield& bf, const Tokens& t) {
    if (t.size() < 2) ExpectArgs(t, 2, 3);
    bool known = false;
    ForEachField([&](auto field) {
        if (known || field.name != t[1]) return;
        known = true;
        const std::size_t args = field.PER_SLOT ? 3 : 2;
        ExpectArgs(t, args, args);
        const Slot slot = field.PER_SLOT ? ParseSlot(t[2]) : Slot(0);
        field.At(bf, slot) = ParseValue<field.KIND>(t[args], field.name);
    });
    if (!known) Fail("unknown field " + Quoted(t[1]));
}

std::string WriteSetLines(const Battlefield& bf) {
    std::string lines;
    ForEachField([&](auto field) {
        for (int i = 0; i < field.COUNT; ++i) {
            const auto value = field.At(bf, i);
            if (IsZeroBits(value)) continue;
            std::string line = "set";
            line += ' ';
            line += field.name;
            if (field.PER_SLOT) AppendInt(line, i);
            AppendValue<field.KIND>(line, value);
            lines += line + '\n';
        }
    });
    return lines;
}

}  // namespace kestrel
