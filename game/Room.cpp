#include "game/Room.h"

#include <algorithm>
#include <iterator>


namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

// The hand of a recording played back: no screen's (screens count from 1).
constexpr ClientId NOBODY = 0;

// The steps that set where a recording starts, before its first event.
bool SetsTheStart(Kind kind) { return kind == Kind::Version || kind == Kind::Seed || kind == Kind::Size; }

// The ticks a recording's steps run, counted up to one past `most`.
std::uint64_t TicksIn(const std::vector<RecordedStep>& steps, std::uint64_t most) {
    const std::uint64_t cap = most + (most < UINT64_MAX);
    std::uint64_t ticks = 0;
    for (const RecordedStep& step : steps)
        if (step.kind == Kind::Ticks) ticks = std::min(cap, ticks + std::min(step.number, cap));
    return ticks;
}

}  // namespace

std::optional<std::string> CheckStartRecording(std::string_view recording) {
    const Result<ReadRecording> read = ReadRecordingText(recording);
    if (!read) return read.Why();
    if (TicksIn(read->steps, MAX_START_TICKS) > MAX_START_TICKS)
        return "a room starts from a recording of at most " + std::to_string(MAX_START_TICKS) + " ticks";
    Game probe(GameRandom(), GameOutput::Nothing);
    return probe.PlayBack(recording);
}

// A checkpoint's join text reaches its tick and plays to its hash, as the
// room that took it.
std::optional<std::string> CheckCheckpoint(const RoomCheckpoint& checkpoint) {
    const Result<ReadRecording> read = ReadRecordingText(checkpoint.joinText);
    if (!read) return "its join text does not read as a recording: " + read.Why();
    if (checkpoint.joinTick >= checkpoint.tick ||
        TicksIn(read->steps, checkpoint.tick - checkpoint.joinTick) != checkpoint.tick - checkpoint.joinTick)
        return "its join text does not run from its join tick to its tick";
    Game probe(GameRandom(), GameOutput::Nothing);
    if (std::optional<std::string> refused = probe.PlayBack(checkpoint.joinText)) return refused;
    while (probe.PlayingBack()) probe.Tick();
    if (probe.StateHash() != checkpoint.stateHash) return "its replay does not reach its state hash";
    return std::nullopt;
}

Room::Room(GameRandom random, const RoomStart& start, std::unique_ptr<RecordingSink> sink,
           std::size_t maxJoinHistory)
    : game_(std::move(random), GameOutput::Nothing), sink_(std::move(sink)), maxJoinHistory_(maxJoinHistory),
      checkpointEvery_(std::max<std::uint64_t>(start.checkpointTicks, 1)) {
    if (start.checkpoint) GoOnFrom(*start.checkpoint, start.recording);
    else if (start.recording.empty()) game_.Resize(start.width, start.height);
    else (void)game_.PlayBack(start.recording);
    game_.Observe([this](const RecordedStep& step) { Observed(step); });
    if (!start.checkpoint) Anchor();
    // A kept battle is played through at once: the room goes on from its end.
    replaying_ = true;
    while (game_.PlayingBack()) Tick();
    replaying_ = false;
    const bool kept = start.resumed && (start.checkpoint || !start.recording.empty());
    if (kept) {
        (void)game_.TakeRecordedText();  // the sink holds it
        recordedBytes_ = (start.checkpoint ? start.checkpoint->recordingBytes : 0) + start.recording.size();
        keptTicks_ = ticks_;
    } else {
        Flush();
    }
    // A room made from a recording keeps its first checkpoint at its first
    // room second, so that a restart does not play its start again.
    const bool madeFromRecording = !start.resumed && !start.recording.empty();
    nextCheckpoint_ = ticks_ + (madeFromRecording ? 0 : checkpointEvery_);
    // Nobody holds the pointer the recording left pressed: it is let go.
    if (claim_) ReleaseClaim();
}

// The room as it stood at the checkpoint's join tick: anchored at its join
// text's head, the events a playback applies before the first tick taken
// as its first frame's (the room observes from that tick on), and the
// pointer as it was held at the checkpoint's tick.
void Room::GoOnFrom(const RoomCheckpoint& checkpoint, const std::string& rest) {
    // CheckCheckpoint read it already.
    const Result<ReadRecording> read = ReadRecordingText(checkpoint.joinText);
    const ReadRecording join = read ? *read : ReadRecording{};
    (void)game_.PlayBack(checkpoint.joinText + rest, checkpoint.joinScores);
    ticks_ = checkpoint.joinTick;
    resumedHand_ = HandAt{checkpoint.tick, checkpoint.held};
    std::uint64_t state = 0;
    int width = START_WIDTH, height = START_HEIGHT;
    std::size_t i = 0;
    for (; i < join.steps.size() && SetsTheStart(join.steps[i].kind); ++i) {
        if (join.steps[i].kind == Kind::Seed) state = join.steps[i].number;
        if (join.steps[i].kind == Kind::Size) width = join.steps[i].width, height = join.steps[i].height;
    }
    StartHistory(state, width, height, join.start.value_or(Battlefield{}), Seats{.scores = checkpoint.joinScores},
                 ticks_);
    clearsSeen_ = game_.CanvasClears();
    for (; i < join.steps.size() && join.steps[i].kind != Kind::Ticks; ++i) {
        // A reseed is observed with the tick whose battle start takes it.
        if (join.steps[i].kind == Kind::Reseed) continue;
        frame_ += WriteStep(join.steps[i]);
        frameSteps_.push_back(join.steps[i]);
        FollowReplayedHand(join.steps[i]);
    }
}

void Room::TakeUpHand() {
    claim_.reset();
    if (const std::optional<HeldPointer>& held = resumedHand_->held)
        claim_ = Claim{NOBODY, std::nullopt, held->button, held->x, held->y};
    resumedHand_.reset();
}

Admission Room::Join(bool mayPlay, std::string_view seatToken, std::string freshToken) {
    const ClientId id = nextClient_++;
    Admission admission;
    admission.client = id;
    clients_[id] = Client{.mayPlay = mayPlay};
    if (!mayPlay) return admission;
    std::string refusedToken;
    const std::optional<RoomSeats::Given> taken = seats_.Take(id, seatToken, std::move(freshToken), refusedToken);
    if (!refusedToken.empty()) admission.refusedToken = std::move(refusedToken);
    if (!taken) {
        clients_[id].seatsFull = admission.seatsFull = true;
        return admission;
    }
    admission.seat = taken->seat;
    Seat(*taken);
    return admission;
}

// The referee writes the seats into the recording: their number when it
// grows, and a seat's scores starting again when it changes hands.
void Room::Seat(const RoomSeats::Given& taken) {
    rosterChanged_ = true;
    if (taken.returning) return;
    if (taken.seat >= game_.SeatRecord().count) game_.SetSeats(taken.seat + 1);
    else if (taken.hadPlayer) game_.JoinSeat(taken.seat);
}

void Room::Leave(ClientId client) {
    if (claim_ && claim_->holder == client) ReleaseClaim();
    if (seats_.SeatOf(client)) {
        seats_.Leave(client, ticks_);
        rosterChanged_ = true;
    }
    clients_.erase(client);
}

// Seats kept past their grace are free; once the highest are, the seats'
// number falls and their tanks lose their colours.
void Room::ExpireSeats() {
    if (!seats_.Expire(ticks_)) return;
    rosterChanged_ = true;
    const int needed = seats_.Needed();
    if (needed >= game_.SeatRecord().count) return;
    game_.SetSeats(needed);
    seats_.Forget(needed);
}

// The events that follow are `seat`'s, when they are a seat's.
void Room::ActFor(std::optional<int> seat) {
    if (seat && *seat != game_.SeatRecord().current) game_.ActAs(*seat);
}

// Released where the holder's pointer last was.
void Room::ReleaseClaim() {
    const Claim released = *claim_;
    claim_.reset();
    ActFor(released.seat);
    game_.PointerUp(released.button, released.x, released.y);
}

// A recording played back holds the pointer as a player would, with
// nobody's hand.
void Room::FollowReplayedHand(const RecordedStep& step) {
    if (step.kind == Kind::Down && !claim_) claim_ = Claim{NOBODY, std::nullopt, step.button, step.x, step.y};
    if (step.kind == Kind::Move && claim_) claim_->x = step.x, claim_->y = step.y;
    if (step.kind == Kind::Up && claim_ && step.button == claim_->button) claim_.reset();
}

// Every step the game records. A frame ends at its tick, whether its
// events came before the tick (live) or a playback applied them after the
// tick before: so a room played back keeps the frames, clean canvases and
// hashes it had live.
void Room::Observed(const RecordedStep& step) {
    frame_ += WriteStep(step);
    frameSteps_.push_back(step);
    if (replaying_) FollowReplayedHand(step);
    // A battle start's reseed is noted once its tick has run but goes
    // before it: the canvas that battle cleared is clean after the tick.
    if (step.kind == Kind::Reseed) return;
    const bool tick = step.kind == Kind::Ticks;
    ticks_ += tick;
    if (tick && resumedHand_ && ticks_ == resumedHand_->tick) TakeUpHand();
    NoteClear();
    if (tick) EndFrame();
}

const std::string& Room::Tick() {
    sent_.clear();
    // A seat freed goes in before the tick, as a screen's event would.
    if (!replaying_) ExpireSeats();
    game_.Tick();
    // The sink is never more than a room second behind: what a kill loses.
    if (!replaying_ && ticks_ % LIVE_TICKS_PER_SECOND == 0) {
        Flush();
        if (ticks_ >= nextCheckpoint_) KeepCheckpoint();
    }
    return sent_;
}

// Right after a flush, so that the checkpoint's bytes end the sink's last
// line. One whose join text has no tick yet waits a room second: a
// playback would apply the events that follow before the room observes
// them. A sink holding text back, or that lost it, keeps no checkpoint.
void Room::KeepCheckpoint() {
    if (sinkState_ != SinkState::Whole || anchorTick_ == ticks_) return;
    nextCheckpoint_ = ticks_ + checkpointEvery_;
    std::optional<HeldPointer> held;
    if (claim_) held = HeldPointer{claim_->button, claim_->x, claim_->y};
    sink_->KeepCheckpoint({.tick = ticks_, .recordingBytes = recordedBytes_, .joinTick = anchorTick_,
                           .joinText = JoinText(), .held = held, .stateHash = game_.StateHash(),
                           .joinScores = anchorScores_});
}

void Room::EndFrame() {
    // The frame joins the history at its tick, so that a screen joining
    // between ticks gets each event once: in the join text or in the next
    // frame. A join text starts at the frame's last clean canvas, if it
    // had one.
    std::size_t first = 0;
    if (cleanInFrame_) {
        const CleanCanvas& clean = *cleanInFrame_;
        StartHistory(clean.state, clean.width, clean.height, clean.record, clean.seats, clean.tick);
        first = clean.step;
        cleanInFrame_.reset();
    }
    for (std::size_t i = first; i < frameSteps_.size(); ++i) {
        if (frameSteps_[i].kind == Kind::Ticks) sinceClean_.Tick();
        else sinceClean_.Step(frameSteps_[i]);
    }
    if (ticks_ % HASH_EVERY_TICKS == 0) KeepHash();
    if (sinceClean_.Written().size() - anchorBytes_ > maxJoinHistory_ || ticks_ - anchorTick_ >= MAX_JOIN_HISTORY_TICKS)
        Anchor();
    sent_ = std::move(frame_);
    frame_.clear();
    frameSteps_.clear();
}

// Joins start here: the record as it stands, after the tick.
void Room::Anchor() {
    StartHistory(game_.RandomStream().State(), game_.Width(), game_.Height(), game_.Field(), game_.SeatRecord(),
                 ticks_);
    clearsSeen_ = game_.CanvasClears();
}

void Room::StartHistory(std::uint64_t state, int width, int height, const Battlefield& record, const Seats& seats,
                        std::uint64_t tick) {
    sinceClean_.Start(state, width, height, &record, &seats);
    anchorScores_ = seats.scores;
    anchorBytes_ = sinceClean_.Written().size();
    anchorTick_ = tick;
}

// The canvas was just cleared (a key wiped it, or a battle started on a
// clean one, the last thing a tick does): the record and the random state
// now are where a screen can start with a white picture.
void Room::NoteClear() {
    if (game_.CanvasClears() == clearsSeen_) return;
    clearsSeen_ = game_.CanvasClears();
    cleanInFrame_ = CleanCanvas{game_.Field(), game_.SeatRecord(), game_.RandomStream().State(), game_.Width(),
                                game_.Height(), frameSteps_.size(), ticks_};
}

void Room::KeepHash() {
    hashes_[(ticks_ / HASH_EVERY_TICKS) % HASH_RING_SIZE] = {ticks_, game_.StateHash(), true};
}

std::optional<std::uint64_t> Room::HashAt(std::uint64_t tick) const {
    if (tick % HASH_EVERY_TICKS != 0) return std::nullopt;
    const CheckedHash& kept = hashes_[(tick / HASH_EVERY_TICKS) % HASH_RING_SIZE];
    if (!kept.kept || kept.tick != tick) return std::nullopt;
    return kept.hash;
}

std::string Room::JoinText() const { return sinceClean_.Text(); }

// A sink that holds text back tries again at every flush, with nothing new
// if need be. Once it has lost text it is written no more, so that what it
// holds stays the recording up to its last whole write, with no gap in it;
// the text is still taken, so that memory does not grow.
void Room::Flush() {
    const std::string text = game_.TakeRecordedText();
    if (sinkState_ == SinkState::Lost || (text.empty() && sinkState_ == SinkState::Whole)) return;
    sinkState_ = sink_->Append(text);
    // Held back or written, the sink has it: a checkpoint counts its bytes
    // once the sink is whole again.
    if (sinkState_ != SinkState::Lost) recordedBytes_ += text.size();
    if (sinkState_ == SinkState::Whole) keptTicks_ = ticks_;
}

}  // namespace kestrel
