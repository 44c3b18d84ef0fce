#include "model/RecordHash.h"

#include <type_traits>

#include "model/BattlefieldFields.h"
#include "model/Numeric.h"

namespace kestrel {
namespace {

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ull;
constexpr std::uint64_t FNV_PRIME = 1099511628211ull;

struct Fnv1a {
    std::uint64_t hash = FNV_OFFSET;

    void Bytes(std::uint64_t bits, int count) {
        for (int i = 0; i < count; ++i, bits >>= 8) hash = (hash ^ (bits & 0xff)) * FNV_PRIME;
    }

    template <typename Value>
    void Add(Value value) {
        if constexpr (std::is_same_v<Value, double>) Bytes(BitsOf(value), 8);
        else if constexpr (std::is_same_v<Value, float>) Bytes(BitsOf(value), 4);
        else if constexpr (std::is_same_v<Value, bool>) Bytes(value ? 1 : 0, 1);
        else Bytes(std::uint16_t(value), 2);
    }
};

}  // namespace

std::uint64_t HashRecord(const Battlefield& bf, std::uint64_t randomState) {
    Fnv1a fnv;
    ForEachField([&](auto field) {
        for (int i = 0; i < field.COUNT; ++i) fnv.Add(field.At(bf, i));
    });
    fnv.Bytes(randomState, 8);
    return fnv.hash;
}

}  // namespace kestrel
