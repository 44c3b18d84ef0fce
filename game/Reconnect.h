#pragma once
// A screen's connection to a room, as the window and the page both keep
// it: connecting, live once the room's battle is followed, lost (with the
// wait before the next try and the reason), and closed for good. A lost
// connection is tried again after a wait that doubles with each failed try
// up to the longest, and starts from the first again once a connection has
// worked. The shells keep the sockets and the timers; this keeps the rule.

#include <optional>
#include <string>

#include "game/Refusals.h"

namespace kestrel {

// Waits before a new try: the first, and the longest once doubled.
inline constexpr int FIRST_RETRY_MS = 500;
inline constexpr int LAST_RETRY_MS = 8000;

class Backoff {
public:
    // The wait before the next try; the one after is twice as long, up to
    // LAST_RETRY_MS.
    int Next();
    // A connection worked: the next wait is the first again.
    void Reset() { next_ = FIRST_RETRY_MS; }

private:
    int next_ = FIRST_RETRY_MS;
};

enum class ConnectionState { Connecting, Live, Lost, Closed };

class RoomConnection {
public:
    // A try starts.
    void Connecting();
    // The room's battle is followed: the connection works.
    void Joined();
    // The connection is gone, for `reason` (may be empty): the wait before
    // the next try, or none once closed.
    std::optional<int> Lost(std::string reason);
    // The server refused the connection: a refusal that may pass is tried
    // again as a lost connection is; one that may not closes it for good.
    // Either way the refusal's words are the reason. The wait before the
    // next try, or none once closed.
    std::optional<int> RefusedAs(Refused kind);
    // Out of the room for good: no more tries.
    void Close() { state_ = ConnectionState::Closed; }

    ConnectionState State() const { return state_; }
    // The last wait Lost gave, and its reason (or the refusal's that closed it).
    int RetryMs() const { return retryMs_; }
    const std::string& Reason() const { return reason_; }
    // Whether a connection was lost since the battle was last joined.
    bool Retrying() const { return retrying_; }

private:
    ConnectionState state_ = ConnectionState::Connecting;
    Backoff backoff_;
    int retryMs_ = 0;
    std::string reason_;
    bool retrying_ = false;
};

// The state's name, as the page's contract gives it.
const char* StateName(ConnectionState state);

}  // namespace kestrel
