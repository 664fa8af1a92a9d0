#include "screenpicture.h"

#include <QImage>
#include <QPixmap>
#include <QSize>

#include <algorithm>
#include <cstdint>
#include <vector>

QSize deviceSize(QSize logicalSize, qreal ratio)
{
    return {qRound(logicalSize.width() * ratio), qRound(logicalSize.height() * ratio)};
}

namespace {

// For each of count device pixels, the index of the picture pixel under its centre: the centre of
// pixel i lies at (i + 1/2) * from / count picture pixels, computed exactly in integers.
std::vector<int> sourceIndices(int from, int count)
{
    std::vector<int> indices(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::int64_t centre = (2 * std::int64_t{i} + 1) * from / (2 * std::int64_t{count});
        indices[static_cast<std::size_t>(i)] = static_cast<int>(centre);
    }
    return indices;
}

} // namespace

QImage nearestScaled(const QImage &image, QSize size)
{
    QImage source = image;
    if (source.depth() != 32)
        source = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32);
    if (source.isNull() || size.isEmpty())
        return {};
    if (source.size() == size)
        return source;

    QImage result(size, source.format());
    if (result.isNull())
        return result;
    const std::vector<int> columns = sourceIndices(source.width(), size.width());
    const std::vector<int> rows = sourceIndices(source.height(), size.height());
    for (int y = 0; y < size.height(); ++y) {
        const int sourceRow = rows[static_cast<std::size_t>(y)];
        auto *out = reinterpret_cast<std::uint32_t *>(result.scanLine(y));
        if (y > 0 && sourceRow == rows[static_cast<std::size_t>(y) - 1]) {
            // The same picture row as the one before: copy the finished row.
            std::copy_n(reinterpret_cast<const std::uint32_t *>(result.constScanLine(y - 1)),
                        size.width(), out);
            continue;
        }
        const auto *in = reinterpret_cast<const std::uint32_t *>(source.constScanLine(sourceRow));
        for (std::size_t x = 0; x < columns.size(); ++x)
            out[x] = in[columns[x]];
    }
    return result;
}

QPixmap pictureForScreen(const QPixmap &picture, qreal ratio)
{
    const QSize logical = picture.deviceIndependentSize().toSize();
    const QSize size = deviceSize(logical, ratio);
    if (picture.isNull() ||
        (size == picture.size() && qFuzzyCompare(picture.devicePixelRatio(), ratio)))
        return picture;
    QPixmap shown = size == picture.size()
                        ? picture
                        : QPixmap::fromImage(nearestScaled(picture.toImage(), size));
    shown.setDevicePixelRatio(ratio);
    return shown;
}
