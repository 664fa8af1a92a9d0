#include "fixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

QImage stickerPicture(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(colour));
    painter.drawEllipse(QRect(4, 4, width - 8, height - 8));
    painter.setBrush(Qt::white);
    painter.drawRect(QRect(width / 2 - 4, height / 2 - 4, 8, 8)); // a hole in the middle
    painter.setBrush(QColor(30, 30, 160));
    painter.drawRect(QRect(1, 1, 3, 3)); // a corner block apart from the rest
    painter.end();
    // Near-white pixels are part of the picture, not holes.
    image.setPixel(width - 2, height - 2, qRgb(254, 255, 255));
    image.setPixel(width / 2, height / 2, qRgb(255, 255, 254));
    return image;
}

QRegion opaquePart(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QRegion region;
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width();) {
            if (line[x] == 0xffffffffu) {
                ++x;
                continue;
            }
            int end = x;
            while (end < argb.width() && line[end] != 0xffffffffu)
                ++end;
            region += QRect(x, y, end - x, 1);
            x = end;
        }
    }
    return region;
}

bool sameArea(const QRegion &a, const QRegion &b)
{
    const QRegion difference = a.xored(b);
    if (difference.isEmpty())
        return true;
    qWarning("the areas differ in %d pixel rectangles, the first %d,%d %dx%d",
             difference.rectCount(), difference.begin()->x(), difference.begin()->y(),
             difference.begin()->width(), difference.begin()->height());
    return false;
}

QImage seenOver(const QImage &picture, QColor background)
{
    QImage seen = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < seen.height(); ++y)
        for (int x = 0; x < seen.width(); ++x)
            if (picture.pixel(x, y) == 0xffffffffu)
                seen.setPixel(x, y, background.rgb());
    return seen;
}

QString savePicture(const QDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path))
        qFatal("cannot save the test picture %s", qPrintable(path));
    return path;
}
