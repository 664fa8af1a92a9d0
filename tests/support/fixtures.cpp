#include "fixtures.h"

#include "xclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPainter>
#include <QTest>

#include <vector>

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

void verifyScreen(XClient &x, const QRect &area, const QImage &expected, int timeoutMs)
{
    QString difference;
    const bool same = x.waitUntil(
        [&] {
            difference = firstDifference(x.grab(area), expected);
            return difference.isEmpty();
        },
        timeoutMs);
    QVERIFY2(same, qPrintable(difference));
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QString savePicture(const QDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path))
        qFatal("cannot save the test picture %s", qPrintable(path));
    return path;
}

QByteArray gifData(const QImage &image)
{
    // Colour table: the image's colours in order of appearance, padded to 128 entries.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QList<QRgb> palette;
    std::vector<int> indices;
    indices.reserve(std::size_t(rgb.width()) * std::size_t(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb colour = rgb.pixel(x, y) & 0xffffffu;
            qsizetype index = palette.indexOf(colour);
            if (index < 0) {
                if (palette.size() == 128)
                    qFatal("gifData: more than 128 colours");
                index = palette.size();
                palette.append(colour);
            }
            indices.push_back(int(index));
        }
    palette.resize(128);

    QByteArray gif("GIF89a");
    const auto word = [&gif](int value) {
        gif.append(char(value & 0xff));
        gif.append(char((value >> 8) & 0xff));
    };
    word(rgb.width());
    word(rgb.height());
    gif.append(char(0xf6)); // global colour table of 2^(6+1) entries, 8 bits a primary
    gif.append('\0');       // background colour
    gif.append('\0');       // pixel aspect ratio
    for (const QRgb colour : palette) {
        gif.append(char(qRed(colour)));
        gif.append(char(qGreen(colour)));
        gif.append(char(qBlue(colour)));
    }
    gif.append(',');
    word(0);
    word(0);
    word(rgb.width());
    word(rgb.height());
    gif.append('\0'); // no local colour table, not interlaced

    // LZW with 7-bit pixels: 8-bit codes throughout, since a clear code before the table grows to
    // 256 entries keeps the decoder from ever widening them. Every pixel is a code of its own.
    constexpr int clearCode = 128;
    constexpr int endCode = 129;
    QByteArray codes;
    codes.append(char(clearCode));
    int sinceClear = 0;
    for (const int index : indices) {
        if (sinceClear == 120) {
            codes.append(char(clearCode));
            sinceClear = 0;
        }
        codes.append(char(index));
        ++sinceClear;
    }
    codes.append(char(endCode));
    gif.append(char(7)); // minimum code size
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        gif.append(char(block.size()));
        gif.append(block);
    }
    gif.append('\0');
    gif.append(';');
    return gif;
}
