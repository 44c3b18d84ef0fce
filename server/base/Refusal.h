#pragma once
// Why the server does not do what a request asks: one convention for every
// part of it. A refusal has a kind, which the HTTP side answers with a
// status, and a reason for the person who reads it; a refusal over a limit
// says when to come back.

#include <chrono>
#include <string>
#include <variant>

namespace kestrel {

enum class RefusalKind {
    BadRequest,  // the request itself is wrong
    Forbidden,   // another site's page, or the wrong key
    NotFound,
    Gone,        // the room ended; its recording is kept
    TooMany,     // over a rate: try again later
    Full,        // over a capacity: try again later
    Broken,      // the server's own failure (its disk)
};

struct Refusal {
    RefusalKind kind;
    std::string reason;
    // For TooMany and Full: when a try may work again.
    std::chrono::seconds retryAfter{0};
};

// A value, or why there is none.
template <class T>
using Outcome = std::variant<T, Refusal>;

}  // namespace kestrel
