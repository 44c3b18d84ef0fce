// Runtime figures that the real program cannot report itself, since it has no
// command line and no output but its window. Runs on an X server
// (QT_QPA_PLATFORM=xcb).
//
//   kestrel-window-probe first-frame PROGRAM
//       starts PROGRAM on its own and watches the screen: prints its pid, the
//       time until its window shows (white) and until the first tanks show
//       (black glyphs and the dark-blue player). The program keeps running.
//   kestrel-window-probe tick-rate SECONDS
//       shows the game's own window in this process and counts the timeouts
//       of its timer `tmr` over SECONDS, after a second to settle.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRect>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "app/GameWindow.h"
#include "tests/screen/ScreenPixels.h"

namespace kestrel {
namespace {

// With no window manager the window opens in the top-left corner of the
// black screen. A small patch in its middle is cheap to grab again and again
// (a whole-window grab keeps the X server busy for ~10 ms); the window is up
// when the patch is mostly white.
constexpr QRect WINDOW_AREA(0, 0, START_WIDTH, START_HEIGHT);
constexpr QRect MIDDLE_PATCH(START_WIDTH / 2 - 16, START_HEIGHT / 2 - 16, 32, 32);
constexpr qint64 FIRST_FRAME_TIMEOUT_MS = 10000;
constexpr unsigned long POLL_PAUSE_MS = 1;
constexpr int SETTLE_MS = 1000;

ScreenColours CountScreen(const QRect& area) {
    const auto image = GrabScreen(0, area);
    return image ? CountColours(*image) : ScreenColours{};
}

// Grabs `area` until `seen` holds; the time of the grab's request, or -1.
template <typename Seen>
qint64 WatchScreen(const QElapsedTimer& clock, const QRect& area, Seen seen) {
    while (clock.elapsed() < FIRST_FRAME_TIMEOUT_MS) {
        const qint64 at = clock.elapsed();
        if (seen(CountScreen(area))) return at;
        QThread::msleep(POLL_PAUSE_MS);
    }
    return -1;
}

int FirstFrame(const QString& program) {
    if (!QGuiApplication::primaryScreen()) return 2;
    qint64 pid = 0;
    QElapsedTimer clock;
    clock.start();
    if (!QProcess::startDetached(program, {}, QString(), &pid)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 2;
    }
    std::printf("pid %lld\n", pid);
    const qint64 shownMs = WatchScreen(clock, MIDDLE_PATCH, [](const ScreenColours& c) {
        return 2 * c.white > c.All();
    });
    if (shownMs < 0) {
        std::printf("no window within %lld ms\n", FIRST_FRAME_TIMEOUT_MS);
        return 1;
    }
    std::printf("window shown after %lld ms\n", shownMs);
    const qint64 tanksMs = WatchScreen(clock, WINDOW_AREA, [](const ScreenColours& c) {
        return c.black > 0 && c.blue > 0;
    });
    if (tanksMs < 0) {
        std::printf("no tanks within %lld ms\n", FIRST_FRAME_TIMEOUT_MS);
        return 1;
    }
    std::printf("tanks shown after %lld ms\n", tanksMs);
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int TickRate(int seconds) {
    GameWindow frm;
    frm.show();

    QElapsedTimer clock;
    long ticks = 0;
    qint64 lastNs = 0;
    qint64 shortestNs = std::numeric_limits<qint64>::max(), longestNs = 0;
    double cpuAtStart = 0;
    bool counting = false;
    QObject::connect(&frm.Timer(), &QTimer::timeout, [&] {
        if (!counting) return;
        const qint64 now = clock.nsecsElapsed();
        if (ticks > 0) {
            shortestNs = std::min(shortestNs, now - lastNs);
            longestNs = std::max(longestNs, now - lastNs);
        }
        lastNs = now;
        ++ticks;
    });
    QTimer::singleShot(SETTLE_MS, [&] {
        counting = true;
        cpuAtStart = CpuSeconds();
        clock.start();
    });
    QTimer::singleShot(SETTLE_MS + seconds * 1000, [&] {
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = CpuSeconds() - cpuAtStart;
        std::printf("ticks %ld in %.3f s: %.2f ticks/s\n", ticks, elapsed,
                    double(ticks) / elapsed);
        std::printf("tick interval: shortest %.2f ms, longest %.2f ms\n",
                    double(shortestNs) / 1e6, double(longestNs) / 1e6);
        std::printf("probe cpu: %.2f %% of one core\n", 100 * cpu / elapsed);
        QApplication::exit(0);
    });
    return QApplication::exec();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-window-probe first-frame PROGRAM\n"
                 "       kestrel-window-probe tick-rate SECONDS\n");
    return 2;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) return kestrel::Usage();
    if (args[1] == "first-frame") return kestrel::FirstFrame(args[2]);
    bool ok = false;
    const int seconds = args[2].toInt(&ok);
    if (args[1] == "tick-rate" && ok && seconds > 0) return kestrel::TickRate(seconds);
    return kestrel::Usage();
}
