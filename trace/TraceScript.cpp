#include "trace/TraceScript.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "behaviour/DriveTank.h"
#include "behaviour/PlanTank.h"
#include "game/FrameTick.h"
#include "game/Game.h"
#include "game/Recording.h"
#include "gunnery/UpdateShell.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"
#include "render/RecordingCanvas.h"
#include "render/TankGlyph.h"
#include "trace/PngFile.h"
#include "script/RecordLines.h"
#include "script/ScriptLine.h"
#include "trace/TraceFormat.h"

namespace kestrel {
namespace {

enum class Flow { Continue, Stop };

class TraceSession {
public:
    TraceSession(bool keepPicture, std::ostream& out, const TraceLimits& limits, const SnapSaver& saveSnap)
        : game_(GameRandom(),
                keepPicture ? GameOutput::CallsAndPicture : GameOutput::Calls),
          random_(game_.RandomStream()),
          bf_(game_.Field()),
          seats_(game_.SeatField()),
          canvas_(game_.DrawingCanvas()),
          out_(out),
          limits_(limits),
          saveSnap_(saveSnap) {}

    Flow Run(const Tokens& t);
    const PixelCanvas* Picture() const { return game_.Picture(); }

private:
    void Flush();
    Flow Play(const RecordedStep& step);
    Flow Ticks(std::uint64_t count);
    void Queue(const Tokens& t);
    void DrawTankCommand(const Tokens& t);
    void Snap(const Tokens& t);

    void RunStep(const Tokens& t, auto step) {
        ExpectArgs(t, 1, 1);
        bf_.currentTank = ParseSlot(t[1]);
        step();
        Flush();
    }

    Game game_;
    GameRandom& random_;  // the game's
    Battlefield& bf_;
    Seats& seats_;  // the game's
    Canvas& canvas_;
    std::ostream& out_;
    TraceLimits limits_;
    const SnapSaver& saveSnap_;
    long long ticksRun_ = 0;
    std::string text_;
};

void TraceSession::Flush() {
    text_.clear();
    for (const CanvasCall& call : game_.Calls()) {
        text_ += FormatCall(call);
        text_ += '\n';
    }
    game_.ClearCalls();
    out_ << text_;
}

Flow TraceSession::Ticks(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        if (limits_.maxTicks >= 0 && ticksRun_ >= limits_.maxTicks) return Flow::Stop;
        out_ << "tick " << ++ticksRun_ << '\n';
        game_.Tick();
        Flush();
    }
    return Flow::Continue;
}

// The commands a recording holds, run as the game runs them live; Esc ends
// the run.
Flow TraceSession::Play(const RecordedStep& step) {
    using Kind = RecordedStep::Kind;
    switch (step.kind) {
        case Kind::Version: break;
        case Kind::Seed: random_.SetState(step.number); break;
        case Kind::Reseed: random_.QueueReseed(step.number); break;
        case Kind::Size: game_.Resize(step.width, step.height); break;
        case Kind::Ticks: return Ticks(step.number);
        case Kind::Down: game_.PointerDown(step.button, step.x, step.y); break;
        case Kind::Move: game_.PointerMove(step.x, step.y); break;
        case Kind::Up: game_.PointerUp(step.button, step.x, step.y); break;
        case Kind::Seats: game_.SetSeats(int(step.number)); break;
        case Kind::As: game_.ActAs(int(step.number)); break;
        case Kind::Join: game_.JoinSeat(int(step.number)); break;
        case Kind::Key:
            if (game_.Key(std::uint16_t(step.number)) == KeyAction::Quit) {
                out_ << "exit\n";
                return Flow::Stop;
            }
            break;
    }
    Flush();
    return Flow::Continue;
}

void TraceSession::Queue(const Tokens& t) {
    ExpectArgs(t, 1, SIZE_MAX);
    std::vector<float> values;
    for (std::size_t i = 1; i < t.size(); ++i) {
        const double v = ParseReal(t[i], "draw");
        // A value just below 1 may round up to 1 as a single; the stream
        // never yields 1, so such a value is refused too.
        if (v < 0 || v >= 1 || float(v) >= 1.0f)
            Fail("draw " + Quoted(t[i]) + " is not in [0, 1) as a single");
        values.push_back(float(v));
    }
    for (const float v : values) random_.Queue(v);
}

void TraceSession::DrawTankCommand(const Tokens& t) {
    ExpectArgs(t, 7, 7);
    const double x = ParseReal(t[1], "x");
    const double y = ParseReal(t[2], "y");
    const float heading = ParseSingle(t[3], "heading");
    const float turret = ParseSingle(t[4], "turret");
    const Colour colour{ParseWhole<std::uint8_t>(t[5], 0, 255, "red"),
                        ParseWhole<std::uint8_t>(t[6], 0, 255, "green"),
                        ParseWhole<std::uint8_t>(t[7], 0, 255, "blue")};
    DrawTank(canvas_, x, y, heading, turret, colour);
    Flush();
}

void TraceSession::Snap(const Tokens& t) {
    ExpectArgs(t, 1, 1);
    const std::string path(t[1]);
    if (!Picture() || !(saveSnap_ ? saveSnap_(*Picture(), path) : SavePng(*Picture(), path)))
        Fail("cannot write the picture to " + Quoted(t[1]));
}

Flow TraceSession::Run(const Tokens& t) {
    if (const std::optional<RecordedStep> step = ReadStep(t, seats_.count)) return Play(*step);
    const std::string_view command = t[0];
    if (command == "rnd") {
        Queue(t);
    } else if (command == "start") {
        ExpectArgs(t, 0, 0);
        StartBattle(bf_, canvas_, random_, seats_.count);
        Flush();
    } else if (command == "plan") {
        RunStep(t, [&] { PlanTank(bf_, random_); });
    } else if (command == "drive") {
        RunStep(t, [&] { DriveTank(bf_, canvas_); });
    } else if (command == "shell") {
        RunStep(t, [&] { UpdateShell(bf_, seats_, canvas_, random_); });
    } else if (command == "drawtank") {
        DrawTankCommand(t);
    } else if (command == "set") {
        ReadSetLine(bf_, t);
    } else if (command == "state") {
        ExpectArgs(t, 0, 0);
        out_ << FormatState(bf_);
    } else if (command == "score") {
        ExpectArgs(t, 0, 0);
        out_ << FormatScores(seats_);
    } else if (command == "snap") {
        Snap(t);
    } else {
        Fail("unknown command " + Quoted(command));
    }
    return Flow::Continue;
}

// The picture costs time on every call, so it is kept only for scripts that
// save it.
bool TakesSnapshots(std::string_view script) {
    bool snaps = false;
    ForEachCommand(script, [&snaps](long long, const Tokens& tokens) { return !(snaps = tokens[0] == "snap"); });
    return snaps;
}

}  // namespace

int RunTraceScript(std::string_view script, std::ostream& out, std::ostream& err,
                   const TraceLimits& limits, PixelCanvas* finalPicture, const SnapSaver& saveSnap) {
    TraceSession session(finalPicture || TakesSnapshots(script), out, limits, saveSnap);
    const auto keepPicture = [&] {
        if (finalPicture && session.Picture()) *finalPicture = *session.Picture();
    };
    int status = TRACE_OK;
    ForEachCommand(script, [&](long long lineNo, const Tokens& tokens) {
        try {
            return session.Run(tokens) == Flow::Continue;
        } catch (const ScriptError& error) {
            out.flush();
            err << "kestrel-trace: line " << lineNo << ": " << error.what() << '\n';
            status = TRACE_BAD_SCRIPT;
            return false;
        }
    });
    out.flush();
    keepPicture();
    return status;
}

}  // namespace kestrel
