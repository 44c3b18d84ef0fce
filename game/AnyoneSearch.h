#pragma once
// "Play with anyone", as the window and the page both search: ask the
// server for a seat in a public room; when it names a room on another
// server, ask that room for a seat, and ask again from the start when the
// room's seats were taken meanwhile; after a few tries, open a public room
// of one's own. The search makes no request itself: a shell asks it which
// request to make, makes it, and hands back the answer, until it ends with
// the room's links or with why there are none.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "game/Result.h"

namespace kestrel {

// Tries at a public room before the search opens one of its own.
inline constexpr int ANYONE_TRIES = 3;
// The longest answer the search reads: the server's are a few links long.
inline constexpr std::size_t MAX_ANYONE_ANSWER_BYTES = 4096;
// Every request of the search is a POST with a JSON body.
inline constexpr std::string_view ANYONE_METHOD = "POST";
inline constexpr std::string_view ANYONE_PATH = "/rooms/anyone";
inline constexpr std::string_view ANYONE_NEW_PATH = "/rooms/anyone?new=1";

struct AnyoneRequest {
    std::string path;  // on the server's address
    std::string body;
};

// The room found: its id, and its play and watch links.
struct AnyoneLinks {
    std::string room;
    std::string play;
    std::string watch;
};

class AnyoneSearch {
public:
    // The size of a room the search would open, in canvas units.
    AnyoneSearch(int width, int height);

    // The request to make next; none once the search has ended.
    const std::optional<AnyoneRequest>& Next() const { return next_; }
    // The answer to that request: its HTTP status, its Kestrel-Refusal
    // header (empty when it had none), its body, and the seconds its
    // Retry-After asks to wait (none when it named none).
    void Answer(int status, std::string_view refusal, std::string_view body,
                std::optional<int> retryAfterSeconds = std::nullopt);
    // The links found, or why none were; none while the search goes on.
    const std::optional<Result<AnyoneLinks>>& Outcome() const { return outcome_; }

private:
    enum class Asking { Anyone, Seat, OwnRoom };
    void AskAgain();
    void Read(std::string_view body);
    void End(Result<AnyoneLinks> outcome);

    std::string size_;  // the body of a request for a room
    int tries_ = 0;     // requests to ANYONE_PATH so far
    Asking asking_ = Asking::Anyone;
    std::optional<AnyoneRequest> next_;
    std::optional<Result<AnyoneLinks>> outcome_;
};

}  // namespace kestrel
