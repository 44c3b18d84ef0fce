// The game window on the offscreen platform: its settings, its timer, the
// picture it shows and the events it hands to the game.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include "app/GameWindow.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

class QtApplication : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "kestrel_window_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
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

QTimer* Tmr(GameWindow& w) { return w.findChild<QTimer*>(QStringLiteral("tmr")); }

// Events go through the application, as the platform's do, so its filters
// (a move with no button reaches only a tracking widget) apply.
void SendMouse(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent event(type, at, w.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
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
        Tmr(w)->stop();
    }

    // Two ticks: one starts the battle, the next draws it.
    void StartBattle() {
        w.Tick();
        w.Tick();
    }

    GameWindow w;
};

TEST(WindowSettings, CaptionSizeAndTimer) {
    GameWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("3D Kestrel"));
    EXPECT_EQ(w.size(), QSize(696, 548));
    EXPECT_EQ(w.Picture().CanvasWidth(), 696.0f);
    EXPECT_EQ(w.Picture().CanvasHeight(), 548.0f);
    EXPECT_EQ(w.Picture().Image().devicePixelRatio(), w.devicePixelRatioF());
    QTimer* tmr = Tmr(w);
    ASSERT_NE(tmr, nullptr);
    EXPECT_EQ(tmr, &w.Timer());
    EXPECT_TRUE(tmr->isActive());
    EXPECT_EQ(tmr->interval(), 25);
    EXPECT_EQ(tmr->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(tmr->isSingleShot());
    EXPECT_EQ(tmr->thread(), QThread::currentThread());
}

TEST_F(Window, SecondTickShowsTheTanks) {
    StartBattle();
    const QImage& picture = w.Picture().Image();
    EXPECT_GT(CountPixels(picture, BLACK), 0);
    EXPECT_GT(CountPixels(picture, PLAYER_BLUE), 0) << "the player's tank";
}

TEST_F(Window, CharacterKeyWipesTheField) {
    StartBattle();
    QTest::keyClick(&w, Qt::Key_A);
    for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(w.Field().tankHits[s], 0) << "slot " << s;
    EXPECT_TRUE(AllWhite(w.Picture().Image()));

    StartBattle();
    SendKey(w, Qt::Key_unknown, QStringLiteral("é"));
    EXPECT_TRUE(AllWhite(w.Picture().Image()));
}

TEST_F(Window, KeysWithoutCharacterDoNothing) {
    StartBattle();
    const auto hits = w.Field().tankHits;
    const QImage before = w.Picture().Image().copy();
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Left, Qt::Key_Up, Qt::Key_F1, Qt::Key_Control})
        QTest::keyClick(&w, key);
    EXPECT_EQ(w.Field().tankHits, hits);
    EXPECT_EQ(w.Picture().Image(), before);
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

TEST(WindowEvents, CharacterCodesAndButtonNumbers) {
    EXPECT_EQ(CharacterCode(Qt::Key_Escape, QStringLiteral("\x1b")), 27);
    EXPECT_EQ(CharacterCode(Qt::Key_Escape, QString()), 27);
    EXPECT_EQ(CharacterCode(Qt::Key_A, QStringLiteral("a")), 'a');
    EXPECT_EQ(CharacterCode(Qt::Key_A, QStringLiteral("A")), 'A');
    EXPECT_EQ(CharacterCode(Qt::Key_Return, QStringLiteral("\r")), 13);
    EXPECT_EQ(CharacterCode(Qt::Key_unknown, QStringLiteral("é")), 0xE9);
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Left, Qt::Key_F1, Qt::Key_CapsLock})
        EXPECT_EQ(CharacterCode(key, QString()), std::nullopt) << key;

    EXPECT_EQ(ButtonNumber(Qt::LeftButton), 1);
    EXPECT_EQ(ButtonNumber(Qt::RightButton), 2);
    for (Qt::MouseButton other : {Qt::MiddleButton, Qt::BackButton, Qt::ForwardButton}) {
        EXPECT_NE(ButtonNumber(other), 1);
        EXPECT_NE(ButtonNumber(other), 2);
    }
    EXPECT_NE(ButtonNumber(Qt::MiddleButton), ButtonNumber(Qt::BackButton));
}

TEST_F(Window, PointerDragsATankAndGivesOrders) {
    Battlefield& bf = w.FieldForTesting();
    bf = Battlefield{};
    bf.tankHits[0] = 2, bf.tankX[0] = 100, bf.tankY[0] = 100;
    bf.tankHits[5] = 2, bf.tankX[5] = 300, bf.tankY[5] = 300;
    // The turret of slot 5 is on the screen at (300, 0.5 * 300 + 548 / 4).
    SendMouse(w, QEvent::MouseButtonPress, {300, 287}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(bf.dragging);
    EXPECT_EQ(bf.dragSlot, 5);

    SendMouse(w, QEvent::MouseMove, {450, 200}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(bf.tankX[5], 450);
    EXPECT_EQ(bf.tankY[5], 2 * 200 - 274);
    EXPECT_GT(CountPixels(w.Picture().Image(), DRAGGED_TANK_COLOUR), 0);

    SendMouse(w, QEvent::MouseButtonRelease, {450, 200}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(bf.dragging);
    EXPECT_EQ(bf.tankTarget[0], 5);
    EXPECT_EQ(bf.tankTarget[1], 0);

    // A move with no button held still tracks the depth, and drags nothing.
    SendMouse(w, QEvent::MouseMove, {10, 400}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(bf.pointerDepth, 2 * 400 - 274);
    EXPECT_EQ(bf.tankX[5], 450);

    SendMouse(w, QEvent::MouseButtonPress, {450, 200}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(bf.dragging);
    SendMouse(w, QEvent::MouseButtonRelease, {450, 200}, Qt::RightButton, Qt::NoButton);
    for (int s = 0; s < SLOT_COUNT; ++s) EXPECT_EQ(bf.tankTarget[s], 5) << "slot " << s;
}

TEST_F(Window, CanvasFollowsAnySize) {
    StartBattle();
    for (QSize size : {QSize(1, 1), QSize(3000, 2000), QSize(696, 548)}) {
        w.resize(size);
        QElapsedTimer clock;
        clock.start();
        while (w.size() != size && clock.elapsed() < 2000) QTest::qWait(5);
        EXPECT_EQ(w.size(), size);
        RasterCanvas& picture = w.Picture();
        EXPECT_EQ(picture.CanvasWidth(), float(w.width()));
        EXPECT_EQ(picture.CanvasHeight(), float(w.height()));
        const qreal ratio = w.devicePixelRatioF();
        EXPECT_EQ(picture.Image().size(), QSize(qCeil(w.width() * ratio), qCeil(w.height() * ratio)));
        for (int i = 0; i < 20; ++i) w.Tick();
        QTest::qWait(1);  // let it paint
    }
}

// Collects the areas the window repaints.
class PaintSpy : public QObject {
public:
    explicit PaintSpy(QWidget& w) : w_(w) { w.installEventFilter(this); }

    // Waits for the next paint; the areas painted so far.
    QRegion Wait() {
        QElapsedTimer clock;
        clock.start();
        while (painted_.isEmpty() && clock.elapsed() < 2000) QTest::qWait(5);
        return painted_;
    }
    void Clear() { painted_ = QRegion(); }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (target == &w_ && event->type() == QEvent::Paint)
            painted_ += static_cast<QPaintEvent*>(event)->region();
        return false;
    }

private:
    QWidget& w_;
    QRegion painted_;
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
    QImage before = w.Picture().Image().copy();
    // Tanks start at rest and creep at first: tick till a pixel changes.
    for (int i = 0; i < 500 && w.Picture().Image() == before; ++i) w.Tick();
    ExpectRepainted(before, w.Picture().Image(), spy.Wait());

    Battlefield& bf = w.FieldForTesting();
    bf.dragging = true;
    bf.dragSlot = 0;
    bf.tankHits[0] = 2, bf.tankX[0] = 300, bf.tankY[0] = 300;
    QTest::qWait(30);
    spy.Clear();
    before = w.Picture().Image().copy();
    SendMouse(w, QEvent::MouseMove, {200, 250}, Qt::NoButton, Qt::LeftButton);
    const QRegion painted = spy.Wait();
    SCOPED_TRACE("drag");
    ExpectRepainted(before, w.Picture().Image(), painted);
    EXPECT_LT(painted.boundingRect().width(), 200) << "not the whole window";
}

// What the window paints of the dirty part, at its pixel ratio, is the picture.
TEST_F(Window, PaintShowsThePictureAtEveryPixelRatio) {
    const QColor untouched(255, 0, 255);
    for (qreal ratio : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        RasterCanvas& picture = w.Picture();
        picture.Resize(w.width(), w.height(), ratio);
        DrawTank(picture, 500, 400, 0.4f, 1.1f, PLAYER_BLUE);
        DrawTank(picture, 40.5, -230, 1.4f, 2.1f, BLACK);
        picture.TakeDirtyRect();
        DrawTank(picture, 123.4, 321.7, 2.5f, 0.3f, SHELL_COLOUR);
        const QRect dirty = picture.TakeDirtyRect();
        ASSERT_FALSE(dirty.isEmpty());
        const QImage& shown = picture.Image();

        QImage screen(shown.size(), QImage::Format_RGB32);
        screen.setDevicePixelRatio(ratio);
        screen.fill(untouched);
        w.render(&screen, dirty.topLeft(), QRegion(dirty));  // the region lands at the offset
        const QRectF inside(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio,
                            dirty.height() * ratio);
        int copied = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x) {
                const QRectF px(x, y, 1, 1);
                if (inside.contains(px)) {
                    ASSERT_EQ(screen.pixel(x, y), shown.pixel(x, y)) << x << ", " << y;
                    ++copied;
                } else if (!inside.intersects(px)) {
                    ASSERT_EQ(screen.pixel(x, y), untouched.rgb()) << x << ", " << y;
                }
            }
        EXPECT_GT(copied, 0);

        screen.fill(untouched);
        w.render(&screen);
        EXPECT_EQ(screen, shown) << "the whole window";
    }
}

}  // namespace
}  // namespace kestrel
