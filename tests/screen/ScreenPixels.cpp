#include "tests/screen/ScreenPixels.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace kestrel {
namespace {

constexpr QRgb BLACK = qRgb(0, 0, 0);
constexpr QRgb PLAYER_BLUE = qRgb(0, 0, 150);
constexpr QRgb DRAGGED_GREY = qRgb(150, 150, 150);
constexpr QRgb WHITE = qRgb(255, 255, 255);
constexpr int WHOLE = -1;  // grabWindow's width or height for "to the edge"

}  // namespace

std::optional<QImage> GrabScreen(WId window, const QRect& area) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    const QImage image = area.isNull()
                             ? screen->grabWindow(window, 0, 0, WHOLE, WHOLE).toImage()
                             : screen->grabWindow(window, area.x(), area.y(), area.width(), area.height()).toImage();
    if (image.isNull()) return std::nullopt;
    return image.convertToFormat(QImage::Format_RGB32);
}

ScreenColours CountColours(const QImage& image) {
    ScreenColours counts;
    counts.width = image.width();
    counts.height = image.height();
    double sumX = 0, sumY = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            switch (row[x] | 0xff000000u) {
                case BLACK: ++counts.black; break;
                case PLAYER_BLUE:
                    ++counts.blue;
                    sumX += x;
                    sumY += y;
                    break;
                case DRAGGED_GREY: ++counts.grey; break;
                case WHITE: ++counts.white; break;
                default: ++counts.other; break;
            }
        }
    }
    if (counts.blue > 0) {
        counts.blueX = sumX / double(counts.blue);
        counts.blueY = sumY / double(counts.blue);
    }
    return counts;
}

}  // namespace kestrel
