// What a room tells its screens besides the recording: where a join
// starts, how many are in the room, the scores at the join, each screen's
// seat, and who is here.

#include "game/Room.h"

namespace kestrel {

std::string Room::JoinedNotice() const { return WriteNotice({NoticeKind::Joined, anchorTick_}); }

std::string Room::PeopleNotice() const { return WriteNotice({NoticeKind::People, clients_.size()}); }

std::string Room::ScoresNotice() const {
    Notice notice{NoticeKind::Scores};
    for (const SeatScore& score : anchorScores_) notice.values.insert(notice.values.end(), {score.kills, score.wins});
    return WriteNotice(notice);
}

std::string Room::SeatNotice(ClientId client) const {
    const auto found = clients_.find(client);
    if (found == clients_.end() || !found->second.mayPlay) return {};
    if (found->second.seatsFull) return WriteNotice({NoticeKind::Watching, std::uint64_t(MAX_SEATS)});
    const std::optional<int> seat = seats_.SeatOf(client);
    if (!seat) return {};
    return WriteNotice({.kind = NoticeKind::Seat, .value = std::uint64_t(*seat), .token = seats_.Token(*seat)});
}

std::string Room::RosterNotice() const {
    Notice notice{NoticeKind::Roster};
    for (const SeatPresence presence : Roster())
        notice.values.push_back(std::uint64_t(presence));
    return WriteNotice(notice);
}

}  // namespace kestrel
