// The PNG writer, read back with Qt's PNG reader: every device pixel comes
// back as the picture holds it, whichever way the picture lays its pixels
// out in memory, and the file holds exactly the encoded bytes.

#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/PixelCanvas.h"
#include "render/TankGlyph.h"
#include "trace/PngFile.h"

namespace kestrel {
namespace {

// Strokes whose three channels all differ, so that swapped or dropped
// channels show.
PixelCanvas Drawn(PixelFormat format, double ratio) {
    PixelCanvas picture(97, 61, ratio, format);
    picture.DrawLine(3, 4, 90, 57, Colour{200, 40, 7});
    picture.DrawCircle(40, 30, 17, Colour{1, 128, 254});
    picture.DrawLine(90, 2, 5, 50, Colour{17, 255, 99});
    DrawTank(picture, 60, 30, 0.7f, 2.1f, Colour{0, 0, 150});
    return picture;
}

QImage Decoded(const std::vector<std::uint8_t>& png) {
    return QImage::fromData(png.data(), int(png.size()), "PNG").convertToFormat(QImage::Format_RGB32);
}

TEST(PngFile, ReadsBackAsThePicturePixelForPixel) {
    for (const PixelFormat format : {PixelFormat::RgbaBytes, PixelFormat::ArgbWords}) {
        for (const double ratio : {1.0, 1.5, 3.0}) {
            SCOPED_TRACE(testing::Message() << "format " << int(format) << ", ratio " << ratio);
            const PixelCanvas picture = Drawn(format, ratio);
            const QImage image = Decoded(EncodePng(picture));
            ASSERT_FALSE(image.isNull());
            ASSERT_EQ(image.width(), picture.DeviceWidth());
            ASSERT_EQ(image.height(), picture.DeviceHeight());
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb read = image.pixel(x, y);
                    const Colour back{std::uint8_t(qRed(read)), std::uint8_t(qGreen(read)),
                                      std::uint8_t(qBlue(read))};
                    ASSERT_EQ(back, picture.PixelAt(x, y)) << "pixel " << x << ", " << y;
                }
            }
        }
    }
}

TEST(PngFile, BytesDoNotDependOnTheMemoryLayout) {
    EXPECT_EQ(EncodePng(Drawn(PixelFormat::RgbaBytes, 1.5)), EncodePng(Drawn(PixelFormat::ArgbWords, 1.5)));
}

TEST(PngFile, SavesTheEncodedBytesAndReportsAFileItCannotWrite) {
    const PixelCanvas picture = Drawn(PixelFormat::RgbaBytes, 2);
    const std::string path = testing::TempDir() + "kestrel-png-file-test.png";
    ASSERT_TRUE(SavePng(picture, path));
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> saved{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(saved, EncodePng(picture));
    std::remove(path.c_str());
    EXPECT_FALSE(SavePng(picture, "/nonexistent-kestrel-dir/picture.png"));
}

}  // namespace
}  // namespace kestrel
