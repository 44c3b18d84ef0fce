#pragma once
// A fingerprint of the battle record, so that two screens that play one
// battle can tell, cheaply and early, whether they still agree.

#include <cstdint>

#include "model/Battlefield.h"

namespace kestrel {

// 64-bit FNV-1a over every value of the record in the record's order (each
// value's bytes, least significant first) and then the random state's.
// The same bits give the same hash on every build.
std::uint64_t HashRecord(const Battlefield& bf, std::uint64_t randomState);

}  // namespace kestrel
