// The window plays a recording back at its timer's pace, taking the
// recording's sizes, and hands the battle over where it ends or at the
// user's first press or key; it keeps its session in a file that is
// complete at Esc or when the window goes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/GameWindow.h"
#include "input/Keyboard.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

constexpr int SHRUNK_WIDTH = 500, SHRUNK_HEIGHT = 400;
constexpr int TICKS_BEFORE_RESIZE = 70, TICKS_AFTER_RESIZE = 90;

// A battle played live with a drag, an order, a new battle and a resize,
// its recording, and how it ended.
struct LiveBattle {
    LiveBattle() : game(GameRandom(4321, GameRandom::Reseeding::FromClock), GameOutput::Picture, PixelFormat::ArgbWords) {
        for (int i = 0; i < 30; ++i) game.Tick();
        game.PointerDown(LEFT_BUTTON, 300, 280);
        game.PointerMove(350, 300);
        game.PointerUp(LEFT_BUTTON, 350, 300);
        game.Key('a');
        for (int i = 0; i < TICKS_BEFORE_RESIZE - 30; ++i) game.Tick();
        game.Resize(SHRUNK_WIDTH, SHRUNK_HEIGHT);
        game.PointerUp(RIGHT_BUTTON, 200, 250);
        for (int i = 0; i < TICKS_AFTER_RESIZE; ++i) game.Tick();
        recording = game.Recording().Text();
    }
    int Ticks() const { return TICKS_BEFORE_RESIZE + TICKS_AFTER_RESIZE; }

    Game game;
    std::string recording;
};

QTimer* Tmr(GameWindow& w, const char* name) { return w.findChild<QTimer*>(QString::fromLatin1(name)); }

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool SamePixels(const PixelCanvas& a, const PixelCanvas& b) {
    const std::size_t size = a.BytesPerLine() * std::size_t(a.DeviceHeight());
    return a.DeviceWidth() == b.DeviceWidth() && a.DeviceHeight() == b.DeviceHeight() &&
           std::equal(a.Bytes(), a.Bytes() + size, b.Bytes());
}

// A shown window whose timer only the test ticks.
class Replay : public testing::Test {
protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "kestrel-replay-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir = name;
        w = std::make_unique<GameWindow>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        Tmr(*w, "tmr")->stop();
    }
    void TearDown() override {
        w.reset();
        fs::remove_all(dir);
    }
    bool PlayingBack() { return w->GameForTesting().PlayingBack(); }
    bool WindowIs(int width, int height) {
        return QTest::qWaitFor([&] { return w->size() == QSize(width, height); }, 2000);
    }
    // A size the platform has confirmed, so that its late answer cannot
    // undo a later resize.
    void ResizeAndSettle(int width, int height) {
        w->resize(width, height);
        QTest::qWait(100);
        ASSERT_TRUE(WindowIs(width, height));
    }

    LiveBattle live;
    fs::path dir;
    std::unique_ptr<GameWindow> w;
};

// Tick by tick the window replays the battle, at its sizes, and ends on the
// live game's record (and, at ratio 1, its picture); then it plays on live
// at the window's own size, seeded from the clock again.
TEST_F(Replay, PlaysTheRecordingAtItsSizesAndHandsOverWhereItEnds) {
    w->Tick();  // shown once at the start size before the window is resized
    ResizeAndSettle(640, 480);
    ASSERT_EQ(w->PlayBack(live.recording), std::nullopt);
    EXPECT_TRUE(PlayingBack());
    EXPECT_TRUE(WindowIs(START_WIDTH, START_HEIGHT)) << "the recording's start size, not " << w->width() << "x" << w->height();
    EXPECT_EQ(Tmr(*w, "tmr")->interval(), TICK_MS);
    for (int tick = 1; tick < live.Ticks(); ++tick) {
        w->Tick();
        ASSERT_TRUE(PlayingBack()) << tick;
        if (tick == TICKS_BEFORE_RESIZE - 1) {
            EXPECT_TRUE(WindowIs(START_WIDTH, START_HEIGHT));
        }
        if (tick == TICKS_BEFORE_RESIZE) {
            EXPECT_TRUE(WindowIs(SHRUNK_WIDTH, SHRUNK_HEIGHT)) << "at the resize";
        }
    }
    w->Tick();
    EXPECT_FALSE(PlayingBack()) << "handed over after the last tick";
    EXPECT_EQ(w->Field(), live.game.Field());
    EXPECT_EQ(w->GameForTesting().Width(), SHRUNK_WIDTH);
    if (w->devicePixelRatioF() == 1) {
        EXPECT_TRUE(SamePixels(w->Picture(), *live.game.Picture()));
    }

    // Live now: the window's size is the game's, and battles take new states.
    ResizeAndSettle(600, 450);
    EXPECT_EQ(w->GameForTesting().Width(), 600);
    const std::uint64_t reseeds = w->GameForTesting().RandomStream().Reseeds();
    QTest::keyClick(w.get(), Qt::Key_B);
    w->Tick();
    EXPECT_EQ(w->GameForTesting().RandomStream().Reseeds(), reseeds + 1);
    EXPECT_NE(w->GameForTesting().RandomStream().LastReseedState(), live.game.RandomStream().LastReseedState());
}

// The user's first press or key takes the battle over at once, at the
// window's size; moves and releases during the playback change nothing.
TEST_F(Replay, APressOrAKeyTakesOverAtOnce) {
    for (const bool byKey : {false, true}) {
        SCOPED_TRACE(byKey);
        ResizeAndSettle(640, 480);
        ASSERT_EQ(w->PlayBack(live.recording), std::nullopt);
        for (int tick = 0; tick < 40; ++tick) w->Tick();
        ASSERT_TRUE(PlayingBack());
        const Battlefield before = w->Field();
        QTest::mouseMove(w.get(), QPoint(100, 100));
        QTest::mouseRelease(w.get(), Qt::LeftButton, {}, QPoint(100, 100));
        EXPECT_TRUE(PlayingBack());
        EXPECT_EQ(w->Field(), before);

        if (byKey) QTest::keyClick(w.get(), Qt::Key_A);
        else QTest::mousePress(w.get(), Qt::RightButton, {}, QPoint(200, 200));
        EXPECT_FALSE(PlayingBack());
        if (byKey) {
            EXPECT_EQ(w->Field().tankHits, decltype(before.tankHits){}) << "the key wiped the field";
        }
        QTest::mouseRelease(w.get(), Qt::RightButton, {}, QPoint(200, 200));
        EXPECT_EQ(w->GameForTesting().Width(), w->width());
        EXPECT_EQ(w->GameForTesting().Height(), w->height());
        const std::string recorded = w->GameForTesting().Recording().Text();
        EXPECT_NE(recorded.find(byKey ? "\nkey 97\n" : "\ndown 2 200 200\n"), std::string::npos) << recorded;
    }
}

// The file holds the recording at once, then once a second; at Esc it is
// complete, and with a playback first it starts with the battle played.
TEST_F(Replay, RecordsIntoAFileCompleteAtEsc) {
    const fs::path path = dir / "session.rec";
    auto file = *RecordingFile::Create(path.string());
    ASSERT_TRUE(file);
    ASSERT_EQ(w->PlayBack(live.recording), std::nullopt);
    w->RecordInto(std::move(file));
    EXPECT_TRUE(ReadAll(path).starts_with("version 1\nseed 4321\nsize 696 548\n"));
    EXPECT_EQ(Tmr(*w, "saveTmr")->interval(), 1000);
    EXPECT_TRUE(Tmr(*w, "saveTmr")->isActive());
    for (int tick = 0; tick < live.Ticks() + 20; ++tick) w->Tick();
    EXPECT_FALSE(PlayingBack());

    QTimer::singleShot(0, w.get(), [&] { QTest::keyClick(w.get(), Qt::Key_Escape); });
    EXPECT_EQ(QApplication::exec(), 0);
    const std::string text = ReadAll(path);
    EXPECT_EQ(text, w->GameForTesting().Recording().Text());
    EXPECT_TRUE(text.ends_with("\nkey 27\n"));
    const std::string played = live.recording.substr(0, live.recording.rfind("tick "));
    EXPECT_TRUE(text.starts_with(played)) << text;
    EXPECT_FALSE(Tmr(*w, "saveTmr")->isActive());
}

// A window that goes without an Esc (closed by the desktop) finishes its
// file all the same; one that cannot write says so and ends with status 2.
TEST_F(Replay, AWindowThatGoesFinishesItsFile) {
    const fs::path path = dir / "closed.rec";
    w->RecordInto(*RecordingFile::Create(path.string()));
    for (int tick = 0; tick < 50; ++tick) w->Tick();
    const std::string recorded = w->GameForTesting().Recording().Text();
    EXPECT_NE(ReadAll(path), recorded) << "not yet: the last line is padded";
    w->close();
    EXPECT_EQ(ReadAll(path), recorded);
    EXPECT_FALSE(Tmr(*w, "tmr")->isActive());
    EXPECT_FALSE(Tmr(*w, "saveTmr")->isActive());

    // Destroyed without closing, as at the end of the program.
    auto other = std::make_unique<GameWindow>();
    other->RecordInto(*RecordingFile::Create(path.string()));
    for (int tick = 0; tick < 20; ++tick) other->Tick();
    const std::string second = other->GameForTesting().Recording().Text();
    other.reset();
    EXPECT_EQ(ReadAll(path), second);

    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    GameWindow full;
    EXPECT_EQ(full.ExitStatus(), 0);
    testing::internal::CaptureStderr();
    full.RecordInto(*RecordingFile::Create("/dev/full"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kestrel: /dev/full: No space left on device\n");
    EXPECT_EQ(full.ExitStatus(), EXIT_BAD_START);
    EXPECT_FALSE(Tmr(full, "saveTmr")->isActive());
    full.Tick();  // plays on
}

}  // namespace
}  // namespace kestrel
