#include "shape.h"

#include <QBitmap>
#include <QColor>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QRandomGenerator>
#include <QRect>
#include <QRegion>
#include <QTest>
#include <QWidget>

#include <vector>

Q_DECLARE_METATYPE(QImage::Format)

namespace {

constexpr QRgb white = 0xffffffffu;

// What the window's shape used to be made with, and has to stay identical to.
QRegion toolkitShape(const QPixmap &pixmap)
{
    QColor opaqueWhite;
    opaqueWhite.setRgb(255, 255, 255, 255);
    return QRegion(pixmap.createMaskFromColor(opaqueWhite));
}

QList<QRect> rectsOf(const QRegion &region)
{
    return QList<QRect>(region.begin(), region.end());
}

QImage filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Pixels drawn from colours, with the given share of opaque white.
QImage noise(int width, int height, double whiteShare, quint32 seed,
             const std::vector<QRgb> &colours = {0xff000000u, 0xff336699u, 0xfffeffffu, 0xfffffffeu,
                                                 0xfeffffffu, 0x80ffffffu, 0x00ffffffu,
                                                 0x00000000u})
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           random.generateDouble() < whiteShare
                               ? white
                               : colours[random.bounded(quint32(colours.size()))]);
    return image;
}

// Rows taken from a few patterns, each repeated a few times: single runs that line up, rows of
// two runs that repeat, empty rows and rows whose first run matches the single run above. The
// toolkit builds such regions through every one of its paths (extending a rectangle downwards,
// appending, and rebuilding everything through its general union), in changing order.
QImage repeatedRows(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    const auto row = [width](std::initializer_list<std::pair<int, int>> runs) {
        std::vector<bool> kept(std::size_t(width), false);
        for (const auto &[from, to] : runs)
            for (int x = from; x <= to; ++x)
                kept[std::size_t(x)] = true;
        return kept;
    };
    const std::vector<std::vector<bool>> patterns = {
        row({{2, 5}}),
        row({{2, 5}, {8, 9}}),
        row({{2, 5}, {8, 9}, {11, 11}}),
        row({}),
        row({{0, 11}}),
        row({{8, 9}}),
        row({{2, 5}, {7, 9}}),
        row({{0, 0}, {2, 5}}),
    };
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height;) {
        const std::vector<bool> &pattern = patterns[random.bounded(quint32(patterns.size()))];
        for (int repeat = int(random.bounded(1, 4)); repeat > 0 && y < height; --repeat, ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, pattern[std::size_t(x)] ? 0xff204080u : white);
    }
    return image;
}

QImage checkerboard(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, (x + y) % 2 ? white : 0xff000000u);
    return image;
}

// A ring on white: rows of one run above and below rows of two.
QImage ring(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(white);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - c, dy = y + 0.5 - c;
            const double d = dx * dx + dy * dy;
            if (d < c * c * 0.8 && d > c * c * 0.2)
                image.setPixel(x, y, 0xffc04000u);
        }
    return image;
}

} // namespace

class TestShape : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isTheToolkitsMaskRegion_data();
    void isTheToolkitsMaskRegion();
    void isTheToolkitsMaskRegionInEveryFormat_data();
    void isTheToolkitsMaskRegionInEveryFormat();
    void keepsEverythingButOpaqueWhite();
    void isEmptyForANullPicture();
    void marksTheKeptPixelsBitByBit_data();
    void marksTheKeptPixelsBitByBit();
    void appliesTheShapeAsTheWidgetsMask_data();
    void appliesTheShapeAsTheWidgetsMask();
};

void TestShape::isTheToolkitsMaskRegion_data()
{
    QTest::addColumn<QImage>("image");

    QImage mixed(6, 2, QImage::Format_ARGB32);
    const QRgb row[] = {white, 0xfffeffffu, 0xfeffffffu, 0x80ffffffu, 0x00ffffffu, 0xfffffffeu};
    for (int x = 0; x < 6; ++x) {
        mixed.setPixel(x, 0, row[x]);
        mixed.setPixel(x, 1, row[5 - x]);
    }
    QTest::newRow("white, near-white, translucent, transparent") << mixed;
    QTest::newRow("alpha gradient") << [] {
        QImage image(40, 9, QImage::Format_ARGB32);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 40; ++x)
                image.setPixel(x, y, x % 3 ? white : qRgba(255, 255, 255, 255 - x * 6 - y));
        return image;
    }();
    QTest::newRow("all white") << filled(70, 5, white);
    QTest::newRow("no white") << filled(70, 5, 0xff102030u);
    QTest::newRow("all near-white") << filled(65, 3, 0xfffeffffu);
    QTest::newRow("all transparent white") << filled(65, 3, 0x00ffffffu);
    QTest::newRow("checkerboard") << checkerboard(67, 31);
    QTest::newRow("ring") << ring(61);
    for (quint32 seed = 1; seed <= 6; ++seed)
        QTest::addRow("repeated rows %u", seed) << repeatedRows(12, 300, seed);
    QTest::newRow("noise 30% white") << noise(200, 150, 0.3, 7);
    QTest::newRow("noise 90% white") << noise(200, 150, 0.9, 8);
    QTest::newRow("noise 5% white") << noise(200, 150, 0.05, 9);
    QTest::newRow("noise of white and black") << noise(128, 64, 0.5, 10, {0xff000000u});
    for (const int width : {1, 2, 63, 64, 65, 127, 128, 129, 191})
        QTest::addRow("width %d", width) << noise(width, 9, 0.5, quint32(width), {0xff000000u});
    QTest::newRow("1x200") << noise(1, 200, 0.5, 11);
    QTest::newRow("200x1") << noise(200, 1, 0.5, 12);
    QTest::newRow("1x1 white") << filled(1, 1, white);
    QTest::newRow("1x1 black") << filled(1, 1, 0xff000000u);
    QTest::newRow("3000x7") << noise(3000, 7, 0.3, 13);
    QTest::newRow("3000x7 long runs") << [] {
        QImage image = filled(3000, 7, white);
        for (int y = 0; y < 7; ++y)
            for (int x = 100 * y; x < 3000 - 50 * y; ++x)
                image.setPixel(x, y, 0xff000000u);
        return image;
    }();
}

void TestShape::isTheToolkitsMaskRegion()
{
    QFETCH(QImage, image);
    // As the program gets the picture: a pixmap in the platform's own format.
    const QPixmap pixmap = QPixmap::fromImage(image);
    const QRegion expected = toolkitShape(pixmap);

    const QRegion shape = pictureShape(pixmap);
    QCOMPARE(shape, expected);
    QCOMPARE(shape.rectCount(), expected.rectCount());
    QCOMPARE(rectsOf(shape), rectsOf(expected));
    QCOMPARE(shape.boundingRect(), expected.boundingRect());
}

void TestShape::isTheToolkitsMaskRegionInEveryFormat_data()
{
    QTest::addColumn<QImage::Format>("format");
#define FORMAT(name) QTest::newRow(#name) << QImage::Format_##name
    FORMAT(RGB32);
    FORMAT(ARGB32);
    FORMAT(ARGB32_Premultiplied);
    FORMAT(RGB16);
    FORMAT(RGB888);
    FORMAT(BGR888);
    FORMAT(RGBX8888);
    FORMAT(RGBA8888);
    FORMAT(RGBA8888_Premultiplied);
    FORMAT(ARGB4444_Premultiplied);
    FORMAT(A2RGB30_Premultiplied);
    FORMAT(RGB30);
    FORMAT(RGBA64);
    FORMAT(RGBA64_Premultiplied);
    FORMAT(RGBA16FPx4);
    FORMAT(Grayscale8);
    FORMAT(Grayscale16);
    FORMAT(Alpha8);
    FORMAT(Indexed8);
    FORMAT(Mono);
    FORMAT(MonoLSB);
#undef FORMAT
}

void TestShape::isTheToolkitsMaskRegionInEveryFormat()
{
    QFETCH(QImage::Format, format);
    // Noise with runs that cross the 64-pixel steps of the scan, and more rows than one band of
    // the conversion.
    const QImage image = noise(150, 70, 0.4, 21).convertToFormat(format);
    const QPixmap pixmap = QPixmap::fromImage(image, Qt::NoFormatConversion);
    QCOMPARE(pixmap.toImage().format(), format);

    const QRegion shape = pictureShape(pixmap);
    const QRegion expected = toolkitShape(pixmap);
    QCOMPARE(shape, expected);
    QCOMPARE(rectsOf(shape), rectsOf(expected));
    QCOMPARE(pictureShape(image), expected);
}

void TestShape::keepsEverythingButOpaqueWhite()
{
    // The rule itself, spelled out: only exactly opaque white goes.
    QImage image(6, 1, QImage::Format_ARGB32);
    const QRgb row[] = {white, 0xfffeffffu, white, 0x00ffffffu, 0x80ffffffu, white};
    for (int x = 0; x < 6; ++x)
        image.setPixel(x, 0, row[x]);
    const QRegion shape = pictureShape(image);
    QCOMPARE(rectsOf(shape), QList<QRect>({QRect(1, 0, 1, 1), QRect(3, 0, 2, 1)}));

    // RGB32 reads as opaque whatever its unused top byte holds.
    QImage rgb = filled(3, 1, 0x00ffffffu);
    rgb.setPixel(1, 0, 0x00fffffeu);
    QVERIFY(rgb.reinterpretAsFormat(QImage::Format_RGB32));
    QCOMPARE(rectsOf(pictureShape(rgb)), QList<QRect>({QRect(1, 0, 1, 1)}));
    QCOMPARE(pictureShape(rgb), toolkitShape(QPixmap::fromImage(rgb, Qt::NoFormatConversion)));
}

void TestShape::isEmptyForANullPicture()
{
    QVERIFY(pictureShape(QImage()).isEmpty());
    QVERIFY(pictureShape(QPixmap()).isEmpty());
}

void TestShape::marksTheKeptPixelsBitByBit_data()
{
    QTest::addColumn<QImage>("image");
    QTest::newRow("noise 33x5") << noise(33, 5, 0.5, 31);
    QTest::newRow("noise 64x3") << noise(64, 3, 0.3, 32);
    QTest::newRow("ring") << ring(45);
    QTest::newRow("all white") << filled(40, 2, white);
    QTest::newRow("no white") << filled(40, 2, 0x00ffffffu);
}

void TestShape::marksTheKeptPixelsBitByBit()
{
    QFETCH(QImage, image);
    const QImage kept = keptPixels(image);
    QCOMPARE(kept.format(), QImage::Format_MonoLSB);
    QCOMPARE(kept.size(), image.size());

    qint64 runs = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = kept.constScanLine(y);
        bool inRun = false;
        for (int x = 0; x < image.width(); ++x) {
            const bool bit = (line[x / 8] >> (x % 8)) & 1;
            QCOMPARE(bit, image.pixel(x, y) != white);
            runs += bit && !inRun;
            inRun = bit;
        }
        // The padding bits after the last pixel stay clear.
        for (int x = image.width(); x < kept.bytesPerLine() * 8; ++x)
            QVERIFY(!((line[x / 8] >> (x % 8)) & 1));
    }
    QCOMPARE(runCount(kept), runs);
    QCOMPARE(keptRegion(kept), pictureShape(image));
}

void TestShape::appliesTheShapeAsTheWidgetsMask_data()
{
    QTest::addColumn<QImage>("image");
    QTest::newRow("ring") << ring(61);
    QTest::newRow("noise") << noise(90, 40, 0.3, 41);
    // More runs than one X request of rectangles holds (32765 on X.Org): on X11 the shape goes
    // to the server as a bitmap; elsewhere, as here, it is the widget's mask like any other.
    const QImage intricate = checkerboard(260, 260);
    QVERIFY(runCount(keptPixels(intricate)) > 32765);
    QTest::newRow("more runs than one X request holds") << intricate;
}

void TestShape::appliesTheShapeAsTheWidgetsMask()
{
    QFETCH(QImage, image);
    QWidget window;
    window.resize(image.size());
    applyShape(window, keptRegion(keptPixels(image)));
    QCOMPARE(window.mask(), toolkitShape(QPixmap::fromImage(image)));
}

QTEST_MAIN(TestShape)
#include "tst_shape.moc"
