#include "server/rooms/Tickets.h"

namespace kestrel {

std::optional<Ticket> AddressCounts::Take(const std::string& address) {
    int& count = (*counts_)[address];
    if (count >= limit_) return std::nullopt;
    ++count;
    return Ticket([counts = counts_, address] {
        if (--(*counts)[address] == 0) counts->erase(address);
    });
}

int AddressCounts::Count(const std::string& address) const {
    const auto found = counts_->find(address);
    return found == counts_->end() ? 0 : found->second;
}

std::optional<Ticket> ScreenPlaces::Take() {
    if (*taken_ >= limit_) return std::nullopt;
    ++*taken_;
    return Ticket([taken = taken_] { --*taken; });
}

}  // namespace kestrel
