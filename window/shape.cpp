#include "shape.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QRgb>
#include <QWidget>
#include <QtAlgorithms>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Collects the region row by row, in the form that the toolkit's QRegion(const QBitmap &) builds.
// That constructor adds the runs of set bits one at a time, left to right and top to bottom,
// through QRegion's own union with a rectangle. Its result is y-x banded, but whether two
// identical neighbouring rows end up as one band depends on how it got there:
// - a run below a band of just one rectangle with the same left and right edges extends that
//   rectangle downwards;
// - any other run is appended as a rectangle of its own, so identical rows of two or more runs
//   stay separate bands;
// - except when a second run arrives in a row whose first run extended the band above: then the
//   toolkit falls back to its general union, which rebuilds the whole region in its coalesced
//   form (identical neighbouring bands merged).
// QRegion compares rectangle by rectangle, so the same form is needed for the two to compare
// equal. Spans must come row by row from the top, and left to right within a row, each a
// maximal run (never touching the one before it).
class BandedRegion
{
public:
    explicit BandedRegion(std::size_t expectedRects) { m_rects.reserve(expectedRects); }

    void addSpan(int left, int right, int y)
    {
        if (m_rects.empty()) {
            m_rects.emplace_back(QPoint(left, y), QPoint(right, y));
            return;
        }
        QRect &last = m_rects.back();
        if (y > last.bottom()) {
            // The first run of a new row.
            const bool lastIsAlone =
                m_rects.size() == 1 || m_rects[m_rects.size() - 2].top() != last.top();
            if (lastIsAlone && last.bottom() == y - 1 && last.left() == left &&
                last.right() == right) {
                last.setBottom(y);
                return;
            }
            m_rects.emplace_back(QPoint(left, y), QPoint(right, y));
            return;
        }
        if (last.top() == y) {
            // A further run of a row that is a band of its own so far.
            m_rects.emplace_back(QPoint(left, y), QPoint(right, y));
            return;
        }
        // A second run in a row whose first run extended the single rectangle above: split that
        // rectangle at this row and coalesce, as the toolkit's general union does.
        const QRect thisRow(QPoint(last.left(), y), QPoint(last.right(), y));
        last.setBottom(y - 1);
        m_rects.push_back(thisRow);
        m_rects.emplace_back(QPoint(left, y), QPoint(right, y));
        coalesce();
    }

    // The region; leaves the builder empty.
    QRegion take()
    {
        QRegion region;
        region.setRects(m_rects.data(), int(m_rects.size()));
        std::vector<QRect>().swap(m_rects);
        return region;
    }

private:
    std::size_t bandEnd(std::size_t start) const
    {
        std::size_t end = start + 1;
        while (end < m_rects.size() && m_rects[end].top() == m_rects[start].top())
            ++end;
        return end;
    }

    // Merges each band into the one before it where both have the same rectangles side by side
    // and touch vertically, from the first band that has not been looked at yet. The bands
    // before that were coalesced by an earlier call and stay as they are.
    void coalesce()
    {
        std::size_t previous = m_coalescedFrom; // start of the last band kept, in place
        std::size_t previousEnd = bandEnd(previous);
        std::size_t write = previousEnd;
        std::size_t read = previousEnd;
        while (read < m_rects.size()) {
            const std::size_t end = bandEnd(read);
            const std::size_t count = end - read;
            bool same = count == previousEnd - previous &&
                        m_rects[previous].bottom() == m_rects[read].top() - 1;
            for (std::size_t i = 0; same && i < count; ++i)
                same = m_rects[previous + i].left() == m_rects[read + i].left() &&
                       m_rects[previous + i].right() == m_rects[read + i].right();
            if (same) {
                for (std::size_t i = 0; i < count; ++i)
                    m_rects[previous + i].setBottom(m_rects[read + i].bottom());
            } else {
                previous = write;
                for (std::size_t i = read; i < end; ++i)
                    m_rects[write++] = m_rects[i];
                previousEnd = write;
            }
            read = end;
        }
        m_rects.resize(write);
        // The band of the row being added grows to the right yet; everything before the band in
        // front of it is final.
        m_coalescedFrom = previous;
    }

    std::vector<QRect> m_rects;
    std::size_t m_coalescedFrom = 0;
};

// The kept-pixel bits of 32 pixels of one row, bit i for pixel i.
template <typename IsOpaqueWhite>
std::uint32_t keptBits(const QRgb *pixels, int count, IsOpaqueWhite isOpaqueWhite)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < count; ++i)
        bits |= std::uint32_t(!isOpaqueWhite(pixels[i])) << i;
    return bits;
}

void storeWord(uchar *line, int word, std::uint32_t bits)
{
    // Format_MonoLSB: pixel 8k+i is bit i of byte k, whatever the byte order of the machine.
    for (int byte = 0; byte < 4; ++byte)
        line[4 * word + byte] = uchar(bits >> (8 * byte));
}

std::uint32_t loadWord(const uchar *line, int word)
{
    std::uint32_t bits = 0;
    for (int byte = 0; byte < 4; ++byte)
        bits |= std::uint32_t(line[4 * word + byte]) << (8 * byte);
    return bits;
}

template <typename IsOpaqueWhite>
void keepRow(const QRgb *pixels, int width, uchar *line, IsOpaqueWhite isOpaqueWhite)
{
    for (int x = 0, word = 0; x < width; x += 32, ++word)
        storeWord(line, word, keptBits(pixels + x, std::min(32, width - x), isOpaqueWhite));
}

// What createMaskFromColor compares: the pixel as non-premultiplied ARGB32. RGB32 reads as
// opaque whatever its top byte holds; premultiplied pixels with full alpha are unchanged by
// un-premultiplying, and no pixel with less than full alpha is opaque white.
bool isOpaqueWhiteArgb(QRgb pixel)
{
    return pixel == 0xffffffffu;
}
bool isOpaqueWhiteRgb32(QRgb pixel)
{
    return (pixel & 0x00ffffffu) == 0x00ffffffu;
}

// Calls span(left, right) for each run of set bits of one row of a kept-pixel image, left to
// right, from the changes between neighbouring bits.
template <typename Span> void forEachRun(const uchar *line, int width, Span span)
{
    int runStart = -1; // where the current run began, or -1 outside a run
    for (int x = 0, word = 0; x < width; x += 32, ++word) {
        const std::uint32_t bits = loadWord(line, word);
        std::uint32_t changes = bits ^ ((bits << 1) | (runStart >= 0 ? 1u : 0u));
        if (width - x < 32)
            changes &= (std::uint32_t(1) << (width - x)) - 1;
        while (changes) {
            const int bit = int(qCountTrailingZeroBits(changes));
            changes &= changes - 1;
            if ((bits >> bit) & 1u) {
                runStart = x + bit;
            } else {
                span(runStart, x + bit - 1);
                runStart = -1;
            }
        }
    }
    if (runStart >= 0)
        span(runStart, width - 1);
}

} // namespace

QImage keptPixels(const QImage &picture)
{
    if (picture.isNull())
        return QImage();
    const int width = picture.width();
    const int height = picture.height();
    QImage kept(width, height, QImage::Format_MonoLSB);
    if (kept.isNull())
        return kept;
    kept.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    const auto pixels = [](const QImage &image, int row) {
        return reinterpret_cast<const QRgb *>(image.constScanLine(row));
    };

    switch (picture.format()) {
    case QImage::Format_RGB32:
        for (int y = 0; y < height; ++y)
            keepRow(pixels(picture, y), width, kept.scanLine(y), isOpaqueWhiteRgb32);
        break;
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        for (int y = 0; y < height; ++y)
            keepRow(pixels(picture, y), width, kept.scanLine(y), isOpaqueWhiteArgb);
        break;
    default: {
        // Any other format is converted as createMaskFromColor converts it, a band of rows at a
        // time, so that no full-size copy is ever made.
        constexpr int bandRows = 32;
        const QList<QRgb> colours = picture.colorTable();
        for (int top = 0; top < height; top += bandRows) {
            const int rows = std::min(bandRows, height - top);
            QImage band(picture.constScanLine(top), width, rows, picture.bytesPerLine(),
                        picture.format());
            if (!colours.isEmpty())
                band.setColorTable(colours);
            const QImage argb = band.convertToFormat(QImage::Format_ARGB32);
            for (int row = 0; row < rows; ++row)
                keepRow(pixels(argb, row), width, kept.scanLine(top + row), isOpaqueWhiteArgb);
        }
        break;
    }
    }
    return kept;
}

qint64 runCount(const QImage &kept)
{
    qint64 runs = 0;
    for (int y = 0; y < kept.height(); ++y) {
        const uchar *line = kept.constScanLine(y);
        std::uint32_t previous = 0; // the last bit of the word before, in bit 0
        for (int x = 0, word = 0; x < kept.width(); x += 32, ++word) {
            const std::uint32_t bits = loadWord(line, word);
            // A run starts at each set bit whose left neighbour is clear.
            runs += qPopulationCount(bits & ~((bits << 1) | previous));
            previous = bits >> 31;
        }
    }
    return runs;
}

QRegion keptRegion(const QImage &kept)
{
    if (kept.isNull())
        return QRegion();
    // Room for one rectangle a run: the most there can be.
    BandedRegion region(std::size_t(runCount(kept)));
    for (int y = 0; y < kept.height(); ++y)
        forEachRun(kept.constScanLine(y), kept.width(),
                   [&](int left, int right) { region.addSpan(left, right, y); });
    return region.take();
}

QRegion pictureShape(const QImage &picture)
{
    return keptRegion(keptPixels(picture));
}

QRegion pictureShape(const QPixmap &picture)
{
    // For the raster pixmaps of the desktop platforms this shares the pixels: no copy.
    return pictureShape(picture.toImage());
}

void applyShape(QWidget &window, const QRegion &shape)
{
    // A one-pixel region just outside the window: a mask that is not empty, yet covers none of
    // the window's pixels.
    window.setMask(shape.isEmpty() ? QRegion(-1, -1, 1, 1) : shape);
}
