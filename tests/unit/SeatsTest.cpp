// A live room's seats as the replay tool runs them: each seat's colour, a
// battle with a tank for every seat, a left release ordering the current
// seat's tank, and the kills and wins the `score` lines print.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "trace/TraceScript.h"

namespace kestrel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Trace(const std::string& script) {
    std::ostringstream out, err;
    EXPECT_EQ(RunTraceScript(script, out, err), TRACE_OK) << err.str();
    return out.str();
}

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& start) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.starts_with(start)) found.push_back(line);
    return found;
}

// The token at `index` of a `tank` line (1 is the slot).
std::string TankField(const std::string& state, int slot, int index) {
    for (const std::string& line : Starting(Lines(state), "tank " + std::to_string(slot) + " ")) {
        std::istringstream in(line);
        std::string token;
        for (int i = 0; i <= index; ++i) in >> token;
        return token;
    }
    return "";
}
constexpr int HITS = 6, TARGET = 8;

// A line's drawing with its colour left off.
std::string Shape(const std::string& line, const std::string& colour) {
    return line.substr(0, line.size() - colour.size());
}

// Slots 1 and 2 of three seats are drawn once more in their seats'
// colours, right after their black glyph; slot 3 has no seat.
TEST(Seats, EachSeatsTankIsDrawnInItsColourRightAfterItsBlackImage) {
    std::string script = "seats 3\n";
    for (int s = 0; s <= 3; ++s)
        script += "set tankHits " + std::to_string(s) + " 2\nset tankX " + std::to_string(s) + " " +
                  std::to_string(100 + 120 * s) + "\nset tankY " + std::to_string(s) + " 200\n";
    const std::vector<std::string> lines = Lines(Trace(script + "tick\n"));
    const auto drawnIn = [&](const std::string& colour) {
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].ends_with(colour)) at.push_back(i);
        return at;
    };
    for (const std::string colour : {" 213 94 0", " 0 158 115"}) {
        SCOPED_TRACE(colour);
        const std::vector<std::size_t> at = drawnIn(colour);
        ASSERT_EQ(at.size(), 11u) << "one glyph";
        for (std::size_t i = 0; i < at.size(); ++i) {
            EXPECT_EQ(at[i], at[0] + i);
            const std::string& black = lines[at[i] - at.size()];
            ASSERT_TRUE(black.ends_with(" 0 0 0")) << black;
            EXPECT_EQ(Shape(black, " 0 0 0"), Shape(lines[at[i]], colour));
        }
    }
    EXPECT_TRUE(drawnIn(" 204 121 167").empty());
    EXPECT_EQ(drawnIn(" 0 0 150").size(), 11u) << "seat 0 keeps the player's blue";
}

// n = Int(0 * 0 * 50 + 1) = 1: raised to 5 for six seats, left for two.
TEST(Seats, ABattleHasATankForEverySeat) {
    const std::string six = Trace("seats 6\nrnd 0 0\nstart\nstate\n");
    for (int s = 0; s <= 5; ++s) EXPECT_EQ(TankField(six, s, HITS), "2") << s;
    EXPECT_EQ(TankField(six, 6, HITS), "0");
    const std::string two = Trace("seats 2\nrnd 0 0\nstart\nstate\n");
    EXPECT_EQ(TankField(two, 1, HITS), "2");
    EXPECT_EQ(TankField(two, 2, HITS), "0");
}

// Tank 3 stands at (200, 300), under the pointer at (205, 287).
TEST(Seats, ALeftReleaseOrdersTheCurrentSeatsTankAndRightReleasesEveryTank) {
    const std::string place = "set tankHits 3 2\nset tankX 3 200\nset tankY 3 300\nset tankTarget 0 7\n";
    const std::string second = Trace("seats 2\n" + place + "as 1\nup 1 205 287\nstate\n");
    EXPECT_EQ(TankField(second, 1, TARGET), "3");
    EXPECT_EQ(TankField(second, 0, TARGET), "7");
    // Past the seats' number the current seat is 0 again.
    const std::string back = Trace("seats 3\n" + place + "as 2\nseats 2\nup 1 205 287\nstate\n");
    EXPECT_EQ(TankField(back, 0, TARGET), "3");
    EXPECT_EQ(TankField(back, 2, TARGET), "0");
    const std::string right = Trace("seats 2\n" + place + "as 1\nup 2 205 287\nstate\n");
    EXPECT_EQ(TankField(right, 0, TARGET), "3");
    EXPECT_EQ(TankField(right, 4, TARGET), "3");
}

// Slot 1's shell bursts at (300, 300): tank 2 loses its last hit point (a
// kill), tank 4 one of two (none), and tank 1 its own last (none). Slot 5's
// shell, with no seat, kills tank 6 for nobody.
TEST(Seats, KillsWinsJoinsAndSeatsAreCountedAsTheRulesSay) {
    const std::string burst =
        "set shellTimer 1 1\nset shellX 1 300\nset shellY 1 300\n"
        "set tankHits 1 1\nset tankX 1 305\nset tankY 1 300\n"
        "set tankHits 2 1\nset tankX 2 300\nset tankY 2 310\n"
        "set tankHits 4 2\nset tankX 4 290\nset tankY 4 300\n"
        "shell 1\n"
        "set shellTimer 5 1\nset shellX 5 100\nset shellY 5 100\n"
        "set tankHits 6 1\nset tankX 6 100\nset tankY 6 100\n"
        "shell 5\n";
    EXPECT_EQ(Starting(Lines(Trace("seats 3\n" + burst + "score\n")), "score"),
              (std::vector<std::string>{"score 0 0 0", "score 1 1 0", "score 2 0 0"}));
    EXPECT_EQ(Starting(Lines(Trace(burst + "score\n")), "score"), std::vector<std::string>{"score 0 0 0"});

    // Tank 1 alone at rest: a right release sends every tank after it, so
    // it never has a target and the battle ends in this tick, a win for
    // seat 1. A key then wipes the field: the next battle is no one's.
    const std::string lone = "set tankHits 4 0\nset tankHits 1 2\nset tankX 1 300\nset tankY 1 200\nup 2 300 237\nrnd 0\ntick\n";
    EXPECT_EQ(Starting(Lines(Trace("seats 3\n" + burst + lone + "key 32\ntick\nscore\n")), "score"),
              (std::vector<std::string>{"score 0 0 0", "score 1 1 1", "score 2 0 0"}));
    // A join zeroes its seat; a fall in seats keeps those below it, and the
    // seat added back starts again.
    EXPECT_EQ(Starting(Lines(Trace("seats 3\n" + burst + lone + "join 1\nscore\n")), "score")[1], "score 1 0 0");
    EXPECT_EQ(Starting(Lines(Trace("seats 3\n" + burst + lone + "seats 2\nscore\nseats 1\nseats 2\nscore\n")), "score"),
              (std::vector<std::string>{"score 0 0 0", "score 1 1 1", "score 0 0 0", "score 1 0 0"}));
}

// Bad lines that depend on the seats so far (the rest are in the golden table).
TEST(Seats, ASeatNotBelowTheSeatsNumberIsABadLine) {
    for (const std::string script : {"seats 2\nas 3\n", "seats 3\nseats 2\njoin 2\n"}) {
        std::ostringstream out, err;
        EXPECT_EQ(RunTraceScript(script, out, err), TRACE_BAD_SCRIPT);
        EXPECT_NE(err.str().find("is out of range 0..1"), std::string::npos) << err.str();
    }
}

}  // namespace
}  // namespace kestrel
