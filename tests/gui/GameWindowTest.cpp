// The game window on the offscreen platform: its settings, its timer, the
// picture it shows and the events it hands to the game.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "app/GameWindow.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

// One application for every test, gone before the program ends.
struct QtApplication : testing::Environment {
    void SetUp() override { app = std::make_unique<QApplication>(argc, argv); }
    void TearDown() override { app.reset(); }
    int argc = 1;
    char name[21] = "kestrel_window_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};
[[maybe_unused]] testing::Environment* const APP =
    testing::AddGlobalTestEnvironment(new QtApplication);

QRgb Rgb(Colour c) { return qRgb(c.r, c.g, c.b); }

int CountPixels(const QImage& image, Colour colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == Rgb(colour);
    return count;
}

bool AllWhite(const QImage& image) {
    return CountPixels(image, WHITE) == image.width() * image.height();
}

// The picture as the window shows it, as a separate image.
QImage Shown(const PixelCanvas& picture) {
    QImage image = QImage(picture.Bytes(), picture.DeviceWidth(), picture.DeviceHeight(),
                          qsizetype(picture.BytesPerLine()), picture.Format() == PixelFormat::ArgbWords ? QImage::Format_RGB32 : QImage::Format_RGBX8888)
                       .convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(picture.PixelRatio());
    return image;
}

QTimer* Tmr(GameWindow& w) { return w.findChild<QTimer*>(QStringLiteral("tmr")); }

// Events go through the application, as the platform's do, so its filters
// (a move with no button reaches only a tracking widget) apply.
void SendMouse(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent event(type, at, w.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

// A press and a release of `button` at `at`.
void Click(QWidget& w, QPointF at, Qt::MouseButton button) {
    SendMouse(w, QEvent::MouseButtonPress, at, button, button);
    SendMouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

void SendKey(QWidget& w, int key, const QString& text) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&w, &event);
}

// A shown window whose timer is stopped, so that only the test ticks it.
class Window : public testing::Test {
protected:
    void SetUp() override {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ASSERT_NE(Tmr(w), nullptr);
        ASSERT_TRUE(Tmr(w)->isActive()) << "the timer runs from the start";
        Tmr(w)->stop();
    }

    // Two ticks: one starts the battle, the next draws it.
    void StartBattle() {
        w.Tick();
        w.Tick();
    }

    GameWindow w;
};

TEST_F(Window, CaptionSizeAndTimer) {
    EXPECT_EQ(w.windowTitle(), QStringLiteral("3D Kestrel"));
    EXPECT_EQ(w.size(), QSize(696, 548));
    EXPECT_EQ(w.Picture().CanvasWidth(), 696.0f);
    EXPECT_EQ(w.Picture().CanvasHeight(), 548.0f);
    EXPECT_EQ(Shown(w.Picture()).devicePixelRatio(), w.devicePixelRatioF());
    const QTimer* tmr = Tmr(w);
    EXPECT_EQ(tmr, &w.Timer());
    EXPECT_EQ(tmr->interval(), 25);
    EXPECT_EQ(tmr->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(tmr->isSingleShot());
    EXPECT_EQ(tmr->thread(), QThread::currentThread());
}

// A key without a character (Shift, arrows) does nothing; any character wipes
// the field and the picture.
TEST_F(Window, CharacterKeysWipeTheFieldAndOthersDoNothing) {
    StartBattle();
    const QImage shown = Shown(w.Picture()).copy();
    EXPECT_GT(CountPixels(shown, BLACK), 0);
    EXPECT_GT(CountPixels(shown, PLAYER_BLUE), 0) << "the player's tank";
    const auto hits = w.Field().tankHits;
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Left, Qt::Key_Up, Qt::Key_F1, Qt::Key_Control})
        QTest::keyClick(&w, key);
    EXPECT_EQ(w.Field().tankHits, hits);
    EXPECT_EQ(Shown(w.Picture()), shown);

    QTest::keyClick(&w, Qt::Key_A);
    EXPECT_EQ(w.Field().tankHits, decltype(hits){});
    EXPECT_TRUE(AllWhite(Shown(w.Picture())));
    StartBattle();
    SendKey(w, Qt::Key_unknown, QStringLiteral("é"));
    EXPECT_TRUE(AllWhite(Shown(w.Picture())));
}

TEST_F(Window, EscStopsTheTimerAndEndsTheEventLoop) {
    for (const QString& text : {QStringLiteral("\x1b"), QString()}) {
        Tmr(w)->start();
        QTimer watchdog;  // a hang shows as 99, not as a stuck test
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(5000);
        QTimer::singleShot(60, &w, [&] { SendKey(w, Qt::Key_Escape, text); });
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_FALSE(Tmr(w)->isActive());
    }
}

// Left drags and orders the player's tank, right orders every slot, and the
// middle button is neither.
TEST_F(Window, PointerDragsATankAndGivesOrders) {
    Battlefield& bf = w.FieldForTesting();
    bf = Battlefield{};
    bf.tankHits[0] = 2, bf.tankX[0] = 100, bf.tankY[0] = 100;
    bf.tankHits[5] = 2, bf.tankX[5] = 300, bf.tankY[5] = 300;
    // The turret of slot 5 is on the screen at (300, 0.5 * 300 + 548 / 4).
    Click(w, {300, 287}, Qt::MiddleButton);
    EXPECT_FALSE(bf.dragging);
    EXPECT_EQ(bf.tankTarget[0], 0);
    SendMouse(w, QEvent::MouseButtonPress, {300, 287}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(bf.dragging);
    EXPECT_EQ(bf.dragSlot, 5);

    SendMouse(w, QEvent::MouseMove, {450, 200}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(bf.tankX[5], 450);
    EXPECT_EQ(bf.tankY[5], 2 * 200 - 274);
    EXPECT_GT(CountPixels(Shown(w.Picture()), DRAGGED_TANK_COLOUR), 0);

    SendMouse(w, QEvent::MouseButtonRelease, {450, 200}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(bf.dragging);
    EXPECT_EQ(bf.tankTarget[0], 5);
    EXPECT_EQ(bf.tankTarget[1], 0);

    // A move with no button held still tracks the depth, and drags nothing.
    SendMouse(w, QEvent::MouseMove, {10, 400}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(bf.pointerDepth, 2 * 400 - 274);
    EXPECT_EQ(bf.tankX[5], 450);

    Click(w, {450, 200}, Qt::RightButton);
    EXPECT_EQ(std::count(bf.tankTarget.begin(), bf.tankTarget.end(), 5), SLOT_COUNT);
}

TEST_F(Window, CanvasFollowsAnySize) {
    StartBattle();
    for (QSize size : {QSize(1, 1), QSize(3000, 2000), QSize(696, 548)}) {
        w.resize(size);
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.size() == size; }, 2000));
        const qreal ratio = w.devicePixelRatioF();
        EXPECT_EQ(w.Picture().CanvasWidth(), float(size.width()));
        EXPECT_EQ(w.Picture().CanvasHeight(), float(size.height()));
        EXPECT_EQ(Shown(w.Picture()).size(),
                  QSize(qCeil(size.width() * ratio), qCeil(size.height() * ratio)));
        for (int i = 0; i < 20; ++i) w.Tick();
        QTest::qWait(1);  // let it paint
    }
}

// Collects the areas the window repaints.
struct PaintSpy : QObject {
    explicit PaintSpy(QWidget& w) { w.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    // Waits for a paint; the areas painted so far.
    QRegion Wait() {
        (void)QTest::qWaitFor([this] { return !painted.isEmpty(); }, 2000);
        return painted;
    }
    QRegion painted;
};

// Every device pixel that changed lies in the repainted area.
void ExpectRepainted(const QImage& before, const QImage& after, const QRegion& painted) {
    const qreal ratio = after.devicePixelRatio();
    int changed = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x) {
            if (before.pixel(x, y) == after.pixel(x, y)) continue;
            ++changed;
            const QPoint first(qFloor(x / ratio), qFloor(y / ratio));
            const QPoint last(qFloor((x + 0.999) / ratio), qFloor((y + 0.999) / ratio));
            ASSERT_TRUE(painted.contains(first) && painted.contains(last)) << x << ", " << y;
        }
    EXPECT_GT(changed, 0);
}

TEST_F(Window, RepaintsWhatATickOrAPointerMoveChanged) {
    StartBattle();
    QTest::qWait(30);
    PaintSpy spy(w);
    QImage before = Shown(w.Picture()).copy();
    // Tanks start at rest and creep at first: tick till a pixel changes.
    for (int i = 0; i < 500 && Shown(w.Picture()) == before; ++i) w.Tick();
    ExpectRepainted(before, Shown(w.Picture()), spy.Wait());

    Battlefield& bf = w.FieldForTesting();
    bf.dragging = true;
    bf.dragSlot = 0;
    bf.tankHits[0] = 2, bf.tankX[0] = 300, bf.tankY[0] = 300;
    QTest::qWait(30);
    spy.painted = QRegion();
    before = Shown(w.Picture()).copy();
    SendMouse(w, QEvent::MouseMove, {200, 250}, Qt::NoButton, Qt::LeftButton);
    const QRegion painted = spy.Wait();
    SCOPED_TRACE("drag");
    ExpectRepainted(before, Shown(w.Picture()), painted);
    EXPECT_LT(painted.boundingRect().width(), 200) << "not the whole window";
}

// The window shows the picture at its pixel ratio, a part of it as well as
// the whole.
TEST_F(Window, PaintShowsThePictureAtEveryPixelRatio) {
    const Colour untouched{255, 0, 255};
    const QRect area(100, 270, 60, 40);  // whole device pixels at each ratio
    for (qreal ratio : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        Game& game = w.GameForTesting();
        game.Resize(w.width(), w.height(), ratio);
        DrawTank(game.DrawingCanvas(), 500, 400, 0.4f, 1.1f, PLAYER_BLUE);
        DrawTank(game.DrawingCanvas(), 123.4, 321.7, 2.5f, 0.3f, SHELL_COLOUR);
        const QImage shown = Shown(w.Picture());
        const QRect device(area.topLeft() * ratio, area.size() * ratio);
        ASSERT_GT(CountPixels(shown.copy(device), SHELL_COLOUR), 0);

        QImage screen(shown.size(), QImage::Format_RGB32);
        screen.setDevicePixelRatio(ratio);
        screen.fill(Rgb(untouched));
        w.render(&screen, area.topLeft(), QRegion(area));  // the part lands at its own place
        EXPECT_EQ(screen.copy(device), shown.copy(device));
        EXPECT_EQ(CountPixels(screen, untouched),
                  screen.width() * screen.height() - device.width() * device.height());
        w.render(&screen);
        EXPECT_EQ(screen, shown) << "the whole window";
    }
}

}  // namespace
}  // namespace kestrel
