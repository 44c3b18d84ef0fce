// Looks at another program's window on the X server: grabs what the server
// shows of it and sorts the pixels by the colours the game draws.
//
//   kestrel-window-pixels WID [--save FILE]
//       one grab; prints "size W H black N blue N grey N white N other N"
//       and, when the player's tank shows, "player X Y" (its blue centre).
//   kestrel-window-pixels WID --until-blank MS
//       prints "watching", then grabs again and again for up to MS ms; exits
//       0 at the first frame without a tank pixel (black or player blue).
//   kestrel-window-pixels WID --until-player-near X Y RADIUS MS
//       exits 0 at the first frame whose player-blue centre lies within
//       RADIUS of (X, Y), within MS ms.
//
// Exit status 2 means bad arguments or no such window.

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <cmath>
#include <cstdio>

#include "tests/screen/ScreenPixels.h"

namespace kestrel {
namespace {

constexpr unsigned long POLL_PAUSE_MS = 2;

void Print(const ScreenColours& c) {
    std::printf("size %d %d black %ld blue %ld grey %ld white %ld other %ld\n", c.width,
                c.height, c.black, c.blue, c.grey, c.white, c.other);
    if (c.blue > 0) std::printf("player %d %d\n", int(c.blueX + 0.5), int(c.blueY + 0.5));
}

// Grabs until `done` holds for a frame or the time runs out.
template <typename Done>
int WatchFor(WId window, long timeoutMs, Done done) {
    std::printf("watching\n");
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() <= timeoutMs) {
        if (const auto image = GrabScreen(window)) {
            const ScreenColours counts = CountColours(*image);
            if (done(counts)) {
                std::printf("seen after %lld ms\n", clock.elapsed());
                Print(counts);
                return 0;
            }
        }
        QThread::msleep(POLL_PAUSE_MS);
    }
    std::printf("not seen within %ld ms\n", timeoutMs);
    return 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-window-pixels WID [--save FILE | --until-blank MS |"
                 " --until-player-near X Y RADIUS MS]\n");
    return 2;
}

int Run(const QStringList& args) {
    if (args.size() < 2) return Usage();
    bool ok = false;
    const WId window = args[1].toULongLong(&ok, 0);
    if (!ok) return Usage();

    if (args.size() == 4 && args[2] == "--until-blank") {
        const long timeoutMs = args[3].toLong();
        return WatchFor(window, timeoutMs, [](const ScreenColours& c) { return !c.ShowsTank(); });
    }
    if (args.size() == 7 && args[2] == "--until-player-near") {
        const double x = args[3].toDouble(), y = args[4].toDouble();
        const double radius = args[5].toDouble();
        return WatchFor(window, args[6].toLong(), [=](const ScreenColours& c) {
            return c.blue > 0 && std::hypot(c.blueX - x, c.blueY - y) <= radius;
        });
    }
    if (args.size() != 2 && !(args.size() == 4 && args[2] == "--save")) return Usage();

    const auto image = GrabScreen(window);
    if (!image) {
        std::fprintf(stderr, "cannot grab window %s\n", qPrintable(args[1]));
        return 2;
    }
    if (args.size() == 4 && !image->save(args[3])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[3]));
        return 2;
    }
    Print(CountColours(*image));
    return 0;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    return kestrel::Run(QGuiApplication::arguments());
}
