#include "game/LiveClient.h"

#include <utility>

#include "game/LiveWire.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

// Lines for a referee that nobody sends are dropped past this.
constexpr std::size_t MAX_OUTGOING_BYTES = 64 * 1024;

}  // namespace

bool GoesOutAtOnce(const RecordedStep& step) {
    return step.kind == Kind::Down || step.kind == Kind::Up || step.kind == Kind::Key;
}

LiveClient::~LiveClient() {
    game_.InterceptInput({});
    game_.OnFollowedTick({});
}

std::optional<std::string> LiveClient::Receive(std::string_view frame) {
    if (IsNotice(frame)) {
        const std::optional<Notice> notice = ReadNotice(frame);
        if (!notice) return std::nullopt;  // one this program does not know
        switch (notice->kind) {
            case NoticeKind::Joined: joinedAt_ = notice->value; break;
            case NoticeKind::People: people_ = notice->value; break;
            case NoticeKind::Mismatch: ++mismatches_, lastMismatchTick_ = notice->value; break;
            case NoticeKind::Seat:
                ownSeat_ = int(notice->value), seatToken_ = notice->token, seatsWereFull_ = false;
                break;
            case NoticeKind::Watching: ownSeat_.reset(), seatToken_.clear(), seatsWereFull_ = true; break;
            case NoticeKind::Scores: TakeScores(notice->values); break;
            case NoticeKind::Roster:
                roster_.clear();
                for (const std::uint64_t presence : notice->values) roster_.push_back(SeatPresence(presence));
                break;
        }
        return std::nullopt;
    }
    if (joinedAt_) {
        const std::uint64_t startTick = *joinedAt_;
        joinedAt_.reset();
        const std::optional<std::string> refused = game_.Follow(frame, startTick, joinScores_);
        joined_ = !refused;
        if (joined_) TakeTheGamesInput();
        return refused;
    }
    if (!joined_) return "the room sent its battle before saying where it starts";
    return game_.Feed(frame);
}

void LiveClient::TakeScores(const std::vector<std::uint64_t>& values) {
    joinScores_ = {};
    for (std::size_t k = 0; 2 * k + 1 < values.size(); ++k) joinScores_[k] = {values[2 * k], values[2 * k + 1]};
}

// From the first join on, the screen's events go to the referee, and its
// hashes with them.
void LiveClient::TakeTheGamesInput() {
    game_.InterceptInput([this](const RecordedStep& step) { Send(step); });
    game_.OnFollowedTick([this](std::uint64_t tick) { AfterFollowedTick(tick); });
}

void LiveClient::Tick() {
    if (!game_.Following()) return game_.Tick();
    for (std::uint64_t n = LiveTicksToRun(game_.TicksAhead()); n > 0; --n) game_.Tick();
}

// Once caught up, every so many of the referee's ticks the state's hash
// goes back to it, so that a screen that drifts is told.
void LiveClient::AfterFollowedTick(std::uint64_t tick) {
    if (tick % HASH_EVERY_TICKS != 0 || game_.TicksAhead() > LIVE_BUFFER_TICKS) return;
    outgoing_ += HashLine(tick, game_.StateHash());
    lastMoveAt_ = std::string::npos;  // a later move goes after the hash, never over it
}

// A move replaces a move not yet taken, so the referee gets at most one a
// tick; past the limit, events nobody takes are dropped.
void LiveClient::Send(const RecordedStep& step) {
    // A player the seats were full for watches.
    if (!mayPlay_ || seatsWereFull_) return;
    if (step.kind == Kind::Move && lastMoveAt_ != std::string::npos) outgoing_.resize(lastMoveAt_);
    const std::string line = WriteStep(step);
    if (outgoing_.size() + line.size() > MAX_OUTGOING_BYTES) return;
    lastMoveAt_ = step.kind == Kind::Move ? outgoing_.size() : std::string::npos;
    urgent_ = urgent_ || GoesOutAtOnce(step);
    outgoing_ += line;
}

// A move after this is a new one.
std::string LiveClient::TakeOutgoing() {
    lastMoveAt_ = std::string::npos;
    urgent_ = false;
    return std::exchange(outgoing_, {});
}

}  // namespace kestrel
