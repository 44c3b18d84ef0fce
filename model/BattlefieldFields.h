#pragma once
// Every member of the record, listed once, for the code that treats the
// record field by field: the replay tool prints and sets fields through this
// table, and the soak driver checks them. A member added to Battlefield goes
// here too; the unit tests fail until it does.

#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "model/Battlefield.h"

namespace kestrel {

// How a field's values are stored, printed and read.
enum class FieldKind {
    Real,    // double
    Single,  // float, printed widened to double
    Int16,   // 16-bit whole number
    Slot,    // 16-bit slot index, 0..LAST_SLOT
    Flag,    // bool, printed and read as 0 or -1
};

template <FieldKind KIND>
struct StoredAs;
template <>
struct StoredAs<FieldKind::Real> { using Type = double; };
template <>
struct StoredAs<FieldKind::Single> { using Type = float; };
template <>
struct StoredAs<FieldKind::Int16> { using Type = std::int16_t; };
template <>
struct StoredAs<FieldKind::Slot> { using Type = Slot; };
template <>
struct StoredAs<FieldKind::Flag> { using Type = bool; };

// The type of one value of a member, and whether the member is a per-slot table.
template <typename Member>
struct MemberValue {
    using Type = Member;
    static constexpr bool PER_SLOT = false;
};
template <typename T>
struct MemberValue<PerSlot<T>> {
    using Type = T;
    static constexpr bool PER_SLOT = true;
};

// One member: its name in the replay tool (the member's own name), and how
// its values are kept. A per-slot member holds SLOT_COUNT values, one a slot;
// any other holds one.
template <auto MEMBER, FieldKind KIND_OF_VALUE>
struct Field {
    using Member = MemberValue<std::remove_cvref_t<decltype(Battlefield{}.*MEMBER)>>;
    using Value = typename Member::Type;
    static constexpr FieldKind KIND = KIND_OF_VALUE;
    static constexpr bool PER_SLOT = Member::PER_SLOT;
    static constexpr int COUNT = PER_SLOT ? SLOT_COUNT : 1;
    static_assert(std::is_same_v<Value, typename StoredAs<KIND>::Type>,
                  "a field's kind must match its member's type");

    // Value i of the field: slot i of a per-slot member, the member itself
    // (i = 0) otherwise. Const for a const record.
    template <typename Record>
        requires std::is_same_v<std::remove_const_t<Record>, Battlefield>
    static auto& At(Record& bf, [[maybe_unused]] int i) {
        if constexpr (PER_SLOT) return (bf.*MEMBER)[i];
        else return bf.*MEMBER;
    }

    std::string_view name;
};

// Fields printed together by the replay tool's `state`: a per-slot group as
// one line a slot, "PREFIX SLOT VALUE...", any other as one line
// "PREFIX VALUE...".
template <typename... Fields>
struct FieldGroup {
    static constexpr bool PER_SLOT = (Fields::PER_SLOT && ...);
    static_assert(PER_SLOT || !(Fields::PER_SLOT || ...), "a group's fields are all per-slot or none");
    static constexpr int LINES = PER_SLOT ? SLOT_COUNT : 1;

    constexpr FieldGroup(std::string_view prefix, Fields... fields)
        : prefix(prefix), fields(fields...) {}

    // Calls visit(field) for each field of the group, in order.
    constexpr void ForEachField(auto visit) const {
        std::apply([&](auto... field) { (visit(field), ...); }, fields);
    }

    std::string_view prefix;
    std::tuple<Fields...> fields;
};

// In the order of the replay tool's `state` output, which is also the
// order of the record.
inline constexpr std::tuple BATTLEFIELD_FIELDS{
    FieldGroup{"tank",
               Field<&Battlefield::tankX, FieldKind::Real>{"tankX"},
               Field<&Battlefield::tankY, FieldKind::Real>{"tankY"},
               Field<&Battlefield::tankHeading, FieldKind::Single>{"tankHeading"},
               Field<&Battlefield::turretAngle, FieldKind::Single>{"turretAngle"},
               Field<&Battlefield::tankHits, FieldKind::Int16>{"tankHits"},
               Field<&Battlefield::tankSpeed, FieldKind::Single>{"tankSpeed"},
               Field<&Battlefield::tankTarget, FieldKind::Slot>{"tankTarget"}},
    FieldGroup{"shell",
               Field<&Battlefield::shellX, FieldKind::Real>{"shellX"},
               Field<&Battlefield::shellY, FieldKind::Real>{"shellY"},
               Field<&Battlefield::shellHeading, FieldKind::Single>{"shellHeading"},
               Field<&Battlefield::shellTimer, FieldKind::Int16>{"shellTimer"}},
    FieldGroup{"work",
               Field<&Battlefield::currentTank, FieldKind::Slot>{"currentTank"},
               Field<&Battlefield::liveCount, FieldKind::Int16>{"liveCount"},
               Field<&Battlefield::lastLiveSpeed, FieldKind::Single>{"lastLiveSpeed"},
               Field<&Battlefield::aimAngle, FieldKind::Real>{"aimAngle"},
               Field<&Battlefield::targetRange, FieldKind::Real>{"targetRange"},
               Field<&Battlefield::turretError, FieldKind::Real>{"turretError"},
               Field<&Battlefield::hullError, FieldKind::Real>{"hullError"}},
    FieldGroup{"pointer",
               Field<&Battlefield::dragging, FieldKind::Flag>{"dragging"},
               Field<&Battlefield::dragSlot, FieldKind::Slot>{"dragSlot"},
               Field<&Battlefield::pointerDepth, FieldKind::Int16>{"pointerDepth"}},
};

// Calls visit(group) for each group, in order.
constexpr void ForEachFieldGroup(auto visit) {
    std::apply([&](const auto&... group) { (visit(group), ...); }, BATTLEFIELD_FIELDS);
}

// Calls visit(field) for every field of the record, in order.
constexpr void ForEachField(auto visit) {
    ForEachFieldGroup([&](const auto& group) { group.ForEachField(visit); });
}

}  // namespace kestrel
