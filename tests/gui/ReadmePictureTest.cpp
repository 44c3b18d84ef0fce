// The README's picture is what the replay tool draws today from its script,
// pixel for pixel (scripts/readme-picture redraws it).

#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <sstream>

#include "render/PixelCanvas.h"
#include "trace/TraceScript.h"

namespace kestrel {
namespace {

TEST(ReadmePicture, IsTheReplayedBattlePixelForPixel) {
    const QImage file = QImage(QStringLiteral(KESTREL_README_PICTURE)).convertToFormat(QImage::Format_RGBX8888);
    ASSERT_FALSE(file.isNull()) << KESTREL_README_PICTURE;
    std::ostringstream out, err;
    PixelCanvas picture(1, 1);
    ASSERT_EQ(RunTraceScript("seed 293\ntick 160\n", out, err, {}, &picture), TRACE_OK);
    ASSERT_EQ(file.width(), picture.DeviceWidth());
    ASSERT_EQ(file.height(), picture.DeviceHeight());
    for (int y = 0; y < file.height(); ++y)
        ASSERT_EQ(0, std::memcmp(file.constScanLine(y), picture.Bytes() + y * picture.BytesPerLine(),
                                 picture.BytesPerLine()))
            << "row " << y << " differs: run scripts/readme-picture";
}

}  // namespace
}  // namespace kestrel
