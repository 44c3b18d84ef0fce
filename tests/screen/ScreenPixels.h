#pragma once
// What an X server shows, for the end-to-end test and the window benchmarks:
// a grab of a window or of part of the screen, and its pixels sorted by the
// colours the game draws.

#include <QImage>
#include <QRect>
#include <QWindow>
#include <optional>

namespace kestrel {

struct ScreenColours {
    int width = 0;
    int height = 0;
    long black = 0;  // tanks
    long blue = 0;   // the player's tank
    long grey = 0;   // a dragged tank
    long white = 0;  // the field
    long other = 0;
    double blueX = 0;  // centre of the blue pixels, valid when blue > 0
    double blueY = 0;

    long All() const { return long(width) * height; }
    bool ShowsTank() const { return black > 0 || blue > 0; }
};

// The window (0: the whole screen), or the area of it when one is given; none
// when there is no screen or no such window.
std::optional<QImage> GrabScreen(WId window, const QRect& area = {});

ScreenColours CountColours(const QImage& image);

}  // namespace kestrel
