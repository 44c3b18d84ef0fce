// A screen's lines in its room: hashes checked against the room's own,
// Esc as the screen's leave, and each player's events applied as its
// seat's, one hand at a time, at most so many lines a room second.

#include "game/Room.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

std::string TooFast() {
    return "more than " + std::to_string(MAX_CLIENT_LINES_PER_SECOND) + " lines a second";
}

}  // namespace

FrameReceipt Room::Receive(ClientId id, std::string_view frame) {
    FrameReceipt receipt;
    const auto found = clients_.find(id);
    if (found == clients_.end()) return receipt;
    Client& client = found->second;
    const Result<ClientMessage> read = ReadClientMessage(frame, client.mayPlay);
    if (!read) {
        receipt.refusal = read.Why();
        return receipt;
    }
    const ClientMessage& message = *read;
    if (!CountLines(client, message.lines.size())) {
        receipt.refusal = TooFast();
        return receipt;
    }
    for (const ClientLine& line : message.lines) {
        if (line.isHash) {
            const std::optional<std::uint64_t> ours = HashAt(line.tick);
            hashesChecked_ += ours.has_value();
            if (ours && *ours != line.hash) {
                ++mismatches_;
                receipt.mismatchAt = line.tick;
            }
        } else if (line.step.kind == Kind::Key && line.step.number == ESC_CODE) {
            // Esc ends the game on that screen alone: the screen leaves.
            receipt.leaves = true;
            return receipt;
        } else {
            Apply(id, line.step);
        }
    }
    return receipt;
}

// One hand on the field: the first down claims the pointer, and only its
// holder moves and releases it. Each event goes in as its player's seat's;
// a player the seats were full for watches, and its events are let go.
void Room::Apply(ClientId client, const RecordedStep& step) {
    const std::optional<int> seat = seats_.SeatOf(client);
    if (!seat) return;
    const bool holds = claim_ && claim_->holder == client;
    switch (step.kind) {
    case Kind::Down:
        if (claim_) return;
        claim_ = Claim{client, seat, step.button, step.x, step.y};
        ActFor(seat);
        game_.PointerDown(step.button, step.x, step.y);
        return;
    case Kind::Move:
        if (!holds) return;
        claim_->x = step.x, claim_->y = step.y;
        ActFor(seat);
        game_.PointerMove(step.x, step.y);
        return;
    case Kind::Up:
        if (!holds || step.button != claim_->button) return;
        claim_.reset();
        ActFor(seat);
        game_.PointerUp(step.button, step.x, step.y);
        return;
    case Kind::Key:
        ActFor(seat);
        (void)game_.Key(std::uint16_t(step.number));
        return;
    default:
        return;  // the reader lets no other step through
    }
}

// Lines are counted per room second, so the limit follows the battle's
// clock, not the machine's.
bool Room::CountLines(Client& client, std::size_t lines) {
    const std::uint64_t window = ticks_ / LIVE_TICKS_PER_SECOND;
    if (window != client.window) client.window = window, client.lines = 0;
    if (lines > std::size_t(MAX_CLIENT_LINES_PER_SECOND - client.lines)) return false;
    client.lines += int(lines);
    return true;
}

}  // namespace kestrel
