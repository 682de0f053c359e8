#include "windows/PngImage.h"

// Where the build has no libpng (Windows): Qt's own PNG reader, named so that no other image
// plug-in is asked first.
QImage pngImage(const QString &path)
{
    QImage image(path, "PNG");
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}
