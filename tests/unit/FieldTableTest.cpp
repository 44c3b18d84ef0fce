// The table of the record's fields against the record itself: a member left
// out of the table would be skipped without a word by the replay tool's
// `state` and `set` and by the soak driver's checks.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <set>
#include <string_view>
#include <utility>

#include "model/BattlefieldFields.h"

namespace kestrel {
namespace {

// Converts to the type of any member, so that an aggregate can be built from
// N of them exactly when it has N members or more.
struct AnyField {
    template <class T>
    operator T() const;
};

template <typename Record, std::size_t... I>
constexpr bool BuildsFrom(std::index_sequence<I...>) {
    return requires { Record{(void(I), AnyField{})...}; };
}

// The number of members of an aggregate: an array member counts as one,
// since an AnyField converts to the whole array.
template <typename Record, std::size_t N = 0>
constexpr std::size_t MemberCount() {
    if constexpr (BuildsFrom<Record>(std::make_index_sequence<N + 1>{}))
        return MemberCount<Record, N + 1>();
    else
        return N;
}

struct ThreeMembers {
    PerSlot<double> table;
    bool flag;
    std::array<float, 2> pair;
};
static_assert(MemberCount<ThreeMembers>() == 3);

TEST(FieldTable, ListsEveryMemberOfTheRecordOnce) {
    const Battlefield bf;
    const auto* record = reinterpret_cast<const char*>(&bf);
    std::size_t fields = 0;
    std::set<std::ptrdiff_t> offsets;
    std::set<std::string_view> names;
    ForEachField([&](auto field) {
        ++fields;
        offsets.insert(reinterpret_cast<const char*>(&field.At(bf, 0)) - record);
        names.insert(field.name);
    });
    EXPECT_EQ(fields, MemberCount<Battlefield>()) << "a member of Battlefield is missing from the table";
    EXPECT_EQ(offsets.size(), fields) << "two entries name the same member";
    EXPECT_EQ(names.size(), fields) << "two entries have the same name";
}

}  // namespace
}  // namespace kestrel
