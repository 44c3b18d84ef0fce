#include <QImage>
#include <QString>

#include "tools/PngFile.h"

namespace kestrel {

const bool CAN_WRITE_PNG = true;

bool SavePng(const PixelCanvas& picture, const std::string& path) {
    // The image shares the picture's pixels; Qt only encodes them.
    const QImage image(picture.Bytes(), picture.DeviceWidth(), picture.DeviceHeight(),
                       qsizetype(picture.BytesPerLine()), picture.Format() == PixelFormat::ArgbWords ? QImage::Format_RGB32 : QImage::Format_RGBX8888);
    return image.save(QString::fromStdString(path), "PNG");
}

}  // namespace kestrel
