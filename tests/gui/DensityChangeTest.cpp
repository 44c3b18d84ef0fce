// A running window moved to a screen of another density draws at the new
// density from its next tick on, whatever events the platform sends later.
// Runs on the offscreen platform with two screens (two-screens.json): one of
// one device pixel per unit, one of two.

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <memory>

#include "app/GameWindow.h"

namespace kestrel {
namespace {

struct TwoScreenApplication : testing::Environment {
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" KESTREL_TWO_SCREENS);
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    int argc = 1;
    char name[22] = "kestrel_density_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};
[[maybe_unused]] testing::Environment* const APP =
    testing::AddGlobalTestEnvironment(new TwoScreenApplication);

QScreen* ScreenNamed(const char* name) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == QLatin1String(name)) return screen;
    return nullptr;
}

// The picture at the window's own density: its ratio, pen and device size.
void ExpectPictureAt(const GameWindow& w, double ratio) {
    EXPECT_EQ(w.Picture().PixelRatio(), ratio);
    EXPECT_EQ(w.Picture().PenSize(), int(std::lround(ratio)));
    EXPECT_EQ(w.Picture().DeviceWidth(), int(std::ceil(w.width() * ratio)));
    EXPECT_EQ(w.Picture().DeviceHeight(), int(std::ceil(w.height() * ratio)));
}

TEST(DensityChange, IsFollowedAtTheNextTick) {
    QScreen* const normal = ScreenNamed("normal");
    QScreen* const dense = ScreenNamed("dense");
    ASSERT_TRUE(normal && dense) << "the offscreen platform did not read " KESTREL_TWO_SCREENS;
    ASSERT_EQ(normal->devicePixelRatio(), 1);
    ASSERT_EQ(dense->devicePixelRatio(), 2);

    GameWindow w;
    w.setScreen(normal);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.findChild<QTimer*>(QStringLiteral("tmr"))->stop();  // only the test ticks
    w.Tick();
    w.Tick();
    ExpectPictureAt(w, 1);

    for (const auto& [screen, ratio] : {std::pair{dense, 2.0}, std::pair{normal, 1.0}}) {
        SCOPED_TRACE(ratio);
        // The density changes at once; the platform's events about it have
        // not been handled yet, so only the tick can notice.
        w.windowHandle()->setScreen(screen);
        ASSERT_EQ(w.devicePixelRatioF(), ratio);
        ASSERT_NE(w.Picture().PixelRatio(), ratio) << "the change reached the picture before the tick";
        w.Tick();
        ExpectPictureAt(w, ratio);
        QApplication::processEvents();
        ExpectPictureAt(w, ratio);
    }
}

}  // namespace
}  // namespace kestrel
