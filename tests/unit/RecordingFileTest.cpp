// The window's recording file: after every update it holds a recording the
// replay tool plays to the live game's record and picture; a kill between
// updates loses only the ticks since the last; it grows with events, not
// with ticks; Finish leaves exactly the recording.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/RecordingFile.h"
#include "game/Game.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"
#include "tests/Sanitizers.h"
#include "trace/TraceFormat.h"
#include "trace/TraceScript.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh directory for each test, removed after it.
class RecordingFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "kestrel-recording-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<RecordingFile> Create(const fs::path& path) {
        Result<std::unique_ptr<RecordingFile>> file = RecordingFile::Create(path.string());
        EXPECT_TRUE(file.Ok()) << file.Why();
        return file ? *std::move(file) : nullptr;
    }

    fs::path dir;
};

// What the live game shows at one moment.
struct Moment {
    std::string state;
    std::vector<std::uint8_t> pixels;
};

Moment Now(const Game& game) {
    const PixelCanvas& p = *game.Picture();
    return {FormatState(game.Field()), {p.Bytes(), p.Bytes() + p.BytesPerLine() * std::size_t(p.DeviceHeight())}};
}

// The recording in the file, replayed by the replay tool with `state`.
Moment Replayed(const std::string& recording) {
    std::ostringstream out, err;
    PixelCanvas picture(1, 1, 1);
    EXPECT_EQ(RunTraceScript(recording + "state\n", out, err, {}, &picture), TRACE_OK) << err.str();
    const std::string log = out.str();
    const std::size_t state = log.find("tank 0 ");
    EXPECT_NE(state, std::string::npos);
    return {log.substr(state == std::string::npos ? 0 : state),
            {picture.Bytes(), picture.Bytes() + picture.BytesPerLine() * std::size_t(picture.DeviceHeight())}};
}

void ExpectSame(const Moment& replayed, const Moment& live) {
    EXPECT_EQ(replayed.state, live.state);
    EXPECT_TRUE(replayed.pixels == live.pixels) << "the pictures differ";
}

// Live-like play on a game that reseeds from the clock at every battle
// start: ticks, a drag, an order, keys that start new battles, a resize.
void Play(Game& game, int step) {
    switch (step % 5) {
        case 0: game.Resize(600 - step, 450 + step); break;
        case 1:
            game.PointerDown(LEFT_BUTTON, 300, 280);
            game.PointerMove(320.5f, 300.25f);
            game.PointerUp(LEFT_BUTTON, 320.5f, 300.25f);
            break;
        case 2: game.PointerUp(RIGHT_BUTTON, 200, 250); break;
        case 3: game.Key('a'); break;
        default: break;  // ticks only
    }
    for (int i = 0; i < 60 + 7 * step; ++i) game.Tick();
}

// The file after each update replays to the game as it was then, with the
// padded tick line read as any other; a kill (no Finish) keeps the last.
TEST_F(RecordingFileTest, EveryUpdateIsARecordingAndAKillLosesOnlyTheTicksSince) {
    Game game(GameRandom(1234, GameRandom::Reseeding::FromClock));
    const fs::path path = dir / "battle.rec";
    auto file = Create(path);
    // Twice through the five kinds of step (once under the sanitizers).
    for (int step = 0; step < test::Cases(10, 5); ++step) {
        SCOPED_TRACE(step);
        Play(game, step);
        ASSERT_TRUE(file->Update(game.Recording()));
        const std::string text = ReadAll(path);
        EXPECT_EQ(text.size(), game.Recording().Written().size() + TICK_LINE_WIDTH);
        EXPECT_TRUE(text.starts_with(game.Recording().Written()));
        ExpectSame(Replayed(text), Now(game));
    }
    EXPECT_NE(game.Recording().Written().find("\nreseed "), std::string::npos) << "battles restarted";
    const Moment lastUpdate = Now(game);
    Play(game, 11);
    Play(game, 12);
    file.reset();  // killed: no Finish
    ExpectSame(Replayed(ReadAll(path)), lastUpdate);
}

// Ticks rewrite the last line in place; only events and battle starts make
// the file longer.
TEST_F(RecordingFileTest, GrowsWithEventsAndBattlesNotWithTicks) {
    Game game(GameRandom(99, GameRandom::Reseeding::FromClock));
    const fs::path path = dir / "long.rec";
    auto file = Create(path);
    int quietSeconds = 0;
    for (int second = 0; second < 200; ++second) {
        const auto size = fs::file_size(path);
        const std::uint64_t battles = game.RandomStream().Reseeds();
        for (int i = 0; i < 40; ++i) game.Tick();
        ASSERT_TRUE(file->Update(game.Recording()));
        if (game.RandomStream().Reseeds() != battles) continue;
        ++quietSeconds;
        ASSERT_EQ(fs::file_size(path), size) << second;
    }
    EXPECT_GT(quietSeconds, 100);
    EXPECT_EQ(ReadAll(path), game.Recording().Written() + PaddedTickLine(game.Recording().PendingTicks()));

    game.Key('a');
    ASSERT_TRUE(file->Update(game.Recording()));
    EXPECT_EQ(ReadAll(path), game.Recording().Written() + PaddedTickLine(0));
    EXPECT_TRUE(game.Recording().Written().ends_with("\nkey 97\n"));
}

// Finish leaves the recording as the game has it, padding and all gone,
// whether ticks are pending or an Esc ended it.
TEST_F(RecordingFileTest, FinishLeavesExactlyTheRecording) {
    for (const bool esc : {false, true}) {
        SCOPED_TRACE(esc);
        Game game(GameRandom(7, GameRandom::Reseeding::FromClock));
        const fs::path path = dir / "done.rec";
        auto file = Create(path);
        Play(game, 1);
        ASSERT_TRUE(file->Update(game.Recording()));
        Play(game, 4);
        if (esc) game.Key(ESC_CODE);
        ASSERT_TRUE(file->Finish(game.Recording()));
        const std::string text = ReadAll(path);
        EXPECT_EQ(text, game.Recording().Text());
        EXPECT_EQ(text.ends_with("\nkey 27\n"), esc);
        EXPECT_FALSE(file->Update(game.Recording())) << "finished";
        EXPECT_FALSE(file->Finish(game.Recording()));
        EXPECT_EQ(ReadAll(path), text);
    }
}

// A recorder that started anew (a playback began) is written from the top,
// and nothing of the longer text before it is left at the end; so is a
// session started over under a header.
TEST_F(RecordingFileTest, ARecorderStartedAnewIsWrittenFromTheTop) {
    Game game(GameRandom(5, GameRandom::Reseeding::FromClock));
    const fs::path path = dir / "anew.rec";
    auto file = Create(path);
    for (int step = 0; step < 6; ++step) Play(game, step);
    ASSERT_TRUE(file->Update(game.Recording()));
    const std::string before = ReadAll(path);

    Recorder fresh;
    fresh.Start(42, 300, 200);
    fresh.Tick();
    ASSERT_LT(fresh.Written().size(), before.size());
    ASSERT_TRUE(file->Update(fresh));
    EXPECT_EQ(ReadAll(path), fresh.Written() + PaddedTickLine(1));

    // A session that starts over under a header (a room joined again) is
    // written from the top too, though its text is longer than the last.
    const std::string header = "# joined 7\n";
    file->StartOver(header);
    ASSERT_TRUE(file->Update(game.Recording()));
    EXPECT_EQ(ReadAll(path), header + game.Recording().Written() + PaddedTickLine(game.Recording().PendingTicks()));
    game.Tick();
    game.Key('b');
    ASSERT_TRUE(file->Finish(game.Recording()));
    EXPECT_EQ(ReadAll(path), header + game.Recording().Text());
}

TEST(PaddedTickLine, OneWidthForEveryCountAndBlankForNone) {
    for (const std::uint64_t ticks : {std::uint64_t(0), std::uint64_t(1), std::uint64_t(12345),
                                      std::uint64_t(999'999'999'999), UINT64_MAX}) {
        const std::string line = PaddedTickLine(ticks);
        EXPECT_EQ(line.size(), TICK_LINE_WIDTH) << ticks;
        EXPECT_EQ(line.back(), '\n');
        const std::string trimmed = line.substr(0, line.find_last_not_of(" \n") + 1);
        EXPECT_EQ(trimmed, ticks == 0 ? "" : "tick " + std::to_string(ticks));
    }
    // The blank line is skipped, a count is read as the ticks it says.
    EXPECT_EQ(ReadRecordingText("seed 1\n" + PaddedTickLine(0))->steps.size(), 1u);
    const Result<ReadRecording> read = ReadRecordingText(PaddedTickLine(12345));
    ASSERT_TRUE(read.Ok()) << read.Why();
    ASSERT_EQ(read->steps.size(), 1u);
    EXPECT_EQ(read->steps[0].number, 12345u);
}

// Create empties a file that was there; the system's reason when it cannot
// write, at the start or on the way.
TEST_F(RecordingFileTest, ReasonsWhenTheFileCannotBeWritten) {
    const fs::path old = dir / "old.rec";
    std::ofstream(old) << "a much longer text that was in the file before it was recorded into\n";
    auto file = Create(old);
    EXPECT_EQ(ReadAll(old), "");

    const auto refusal = [](const std::string& path) {
        const Result<std::unique_ptr<RecordingFile>> file = RecordingFile::Create(path);
        return file ? std::string("none") : file.Why();
    };
    EXPECT_EQ(refusal((dir / "no" / "such.rec").string()), "No such file or directory");
    EXPECT_EQ(refusal(dir.string()), "Is a directory");
    EXPECT_FALSE(fs::exists(dir / "no"));
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(refusal(pipe.string()), "No such device or address") << "refused, not waited for";
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_EQ(refusal("/dev/fd/" + std::to_string(ends[1])), "not a file that can be rewritten in place (Illegal seek)");
    ::close(ends[0]);
    ::close(ends[1]);

    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    auto full = Create("/dev/full");
    ASSERT_TRUE(full);
    Recorder recorder;
    recorder.Start(1, 696, 548);
    EXPECT_FALSE(full->Update(recorder));
    EXPECT_EQ(full->Error(), "No space left on device");
    EXPECT_FALSE(full->Finish(recorder));
    EXPECT_EQ(full->Error(), "No space left on device");
}

}  // namespace
}  // namespace kestrel
