#include "server/rooms/TimeRules.h"

namespace kestrel {

// Rooms on their way count as made, so that a burst of orders cannot pass
// the quota while they are being made.
std::optional<std::chrono::seconds> CreationQuota::Wait(const std::string& address, ServerTime now,
                                                         std::size_t onTheWay) {
    Forget(now);
    const auto found = made_.find(address);
    const std::size_t made = found == made_.end() ? 0 : found->second.size();
    if (made + onTheWay < std::size_t(perMinute_)) return std::nullopt;
    // The oldest room made leaves the window first; one on its way counts
    // for a whole minute once made.
    const auto wait = made > 0 ? found->second.front() + CREATION_WINDOW - now : CREATION_WINDOW;
    return std::chrono::ceil<std::chrono::seconds>(wait);
}

void CreationQuota::Count(const std::string& address, ServerTime now) { made_[address].push_back(now); }

// Rooms made more than a minute ago are forgotten, and addresses with none
// since, so the table stays small.
void CreationQuota::Forget(ServerTime now) {
    for (auto it = made_.begin(); it != made_.end();) {
        std::deque<ServerTime>& made = it->second;
        while (!made.empty() && now - made.front() >= CREATION_WINDOW) made.pop_front();
        it = made.empty() ? made_.erase(it) : std::next(it);
    }
}

bool IdleRule::Ends(std::size_t people, ServerTime now) {
    if (people > 0) {
        emptySince_.reset();
        return false;
    }
    if (!emptySince_) emptySince_ = now;
    return now - *emptySince_ > ROOM_IDLE_LIMIT;
}

ServerTime TickSchedule::OnGrid(ServerTime time) {
    const auto past = time.time_since_epoch() % TICK_GRID;
    return past == past.zero() ? time : time + (TICK_GRID - past);
}

std::size_t TickSchedule::Beat(ServerTime time, std::chrono::nanoseconds tick) {
    return std::size_t((time.time_since_epoch() % tick) / TICK_GRID);
}

bool TickSchedule::Sent(ServerTime now) {
    const ServerTime due = Due();
    ++ticksSinceStart_;
    if (now - due > MAX_CATCH_UP) ticksSinceStart_ = std::uint64_t((now - start_) / tick_);
    return now - due > LATE_AFTER;
}

}  // namespace kestrel
