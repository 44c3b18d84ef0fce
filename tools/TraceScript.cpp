#include "tools/TraceScript.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "behaviour/DriveTank.h"
#include "behaviour/PlanTank.h"
#include "model/BattlefieldFields.h"
#include "game/FrameTick.h"
#include "game/Game.h"
#include "gunnery/UpdateShell.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"
#include "render/RecordingCanvas.h"
#include "render/TankGlyph.h"
#include "tools/PngFile.h"
#include "tools/ScriptNumbers.h"
#include "tools/TraceFormat.h"

namespace kestrel {
namespace {

constexpr long long MAX_CANVAS_SIDE = 16384;

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Tokens = std::vector<std::string_view>;

Tokens Split(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    Tokens tokens;
    constexpr std::string_view SEPARATORS = " \t\r";
    std::size_t at = line.find_first_not_of(SEPARATORS);
    while (at != std::string_view::npos) {
        const std::size_t end = line.find_first_of(SEPARATORS, at);
        tokens.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
        at = end == std::string_view::npos ? end : line.find_first_not_of(SEPARATORS, end);
    }
    return tokens;
}

[[noreturn]] void Fail(const std::string& reason) { throw ScriptError(reason); }

std::string Quoted(std::string_view token) { return "'" + std::string(token) + "'"; }

template <typename T>
T ParseWhole(std::string_view token, T lo, T hi, std::string_view what) {
    // Parsed wide, so that any whole number out of the field's range is
    // reported as such, with the range.
    using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
    const std::string range = " is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
    std::string_view digits = token;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (std::is_unsigned_v<T> && negative) digits.remove_prefix(1);
    Wide value{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::invalid_argument || end != digits.data() + digits.size())
        Fail(std::string(what) + " " + Quoted(token) + " is not a whole number");
    if (ec == std::errc::result_out_of_range || (std::is_unsigned_v<T> && negative && value != 0) ||
        value < Wide(lo) || value > Wide(hi))
        Fail(std::string(what) + " " + Quoted(token) + range);
    return T(value);
}

double ParseReal(std::string_view token, std::string_view what) {
    const std::optional<double> value = ReadReal(token);
    if (!value) Fail(std::string(what) + " " + Quoted(token) + " is not a finite number");
    return *value;
}

float ParseSingle(std::string_view token, std::string_view what) {
    const float value = static_cast<float>(ParseReal(token, what));
    if (!std::isfinite(value))
        Fail(std::string(what) + " " + Quoted(token) + " is out of single-precision range");
    return value;
}

std::int16_t ParseInt16(std::string_view token, std::string_view what) {
    return ParseWhole<std::int16_t>(token, INT16_MIN, INT16_MAX, what);
}

Slot ParseSlot(std::string_view token) { return ParseWhole<Slot>(token, 0, LAST_SLOT, "slot"); }

void ExpectArgs(const Tokens& tokens, std::size_t least, std::size_t most) {
    const std::size_t given = tokens.size() - 1;
    if (given < least || given > most) {
        std::string expected = std::to_string(least);
        if (most != least) expected += most == SIZE_MAX ? " or more" : ".." + std::to_string(most);
        Fail(Quoted(tokens[0]) + " takes " + expected + " argument" + (most == 1 && least == 1 ? "" : "s") +
             ", got " + std::to_string(given));
    }
}

enum class Flow { Continue, Stop };

class TraceSession {
public:
    TraceSession(bool keepPicture, std::ostream& out, const TraceLimits& limits)
        : game_(std::make_unique<ReplayRandom>(),
                keepPicture ? GameOutput::CallsAndPicture : GameOutput::Calls),
          random_(static_cast<ReplayRandom&>(game_.RandomStream())),
          bf_(game_.Field()),
          canvas_(game_.DrawingCanvas()),
          out_(out),
          limits_(limits) {}

    Flow Run(const Tokens& t);
    const PixelCanvas* Picture() const { return game_.Picture(); }

private:
    void Flush();
    Flow Tick(const Tokens& t);
    void Size(const Tokens& t);
    void Queue(const Tokens& t);
    void Set(const Tokens& t);
    void DrawTankCommand(const Tokens& t);
    void Snap(const Tokens& t);
    void Pointer(const Tokens& t);
    Flow Key(const Tokens& t);

    void RunStep(const Tokens& t, auto step) {
        ExpectArgs(t, 1, 1);
        bf_.currentTank = ParseSlot(t[1]);
        step();
        Flush();
    }

    Game game_;
    ReplayRandom& random_;  // the game's, which it was given
    Battlefield& bf_;
    Canvas& canvas_;
    std::ostream& out_;
    TraceLimits limits_;
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

Flow TraceSession::Tick(const Tokens& t) {
    ExpectArgs(t, 0, 1);
    const long long count =
        t.size() == 2 ? ParseWhole<long long>(t[1], 1, std::numeric_limits<long long>::max(), "count") : 1;
    for (long long i = 0; i < count; ++i) {
        if (limits_.maxTicks >= 0 && ticksRun_ >= limits_.maxTicks) return Flow::Stop;
        out_ << "tick " << ++ticksRun_ << '\n';
        game_.Tick();
        Flush();
    }
    return Flow::Continue;
}

void TraceSession::Size(const Tokens& t) {
    ExpectArgs(t, 2, 2);
    const auto width = ParseWhole<long long>(t[1], 1, MAX_CANVAS_SIDE, "width");
    const auto height = ParseWhole<long long>(t[2], 1, MAX_CANVAS_SIDE, "height");
    game_.Resize(int(width), int(height));
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

// A value for a field of the given kind. Errors call it "value", but a slot
// "slot" and a flag by its field's name.
template <FieldKind KIND>
auto ParseValue(std::string_view token, std::string_view name) {
    if constexpr (KIND == FieldKind::Real) return ParseReal(token, "value");
    else if constexpr (KIND == FieldKind::Single) return ParseSingle(token, "value");
    else if constexpr (KIND == FieldKind::Int16) return ParseInt16(token, "value");
    else if constexpr (KIND == FieldKind::Slot) return ParseSlot(token);
    else return ParseWhole<int>(token, -1, 0, name) == -1;  // a flag: -1 set, 0 clear
}

// `set FIELD SLOT VALUE` for a per-slot field, `set FIELD VALUE` for any other.
void TraceSession::Set(const Tokens& t) {
    if (t.size() < 2) ExpectArgs(t, 2, 3);
    bool known = false;
    ForEachField([&](auto field) {
        if (known || field.name != t[1]) return;
        known = true;
        const std::size_t args = field.PER_SLOT ? 3 : 2;
        ExpectArgs(t, args, args);
        const Slot slot = field.PER_SLOT ? ParseSlot(t[2]) : Slot(0);
        field.At(bf_, slot) = ParseValue<field.KIND>(t[args], field.name);
    });
    if (!known) Fail("unknown field " + Quoted(t[1]));
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
    if (!Picture() || !SavePng(*Picture(), std::string(t[1])))
        Fail("cannot write the picture to " + Quoted(t[1]));
}

// `down B X Y`, `move X Y` and `up B X Y`.
void TraceSession::Pointer(const Tokens& t) {
    const std::string_view command = t[0];
    const bool hasButton = command != "move";
    ExpectArgs(t, hasButton ? 3 : 2, hasButton ? 3 : 2);
    const std::size_t at = hasButton ? 2 : 1;
    const std::int16_t button = hasButton ? ParseInt16(t[1], "button") : std::int16_t(0);
    const float x = ParseSingle(t[at], "x");
    const float y = ParseSingle(t[at + 1], "y");
    if (command == "down") game_.PointerDown(button, x, y);
    else if (command == "up") game_.PointerUp(button, x, y);
    else game_.PointerMove(x, y);
    Flush();
}

Flow TraceSession::Key(const Tokens& t) {
    ExpectArgs(t, 1, 1);
    const auto code = ParseWhole<std::uint16_t>(t[1], 0, UINT16_MAX, "character code");
    if (game_.Key(code) == KeyAction::Quit) {
        out_ << "exit\n";
        return Flow::Stop;
    }
    Flush();
    return Flow::Continue;
}

Flow TraceSession::Run(const Tokens& t) {
    const std::string_view command = t[0];
    if (command == "tick") return Tick(t);
    if (command == "key") return Key(t);
    if (command == "seed") {
        ExpectArgs(t, 1, 1);
        random_.SetState(ParseWhole<std::uint64_t>(t[1], 0, UINT64_MAX, "seed"));
    } else if (command == "rnd") {
        Queue(t);
    } else if (command == "size") {
        Size(t);
    } else if (command == "start") {
        ExpectArgs(t, 0, 0);
        StartBattle(bf_, canvas_, random_);
        Flush();
    } else if (command == "plan") {
        RunStep(t, [&] { PlanTank(bf_, random_); });
    } else if (command == "drive") {
        RunStep(t, [&] { DriveTank(bf_, canvas_); });
    } else if (command == "shell") {
        RunStep(t, [&] { UpdateShell(bf_, canvas_, random_); });
    } else if (command == "drawtank") {
        DrawTankCommand(t);
    } else if (command == "down" || command == "move" || command == "up") {
        Pointer(t);
    } else if (command == "set") {
        Set(t);
    } else if (command == "state") {
        ExpectArgs(t, 0, 0);
        out_ << FormatState(bf_);
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
    std::size_t at = 0;
    while (at <= script.size()) {
        std::size_t end = script.find('\n', at);
        if (end == std::string_view::npos) end = script.size();
        const Tokens tokens = Split(script.substr(at, end - at));
        if (!tokens.empty() && tokens[0] == "snap") return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

int RunTraceScript(std::string_view script, std::ostream& out, std::ostream& err,
                   const TraceLimits& limits, PixelCanvas* finalPicture) {
    TraceSession session(finalPicture || TakesSnapshots(script), out, limits);
    const auto keepPicture = [&] {
        if (finalPicture && session.Picture()) *finalPicture = *session.Picture();
    };
    std::size_t at = 0;
    for (long long lineNo = 1; at < script.size(); ++lineNo) {
        std::size_t end = script.find('\n', at);
        if (end == std::string_view::npos) end = script.size();
        const Tokens tokens = Split(script.substr(at, end - at));
        at = end + 1;
        if (tokens.empty()) continue;
        try {
            if (session.Run(tokens) == Flow::Stop) break;
        } catch (const ScriptError& error) {
            out.flush();
            err << "kestrel-trace: line " << lineNo << ": " << error.what() << '\n';
            keepPicture();
            return TRACE_BAD_SCRIPT;
        }
    }
    out.flush();
    keepPicture();
    return TRACE_OK;
}

}  // namespace kestrel
