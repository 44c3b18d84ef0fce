// Finds a picture among others with exactly the same pixels: a grab of the
// window (0xAARRGGBB words) among the replay tool's snapshots (RGBA), both
// read as PNG files and compared colour by colour, alpha left out.
//
//   kestrel-same-picture PICTURE CANDIDATE...
//       prints "same as CANDIDATE" for the first that matches and exits 0;
//       else prints the closest ("closest CANDIDATE: N pixels differ") and
//       exits 1. Exit status 2 for a file it cannot read.

#include <QCoreApplication>
#include <QImage>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

std::optional<QImage> Load(const QString& path) {
    QImage image(path);
    if (image.isNull()) {
        std::fprintf(stderr, "kestrel-same-picture: cannot read %s\n", qPrintable(path));
        return std::nullopt;
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

// Pixels whose colours differ; every pixel when the sizes do.
long long Differing(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return std::numeric_limits<long long>::max();
    long long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) count += ((rowA[x] ^ rowB[x]) & 0xffffffu) != 0;
    }
    return count;
}

int Run(const QStringList& args) {
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: kestrel-same-picture PICTURE CANDIDATE...\n");
        return 2;
    }
    const auto picture = Load(args[1]);
    if (!picture) return 2;
    long long closest = std::numeric_limits<long long>::max();
    QString closestName;
    for (qsizetype i = 2; i < args.size(); ++i) {
        const auto candidate = Load(args[i]);
        if (!candidate) return 2;
        const long long differing = Differing(*picture, *candidate);
        if (differing == 0) {
            std::printf("same as %s\n", qPrintable(args[i]));
            return 0;
        }
        if (differing < closest) closest = differing, closestName = args[i];
    }
    if (closest == std::numeric_limits<long long>::max())
        std::printf("no candidate has the size %dx%d\n", picture->width(), picture->height());
    else
        std::printf("closest %s: %lld pixels differ\n", qPrintable(closestName), closest);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return Run(QCoreApplication::arguments());
}
