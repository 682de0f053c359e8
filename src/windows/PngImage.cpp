#include "windows/PngImage.h"

#include <QFile>

#include <png.h>

QImage pngImage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data.constData(), size_t(data.size())))
        return {};
        // QImage::Format_ARGB32 keeps each pixel as one 32-bit word 0xAARRGGBB, not premultiplied.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png.format = PNG_FORMAT_BGRA;
#else
    png.format = PNG_FORMAT_ARGB;
#endif
    QImage image(int(png.width), int(png.height), QImage::Format_ARGB32);
    // The row stride counts components, one byte each here.
    if (image.isNull()
        || !png_image_finish_read(&png, nullptr, image.bits(), png_int_32(image.bytesPerLine()),
                                  nullptr)) {
        png_image_free(&png);
        return {};
    }
    return image;
}
