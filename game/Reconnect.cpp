#include "game/Reconnect.h"

#include <algorithm>
#include <utility>

namespace kestrel {

int Backoff::Next() {
    const int wait = next_;
    next_ = std::min(2 * wait, LAST_RETRY_MS);
    return wait;
}

void RoomConnection::Connecting() {
    if (state_ != ConnectionState::Closed) state_ = ConnectionState::Connecting;
}

void RoomConnection::Joined() {
    if (state_ == ConnectionState::Closed) return;
    state_ = ConnectionState::Live;
    reason_.clear();
    retrying_ = false;
    backoff_.Reset();
}

std::optional<int> RoomConnection::Lost(std::string reason) {
    if (state_ == ConnectionState::Closed) return std::nullopt;
    state_ = ConnectionState::Lost;
    reason_ = std::move(reason);
    retrying_ = true;
    retryMs_ = backoff_.Next();
    return retryMs_;
}

std::optional<int> RoomConnection::RefusedAs(Refused kind) {
    const RefusalTerms& terms = TermsOf(kind);
    if (terms.mayPass) return Lost(std::string(terms.words));
    if (state_ == ConnectionState::Closed) return std::nullopt;
    state_ = ConnectionState::Closed;
    reason_ = terms.words;
    return std::nullopt;
}

const char* StateName(ConnectionState state) {
    switch (state) {
        case ConnectionState::Connecting: return "connecting";
        case ConnectionState::Live: return "live";
        case ConnectionState::Lost: return "lost";
        case ConnectionState::Closed: return "closed";
    }
    return "closed";
}

}  // namespace kestrel
