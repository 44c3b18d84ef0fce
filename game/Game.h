#pragma once
// The game as every front end drives it: the window, the browser page, the
// replay tool and the soak driver. It owns the battle record, the random
// stream and the canvas, wires the timer, pointer and key events to the
// game's handlers, and hands out what changed on the picture. It writes
// down everything that reaches it, so any battle can be kept and played
// again, and it plays such a recording back at the pace of its ticks. A
// front end keeps only its platform's side: turning its events into these
// calls, and showing the picture.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/Recording.h"
#include "input/Keyboard.h"
#include "model/Battlefield.h"
#include "model/Random.h"
#include "model/Seats.h"
#include "render/BlankCanvas.h"
#include "render/PixelCanvas.h"
#include "render/RecordingCanvas.h"

namespace kestrel {

// The inner size a new game starts with, in canvas units.
inline constexpr int START_WIDTH = 696;
inline constexpr int START_HEIGHT = 548;
// The period of the timer that calls Tick.
inline constexpr int TICK_MS = 25;

// Where the drawing goes: into a picture to show, into a log of canvas calls
// (the replay tool prints it, the soak driver checks it), both, or nowhere
// (a referee that keeps the rules alone).
enum class GameOutput { Picture, Calls, CallsAndPicture, Nothing };

class Game {
public:
    // The picture's pixels are in the format the front end shows them in.
    explicit Game(GameRandom random, GameOutput output = GameOutput::Picture,
                  PixelFormat format = PixelFormat::RgbaBytes);
    // The canvas passes calls on to the picture it holds: not copied or moved.
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // One frame tick; nothing once the game has ended. While a recording
    // plays back, its events up to its next tick come first. While the game
    // follows a battle, the next tick that has come, if one has.
    void Tick();
    // Pointer events in canvas units, button codes as input/Controls.h's
    // ButtonCode gives them.
    // During a playback a press takes the battle over at once; moves and
    // releases are ignored.
    void PointerDown(std::int16_t button, float x, float y);
    void PointerMove(float x, float y);
    void PointerUp(std::int16_t button, float x, float y);
    // A key that yields a character. Esc ends the game: the front end should
    // stop its timer and close; later calls change nothing. During a
    // playback a key takes the battle over first.
    // While input is intercepted (InterceptInput), pointer events and keys
    // other than Esc go to the hook instead of into the battle.
    KeyAction Key(std::uint16_t code);
    bool Ended() const { return ended_; }

    // A new inner size (1 x 1 up to MAX_CANVAS_SIDE a side) and pixel ratio.
    // The picture keeps its overlapping part; see PixelCanvas::Resize for the
    // device size. During a playback the recording decides the size, and
    // the front end's is taken up when the battle is handed over.
    void Resize(int width, int height, double pixelRatio = 1, int deviceWidth = 0,
                int deviceHeight = 0);
    // The inner size in canvas units.
    int Width() const { return size_.width; }
    int Height() const { return size_.height; }

    // The picture, when the game keeps one, and rectangles covering the
    // device pixels that changed on it since the last call (none when
    // nothing did).
    const PixelCanvas* Picture() const { return picture_ ? &*picture_ : nullptr; }
    std::vector<PixelRect> TakeChanges();

    // The canvas calls made since the last ClearCalls, when the game logs them.
    const std::vector<CanvasCall>& Calls() const { return callLog_.Calls(); }
    void ClearCalls() { callLog_.ClearCalls(); }

    // Everything that has reached the game so far, as a recording.
    const Recorder& Recording() const { return recording_; }
    // The whole lines of the recording so far, handed out and forgotten,
    // with the ticks since the last line as a line of their own: a file kept
    // up to date to the tick (a room's, which a restart resumes), which does
    // not grow in memory however long the game runs.
    std::string TakeRecordedText() { return recording_.TakeText(); }
    // Called with every step the recording takes, as it takes it: each tick
    // as a run of one, a battle start's reseed before its tick.
    void Observe(std::function<void(const RecordedStep&)> observer) { observer_ = std::move(observer); }
    // While set (not empty), the front end's pointer events and keys, Esc
    // aside, are handed to `hook` as steps and not applied: a followed
    // battle takes its events from its referee alone.
    void InterceptInput(std::function<void(const RecordedStep&)> hook) { interceptor_ = std::move(hook); }

    // How often the canvas was cleared, counted when the game draws nothing
    // (GameOutput::Nothing); 0 otherwise.
    std::uint64_t CanvasClears() const { return blank_.Clears(); }
    // A fingerprint of the battle record and the random state.
    std::uint64_t StateHash() const;

    // Plays a recording back from a fresh battle field: its events and
    // ticks come one tick at a time, with the random states it noted, and
    // the battle is handed over (live, seeded from the clock again) at its
    // end, at an Esc in it, or at the user's first press or key. A bad
    // recording is refused as "line N: REASON", or with what is wrong with
    // it as a whole, and the game goes on as it was.
    // `scores` are the seats' where the recording starts (a room's join text).
    std::optional<std::string> PlayBack(std::string_view recording, const SeatScores& scores = {});
    bool PlayingBack() const { return playback_.has_value(); }

    // Follows a battle that a referee plays: `joinText` is its recording from
    // a clean canvas, at the referee's tick `startTick`, and Feed hands on
    // the lines that follow as they come. Each Tick plays one tick that has
    // come (the pace is the follower's: LiveClient), and the battle is never
    // handed over. Bad text is refused as PlayBack refuses it.
    // `scores` are the seats' at the join text's start.
    std::optional<std::string> Follow(std::string_view joinText, std::uint64_t startTick,
                                      const SeatScores& scores = {});
    std::optional<std::string> Feed(std::string_view lines);
    bool Following() const { return playback_ && playback_->follow; }
    // Ticks that have come and are not yet played.
    std::uint64_t TicksAhead() const { return Following() ? playback_->ticksAhead : 0; }
    // The referee's tick count the followed battle has reached.
    std::uint64_t FollowedTick() const { return followedTick_; }
    // Called after each followed tick, before the events that follow it,
    // with the referee's tick count it reached.
    void OnFollowedTick(std::function<void(std::uint64_t tick)> hook) { onFollowedTick_ = std::move(hook); }

    // A live room's players, which its referee sets: how many seats, whose
    // the events that follow are, and a seat given to a new player. Each is
    // recorded; a seat not below the count changes nothing.
    const Seats& SeatRecord() const { return seats_; }
    void SetSeats(int count);
    void ActAs(int seat);
    void JoinSeat(int seat);

    // For tools and tests that run single steps or set the record directly.
    Battlefield& Field() { return field_; }
    Seats& SeatField() { return seats_; }
    const Battlefield& Field() const { return field_; }
    Canvas& DrawingCanvas() { return *canvas_; }
    GameRandom& RandomStream() { return random_; }
    const GameRandom& RandomStream() const { return random_; }

private:
    struct Size {
        int width, height;
        double pixelRatio;
        int deviceWidth, deviceHeight;
    };
    struct Playback {
        std::vector<RecordedStep> steps;
        std::size_t next = 0;
        std::uint64_t ticksLeft = 0;  // of the run of ticks under way
        GameRandom::Reseeding reseeding{};  // the game's own, back at the hand-over
        bool follow = false;              // lines still to come; never handed over
        std::uint64_t ticksAhead = 0;     // come and not yet played, when following
    };

    void Record(const RecordedStep& step);
    void SetSize(const Size& size);
    void RunTick();
    void FollowTick();
    std::optional<std::string> Begin(std::string_view recording, bool follow, const SeatScores& scores);
    bool Intercepted(const RecordedStep& step);
    void Apply(const RecordedStep& step);
    void PlayEvents();
    void HandOver();
    void StartAfresh();

    Battlefield field_;
    Seats seats_;
    int seatsFed_ = 1;  // where the lines a followed battle was fed leave the seats
    GameRandom random_;
    std::optional<PixelCanvas> picture_;
    RecordingCanvas callLog_;
    BlankCanvas blank_;
    Canvas* canvas_;
    Size size_{START_WIDTH, START_HEIGHT, 1, 0, 0};
    std::optional<Size> frontEndSize_;  // the last the front end asked for
    bool ended_ = false;
    Recorder recording_;
    std::optional<Playback> playback_;
    std::function<void(const RecordedStep&)> observer_;
    std::function<void(const RecordedStep&)> interceptor_;
    std::function<void(std::uint64_t)> onFollowedTick_;
    std::uint64_t followedTick_ = 0;
};

}  // namespace kestrel
