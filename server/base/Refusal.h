#pragma once
// Why the server does not do what a request asks, as the HTTP side
// answers it: a kind of the refusals' table (game/Refusals.h), which gives
// its status and tells the screens what it means, and the server's own
// reason for whoever reads the answer; a refusal that may pass says when
// to come back.

#include <chrono>
#include <string>
#include <variant>

#include "game/Refusals.h"

namespace kestrel {

struct Refusal {
    Refused kind;
    std::string reason;
    // For a refusal that may pass: when a try may work again.
    std::chrono::seconds retryAfter{0};
};

// A value, or why there is none.
template <class T>
using Outcome = std::variant<T, Refusal>;

}  // namespace kestrel
