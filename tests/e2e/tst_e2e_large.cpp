// picwnd with pictures that push the limits: shapes of millions of rectangles, a 50-megapixel
// photo, and files that claim absurd sizes.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int showTimeoutMs = 60000;

// Saves image as a PNG with little compression: quick to write and to read.
QString saveQuickly(const QDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    QImageWriter writer(path, "png");
    writer.setCompression(1);
    if (!writer.write(image))
        qFatal("cannot save %s: %s", qPrintable(path), qPrintable(writer.errorString()));
    return path;
}

// Opaque white on every pixel whose coordinates add up to an even number, black elsewhere: one
// rectangle of the shape for every black pixel.
QImage checkerboard(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size; ++x)
            line[x] = (x + y) % 2 ? 0xff000000u : 0xffffffffu;
    }
    return image;
}

// The black squares of checkerboard(size), built band by band as the region keeps them.
QRegion checkerboardShape(int size)
{
    std::vector<QRect> rects;
    rects.reserve(std::size_t(size) * std::size_t(size) / 2);
    for (int y = 0; y < size; ++y)
        for (int x = (y + 1) % 2; x < size; x += 2)
            rects.emplace_back(x, y, 1, 1);
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

// Dark colours with the given share of opaque-white pixels scattered among them.
QImage whiteNoise(QSize size, int whitePercent)
{
    QImage image(size, QImage::Format_RGB32);
    std::uint32_t state = 2463534242u; // xorshift32
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            line[x] = state % 100 < std::uint32_t(whitePercent) ? 0xffffffffu
                                                                : 0xff000000u | (state & 0x7f7f7fu);
        }
    }
    return image;
}

// Smooth gradients, blocks of texture and a large white sky, like a photo: 8160x6120 is what
// 50-megapixel cameras take.
QImage photo(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const bool skyRow = y < size.height() / 4;
        for (int x = 0; x < size.width(); ++x) {
            if (skyRow && x > size.width() / 3)
                line[x] = 0xffffffffu;
            else
                line[x] = qRgb(30 + x * 180 / size.width(), 30 + y * 180 / size.height(),
                               80 + ((x / 96 + y / 96) % 2) * 60 + (x * y) % 7);
        }
    }
    return image;
}

std::uint32_t crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray &bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xffu));
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    const QByteArray typed = QByteArray(type) + data;
    png.append(typed);
    appendBigEndian(png, crc32(typed));
}

// A valid PNG header claiming width x height RGB pixels, followed by a few KB of image data.
QByteArray pngClaiming(std::uint32_t width, std::uint32_t height)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.append("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", qCompress(QByteArray(64 * 1024, '\0')).mid(4)); // a zlib stream
    appendChunk(png, "IEND", QByteArray());
    return png;
}

// A small real JPEG whose frame header claims width x height.
QByteArray jpegClaiming(std::uint16_t width, std::uint16_t height)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImage(32, 32, QImage::Format_RGB32).save(&buffer, "JPG");
    const qsizetype frame = jpeg.indexOf("\xff\xc0");
    if (frame < 0)
        qFatal("no baseline frame header in the JPEG");
    // Marker (2), length (2), precision (1), then height and width, big-endian.
    jpeg[frame + 5] = static_cast<char>(height >> 8);
    jpeg[frame + 6] = static_cast<char>(height & 0xff);
    jpeg[frame + 7] = static_cast<char>(width >> 8);
    jpeg[frame + 8] = static_cast<char>(width & 0xff);
    return jpeg;
}

} // namespace

class TestEndToEndLarge : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void showsTheExactShapeOfIntricatePictures_data();
    void showsTheExactShapeOfIntricatePictures();
    void showsA50MegapixelPhoto();
    void refusesAPictureThatClaimsHugeDimensions_data();
    void refusesAPictureThatClaimsHugeDimensions();

private:
    // Window managers and compositors take their time over shapes of millions of rectangles,
    // however they were set (openbox keeps the X server busy for minutes): the shape itself is
    // looked at on a display of its own without either.
    std::unique_ptr<XSession> m_bare;
    std::unique_ptr<XClient> m_bareX;
    QTemporaryDir m_pictures; // made once for the whole run
};

void TestEndToEndLarge::initTestCase()
{
    QVERIFY(m_pictures.isValid());
    startDisplay();
    XSession::Options bare;
    bare.windowManager = false;
    bare.compositor = false;
    m_bare = std::make_unique<XSession>(bare);
    QVERIFY2(m_bare->error().isEmpty(), qPrintable(m_bare->error()));
    m_bareX = std::make_unique<XClient>(m_bare->display());
    QVERIFY(m_bareX->isConnected());
}

void TestEndToEndLarge::init()
{
    m_x->clearEvents();
}

void TestEndToEndLarge::cleanupTestCase()
{
    m_bareX.reset();
    m_bare.reset();
    // Converting the big pictures starts the toolkit's worker threads. Ended here, they are not
    // still winding down while LeakSanitizer stops the process at exit in the sanitizer build
    // (its tracer has been seen to crash on such a thread).
    QThreadPool::globalInstance()->waitForDone();
}

void TestEndToEndLarge::showsTheExactShapeOfIntricatePictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRegion>("expected");

    // Past about 2.1 million rectangles, one request of them is more than the X server takes.
    const QDir dir(m_pictures.path());
    QTest::newRow("checkerboard of 2896x2896, 4.2 million rectangles")
        << saveQuickly(dir, QStringLiteral("checkerboard.png"), checkerboard(2896))
        << QSize(2896, 2896) << checkerboardShape(2896);
    const QImage noise = whiteNoise(QSize(3840, 2160), 30);
    QTest::newRow("4K with 30% scattered white pixels")
        << saveQuickly(dir, QStringLiteral("noise.png"), noise) << noise.size()
        << opaquePart(noise);
}

void TestEndToEndLarge::showsTheExactShapeOfIntricatePictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QRegion, expected);

    PicwndProcess picwnd(*m_bare, {path}, m_pictures.path());
    const xcb_window_t window = picwnd.waitForWindow(*m_bareX, showTimeoutMs);
    QVERIFY2(window != XCB_NONE, picwnd.standardError().constData());
    QCOMPARE(m_bareX->geometry(window).size(), size);
    const QRegion shape = m_bareX->shape(window);
    QCOMPARE(shape.rectCount(), expected.rectCount());
    QVERIFY(sameArea(shape, expected));
    QVERIFY2(picwnd.isRunning(), picwnd.standardError().constData());
}

void TestEndToEndLarge::showsA50MegapixelPhoto()
{
    // 8160x6120 at 4 bytes a pixel is 190 MiB decoded, over the toolkit's own limit of 128 MiB.
    const QString path = m_pictures.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(photo(QSize(8160, 6120)).save(path, "JPG", 90));
    QImage decoded;
    {
        QImageReader reader(path);
        reader.setAllocationLimit(0);
        decoded = reader.read();
    }
    QVERIFY(!decoded.isNull());

    PicwndProcess picwnd(*m_session, {path}, m_pictures.path());
    const xcb_window_t window = picwnd.waitForWindow(*m_x, showTimeoutMs);
    QVERIFY2(window != XCB_NONE, picwnd.standardError().constData());
    QCOMPARE(m_x->geometry(window).size(), QSize(8160, 6120));
    const QRegion shape = m_x->shape(window);
    qInfo("%d rectangles", shape.rectCount());
    QVERIFY(sameArea(shape, opaquePart(decoded)));
    QCOMPARE(picwnd.standardError(), QByteArray());
}

void TestEndToEndLarge::refusesAPictureThatClaimsHugeDimensions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("PNG of 100000x100000")
        << QStringLiteral("bomb.png") << pngClaiming(100000, 100000)
        << QByteArray("picwnd: bomb.png: picture of 100000x100000 pixels is larger than the "
                      "limit of 512 MiB\n");
    QTest::newRow("JPEG of 65500x65500")
        << QStringLiteral("bomb.jpg") << jpegClaiming(65500, 65500)
        << QByteArray("picwnd: bomb.jpg: picture of 65500x65500 pixels is larger than the "
                      "limit of 512 MiB\n");
}

void TestEndToEndLarge::refusesAPictureThatClaimsHugeDimensions()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, message);
    QVERIFY(content.size() < 16 * 1024);
    writeFile(m_pictures.filePath(name), content);

    const FinishedRun run = runToEnd(m_session->environment(), {name}, m_pictures.path(), 10000);
    QVERIFY2(run.ended, "picwnd waits instead of ending");
    QVERIFY(run.exitedNormally);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.standardOutput, QByteArray());
    QCOMPARE(run.standardError, message);
    QCOMPARE(m_x->mapNotifyCount(), 0);
    // The claimed size is tens of GiB; the program itself needs about 30 MiB.
    qInfo("peak resident memory %ld KiB", run.peakResidentKiB);
    QVERIFY2(run.peakResidentKiB > 0 && run.peakResidentKiB < 100 * 1024,
             qPrintable(QString::number(run.peakResidentKiB)));
}

QTEST_MAIN(TestEndToEndLarge)
#include "tst_e2e_large.moc"
