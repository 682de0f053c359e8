#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

// The program's own pictures are PNG files among its resources. They are decoded here with
// libpng: QImageReader first loads every image plug-in installed to ask whether it can read the
// file, which costs more than the rest of the start-up's pictures together.
// A file that is missing or not a PNG gives a null image.
QImage pngImage(const QString &path);

inline QPixmap pngPixmap(const QString &path)
{
    return QPixmap::fromImage(pngImage(path));
}
