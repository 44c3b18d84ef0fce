#include "server/rooms/RoomsComing.h"

#include <algorithm>

namespace kestrel {

void RoomsComing::Expect(const std::vector<std::string>& ids) { queued_.insert(queued_.end(), ids.begin(), ids.end()); }

std::optional<std::string> RoomsComing::Next() {
    if (building_ || queued_.empty()) return std::nullopt;
    building_ = std::move(queued_.front());
    queued_.pop_front();
    return building_;
}

bool RoomsComing::Expects(std::string_view id) const {
    return building_ == id || std::find(queued_.begin(), queued_.end(), id) != queued_.end();
}

void RoomsComing::Wait(std::string_view id, Waiter waiter) {
    const auto [at, added] = waiters_.try_emplace(std::string(id));
    at->second.push_back(std::move(waiter));
}

std::vector<RoomsComing::Waiter> RoomsComing::Arrived(std::string_view id) {
    if (building_ == id) building_.reset();
    std::erase(queued_, id);
    std::vector<Waiter> waiting;
    if (const auto found = waiters_.find(id); found != waiters_.end()) {
        waiting = std::move(found->second);
        waiters_.erase(found);
    }
    return waiting;
}

void RoomsComing::Forget() {
    queued_.clear();
    building_.reset();
    waiters_.clear();
}

}  // namespace kestrel
