#include "picture.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPixmapCache>
#include <QSize>
#include <QString>

void preparePictureLoading()
{
    QImageReader::setAllocationLimit(pictureAllocationLimitMiB);
    // The cache counts in KiB; a little more than the limit also covers the cache's own overhead.
    const int limitKiB = pictureAllocationLimitMiB * 1024 + 1024;
    if (QPixmapCache::cacheLimit() < limitKiB)
        QPixmapCache::setCacheLimit(limitKiB);
}

QString pictureProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("No such file or directory");
    if (info.isDir())
        return QStringLiteral("Is a directory");
    if (!info.isReadable())
        return QStringLiteral("Permission denied");

    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid()) {
        const qint64 bytes = qint64{size.width()} * size.height() * 4;
        if (bytes > qint64{pictureAllocationLimitMiB} * 1024 * 1024)
            return QStringLiteral("picture of %1x%2 pixels is larger than the limit of %3 MiB")
                .arg(size.width())
                .arg(size.height())
                .arg(pictureAllocationLimitMiB);
    }
    if (reader.read().isNull())
        return reader.errorString();
    return QStringLiteral("The picture could not be loaded");
}
