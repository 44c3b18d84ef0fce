#include "game/Game.h"

#include <algorithm>

#include "game/FrameTick.h"
#include "input/Pointer.h"
#include "model/RecordHash.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::int16_t NO_SHIFT = 0;
constexpr std::int16_t NO_BUTTON = 0;

int CanvasSide(int side) { return std::clamp(side, 1, MAX_CANVAS_SIDE); }

// Played lines of a followed battle are let go in batches of at least this.
constexpr std::size_t PLAYED_STEPS_KEPT = 4096;

Canvas* CanvasFor(GameOutput output, PixelCanvas* picture, RecordingCanvas& callLog, BlankCanvas& blank) {
    switch (output) {
        case GameOutput::Picture: return picture;
        case GameOutput::Nothing: return &blank;
        case GameOutput::Calls:
        case GameOutput::CallsAndPicture: break;
    }
    return &callLog;
}

// What a recording may hold before its first tick and still describe the
// start rather than an event.
bool SetsTheStart(const RecordedStep& step) {
    return step.kind == Kind::Version || step.kind == Kind::Seed || step.kind == Kind::Size;
}

// The seats a join text starts with follow its record.
bool SeatsTheStart(const RecordedStep& step) { return step.kind == Kind::Seats || step.kind == Kind::As; }

}  // namespace

Game::Game(GameRandom random, GameOutput output, PixelFormat format)
    : random_(std::move(random)),
      picture_(output == GameOutput::Calls || output == GameOutput::Nothing
                   ? std::nullopt
                   : std::optional<PixelCanvas>(std::in_place, START_WIDTH, START_HEIGHT, 1, format)),
      callLog_(START_WIDTH, START_HEIGHT, output == GameOutput::CallsAndPicture ? &*picture_ : nullptr),
      blank_(START_WIDTH, START_HEIGHT, Strokes::Spared),
      canvas_(CanvasFor(output, picture_ ? &*picture_ : nullptr, callLog_, blank_)) {
    recording_.Start(random_.State(), size_.width, size_.height);
}

void Game::Tick() {
    if (ended_) return;
    if (!playback_) return RunTick();
    if (playback_->follow) {
        if (playback_->ticksAhead > 0) FollowTick();
        return;
    }
    --playback_->ticksLeft;
    RunTick();
    PlayEvents();
}

// A battle start inside the tick is noted before the tick: the state it
// took is what the next battle start of a replay must take.
void Game::RunTick() {
    const std::uint64_t reseeds = random_.Reseeds();
    FrameTick(field_, seats_, *canvas_, random_);
    if (random_.Reseeds() != reseeds) Record({.kind = Kind::Reseed, .number = random_.LastReseedState()});
    recording_.Tick();
    if (observer_) observer_({.kind = Kind::Ticks, .number = 1});
}

void Game::FollowTick() {
    --playback_->ticksAhead;
    --playback_->ticksLeft;
    RunTick();
    ++followedTick_;
    if (onFollowedTick_) onFollowedTick_(followedTick_);
    PlayEvents();
}

void Game::Record(const RecordedStep& step) {
    recording_.Step(step);
    if (observer_) observer_(step);
}

std::uint64_t Game::StateHash() const { return HashRecord(field_, random_.State()); }

void Game::SetSeats(int count) {
    if (count >= 1 && count <= MAX_SEATS) Apply({.kind = Kind::Seats, .number = std::uint64_t(count)});
}

void Game::ActAs(int seat) {
    if (IsSeat(seats_, seat)) Apply({.kind = Kind::As, .number = std::uint64_t(seat)});
}

void Game::JoinSeat(int seat) {
    if (IsSeat(seats_, seat)) Apply({.kind = Kind::Join, .number = std::uint64_t(seat)});
}

void Game::PointerDown(std::int16_t button, float x, float y) {
    if (ended_) return;
    const RecordedStep step{.kind = Kind::Down, .button = button, .x = x, .y = y};
    if (Intercepted(step)) return;
    if (playback_) HandOver();
    Apply(step);
}

void Game::PointerMove(float x, float y) {
    if (ended_) return;
    const RecordedStep step{.kind = Kind::Move, .x = x, .y = y};
    if (Intercepted(step)) return;
    if (!playback_) Apply(step);
}

void Game::PointerUp(std::int16_t button, float x, float y) {
    if (ended_) return;
    const RecordedStep step{.kind = Kind::Up, .button = button, .x = x, .y = y};
    if (Intercepted(step)) return;
    if (!playback_) Apply(step);
}

KeyAction Game::Key(std::uint16_t code) {
    if (ended_) return KeyAction::Quit;
    const RecordedStep step{.kind = Kind::Key, .number = code};
    // Esc takes this screen out of a followed battle; the battle goes on.
    if (interceptor_ && code == ESC_CODE) ended_ = true;
    else if (!Intercepted(step)) {
        if (playback_) HandOver();
        Apply(step);
    }
    return ended_ ? KeyAction::Quit : KeyAction::Continue;
}

bool Game::Intercepted(const RecordedStep& step) {
    if (!interceptor_) return false;
    interceptor_(step);
    return true;
}

void Game::Resize(int width, int height, double pixelRatio, int deviceWidth, int deviceHeight) {
    frontEndSize_ = Size{CanvasSide(width), CanvasSide(height), pixelRatio, deviceWidth, deviceHeight};
    if (!playback_) return SetSize(*frontEndSize_);
    // The recording keeps its size until the hand-over; the picture takes
    // the screen's density at once.
    if (pixelRatio != size_.pixelRatio) SetSize({size_.width, size_.height, pixelRatio, 0, 0});
}

void Game::SetSize(const Size& size) {
    const bool resized = size.width != size_.width || size.height != size_.height;
    size_ = size;
    callLog_.Resize(float(size.width), float(size.height));
    blank_.Resize(float(size.width), float(size.height));
    if (picture_) picture_->Resize(size.width, size.height, size.pixelRatio, size.deviceWidth, size.deviceHeight);
    if (resized) Record({.kind = Kind::Size, .width = size.width, .height = size.height});
}

std::vector<PixelRect> Game::TakeChanges() {
    return picture_ ? picture_->TakeDirtyRects() : std::vector<PixelRect>{};
}

// One event, from the front end or from a recording, and its line in the
// recording. A recording's runs of ticks are paced by the front end's timer
// instead.
void Game::Apply(const RecordedStep& step) {
    switch (step.kind) {
        case Kind::Version:
        case Kind::Ticks: return;
        case Kind::Seed: random_.SetState(step.number); break;
        // Noted again by the tick whose battle start takes it.
        case Kind::Reseed: return random_.QueueReseed(step.number);
        case Kind::Size: return SetSize({step.width, step.height, size_.pixelRatio, 0, 0});
        case Kind::Down: kestrel::PointerDown(field_, *canvas_, step.button, NO_SHIFT, step.x, step.y); break;
        case Kind::Move: kestrel::PointerMove(field_, *canvas_, NO_BUTTON, NO_SHIFT, step.x, step.y); break;
        case Kind::Up:
            kestrel::PointerUp(field_, *canvas_, step.button, NO_SHIFT, step.x, step.y, seats_.current);
            break;
        // A recording's reader has checked its seats against the count.
        case Kind::Seats: SetSeatCount(seats_, int(step.number)); break;
        case Kind::As:
            if (!IsSeat(seats_, int(step.number))) return;
            seats_.current = int(step.number);
            break;
        case Kind::Join:
            if (!IsSeat(seats_, int(step.number))) return;
            ClearSeatScore(seats_, int(step.number));
            break;
        case Kind::Key:
            ended_ = KeyPressed(field_, *canvas_, std::uint16_t(step.number)) == KeyAction::Quit;
            break;
    }
    Record(step);
}

std::optional<std::string> Game::PlayBack(std::string_view recording, const SeatScores& scores) {
    return Begin(recording, false, scores);
}

std::optional<std::string> Game::Follow(std::string_view joinText, std::uint64_t startTick,
                                        const SeatScores& scores) {
    const std::optional<std::string> refused = Begin(joinText, true, scores);
    if (!refused) followedTick_ = startTick;
    return refused;
}

std::optional<std::string> Game::Begin(std::string_view recording, bool follow, const SeatScores& scores) {
    if (ended_) return "the game has ended";
    Result<ReadRecording> read = ReadRecordingText(recording);
    if (!read) return read.Why();
    const GameRandom::Reseeding reseeding =
        playback_ ? playback_->reseeding : random_.HowReseeded();
    StartAfresh();
    // Replayed battles start from the states the recording noted, as in
    // the replay tool, until the hand-over.
    random_.SetReseeding(GameRandom::Reseeding::KeepState);
    playback_.emplace(Playback{.steps = std::move(read->steps), .reseeding = reseeding, .follow = follow});
    Playback& p = *playback_;
    for (; p.next < p.steps.size() && SetsTheStart(p.steps[p.next]); ++p.next) {
        const RecordedStep& step = p.steps[p.next];
        if (step.kind == Kind::Seed) random_.SetState(step.number);
        if (step.kind == Kind::Size) SetSize({step.width, step.height, size_.pixelRatio, 0, 0});
    }
    if (read->start) field_ = *read->start;
    for (; p.next < p.steps.size() && SeatsTheStart(p.steps[p.next]); ++p.next) {
        const RecordedStep& step = p.steps[p.next];
        if (step.kind == Kind::Seats) SetSeatCount(seats_, int(step.number));
        else seats_.current = int(step.number);
    }
    for (int k = 0; k < seats_.count; ++k) seats_.scores[k] = scores[k];
    seatsFed_ = read->seatCount;
    recording_.Start(random_.State(), size_.width, size_.height, read->start ? &field_ : nullptr, &seats_);
    for (std::size_t i = p.next; i < p.steps.size(); ++i)
        if (p.steps[i].kind == Kind::Ticks) p.ticksAhead += p.steps[i].number;
    PlayEvents();
    return std::nullopt;
}

std::optional<std::string> Game::Feed(std::string_view lines) {
    if (!Following()) return "no battle is being followed";
    Result<ReadRecording> read = ReadRecordingText(lines, seatsFed_);
    if (!read) return read.Why();
    if (read->start) return "a record belongs at the start of a battle, not in its course";
    seatsFed_ = read->seatCount;
    Playback& p = *playback_;
    if (p.next >= PLAYED_STEPS_KEPT) {
        p.steps.erase(p.steps.begin(), p.steps.begin() + std::ptrdiff_t(p.next));
        p.next = 0;
    }
    for (const RecordedStep& step : read->steps) {
        if (step.kind == Kind::Ticks) p.ticksAhead += step.number;
        p.steps.push_back(step);
    }
    PlayEvents();
    return std::nullopt;
}

// Applies the recording's events up to its next run of ticks; where it
// ends, or at an Esc, the battle is handed over instead. A followed
// battle waits for more where its lines end, and has no Esc in it.
void Game::PlayEvents() {
    Playback& p = *playback_;
    while (p.ticksLeft == 0) {
        if (p.next == p.steps.size()) {
            if (!p.follow) HandOver();
            return;
        }
        const RecordedStep& step = p.steps[p.next++];
        if (step.kind == Kind::Ticks) p.ticksLeft = step.number;
        else if (step.kind == Kind::Key && step.number == ESC_CODE) {
            if (!p.follow) return HandOver();
        } else Apply(step);
    }
}

void Game::HandOver() {
    random_.SetReseeding(playback_->reseeding);
    playback_.reset();
    if (frontEndSize_) SetSize(*frontEndSize_);
}

// A zeroed record and random state on a white canvas of the start size, as
// a replay starts.
void Game::StartAfresh() {
    field_ = {};
    seats_ = {};
    random_ = GameRandom(0, random_.HowReseeded());
    SetSize({START_WIDTH, START_HEIGHT, size_.pixelRatio, 0, 0});
    canvas_->ClearCanvas();
}

}  // namespace kestrel
