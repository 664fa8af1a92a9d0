// picwnd at device pixel ratios other than 1: every device pixel of the window shows the picture
// pixel under its centre, and the desktop exactly where that pixel is opaque white.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QDir>
#include <QTest>

#include <cstdint>

namespace {

const QColor background(0x20, 0x40, 0x60);

// Neighbouring pixels all differ, so a pixel shown one place off shows; single white pixels, a
// white block, white along the edges, and near-white pixels that stay part of the window.
QImage intricatePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            QRgb colour = qRgb(30 + (x * 37) % 200, 30 + (y * 53) % 200, (x + y) % 2 ? 70 : 190);
            if ((x % 7 == 3 && y % 5 == 2) ||
                (x >= width / 3 && x < width / 3 + 5 && y >= 4 && y < 9) ||
                ((x == 0 || x == width - 1) && y % 3 == 0) || y == height - 1)
                colour = qRgb(255, 255, 255);
            else if (x % 11 == 5 && y % 4 == 1)
                colour = qRgb(254, 255, 255);
            image.setPixel(x, y, colour);
        }
    return image;
}

// The picture pixel under the centre of device pixel i of count, for a picture of size pixels.
int under(int i, int count, int size)
{
    return static_cast<int>((2 * std::int64_t{i} + 1) * size / (2 * std::int64_t{count}));
}

// What the window shows of picture in deviceSize device pixels over the background, and which
// of those pixels are part of the window.
QImage shownPicture(const QImage &picture, QSize deviceSize)
{
    QImage shown(deviceSize, QImage::Format_RGB32);
    for (int y = 0; y < deviceSize.height(); ++y)
        for (int x = 0; x < deviceSize.width(); ++x) {
            const QRgb pixel = picture.pixel(under(x, deviceSize.width(), picture.width()),
                                             under(y, deviceSize.height(), picture.height()));
            shown.setPixel(x, y, pixel == 0xffffffffu ? background.rgb() : pixel);
        }
    return shown;
}

QRegion shownShape(const QImage &picture, QSize deviceSize)
{
    QImage pixels(deviceSize, QImage::Format_RGB32);
    for (int y = 0; y < deviceSize.height(); ++y)
        for (int x = 0; x < deviceSize.width(); ++x)
            pixels.setPixel(x, y,
                            picture.pixel(under(x, deviceSize.width(), picture.width()),
                                          under(y, deviceSize.height(), picture.height())));
    return opaquePart(pixels);
}

// The toolkit maps logical pixels to device pixels by multiplying and rounding.
int device(int logical, double ratio)
{
    return qRound(logical * ratio);
}

} // namespace

class TestEndToEndHighDpi : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void cutOutMatchesTheDrawnPictureInDevicePixels_data();
    void cutOutMatchesTheDrawnPictureInDevicePixels();
};

void TestEndToEndHighDpi::initTestCase()
{
    startDisplay();
}

void TestEndToEndHighDpi::init()
{
    freshStart();
}

void TestEndToEndHighDpi::cutOutMatchesTheDrawnPictureInDevicePixels_data()
{
    QTest::addColumn<QString>("scaleFactor");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("pixels");  // of the picture file
    QTest::addColumn<QSize>("logical"); // the window's size in logical pixels

    const QSize odd(41, 31);
    const QSize doubled(82, 62);
    QTest::newRow("ratio 1") << QStringLiteral("1") << QStringLiteral("picture.png") << odd << odd;
    QTest::newRow("ratio 1.5") << QStringLiteral("1.5") << QStringLiteral("picture.png") << odd
                               << odd;
    QTest::newRow("ratio 2") << QStringLiteral("2") << QStringLiteral("picture.png") << odd << odd;
    // A picture made for ratio 2 has half its pixel size in logical pixels everywhere.
    QTest::newRow("@2x at ratio 1")
        << QStringLiteral("1") << QStringLiteral("picture@2x.png") << doubled << odd;
    QTest::newRow("@2x at ratio 2")
        << QStringLiteral("2") << QStringLiteral("picture@2x.png") << doubled << odd;
    QTest::newRow("@2x at ratio 1.5")
        << QStringLiteral("1.5") << QStringLiteral("picture@2x.png") << doubled << odd;
}

void TestEndToEndHighDpi::cutOutMatchesTheDrawnPictureInDevicePixels()
{
    QFETCH(QString, scaleFactor);
    QFETCH(QString, name);
    QFETCH(QSize, pixels);
    QFETCH(QSize, logical);
    const double ratio = scaleFactor.toDouble();

    const QImage picture = intricatePicture(pixels.width(), pixels.height());
    savePicture(QDir(m_dir->path()), name, picture);
    // The placement file and the keys work in logical pixels.
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 100 b c 120 d");

    QProcessEnvironment environment = m_session->environment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scaleFactor);
    PicwndProcess picwnd(environment, {name}, m_dir->path());
    const xcb_window_t window = picwnd.waitForWindow(*m_x);
    QVERIFY2(window != XCB_NONE, picwnd.standardError().constData());

    const QSize deviceSize(device(logical.width(), ratio), device(logical.height(), ratio));
    QRect expected(QPoint(device(100, ratio), device(120, ratio)), deviceSize);
    QCOMPARE(m_x->geometry(window), expected);
    QVERIFY(sameArea(m_x->shape(window), shownShape(picture, deviceSize)));
    const QImage shown = shownPicture(picture, deviceSize);
    verifyScreen(*m_x, expected, shown);

    // Right 10 and down 2 logical pixels.
    QVERIFY(focusByClick(*m_x, window));
    for (const char key : {'h', 's', 's'})
        m_x->tapKey(static_cast<std::uint32_t>(key));
    expected.moveTopLeft(QPoint(device(110, ratio), device(122, ratio)));
    QVERIFY2(m_x->waitUntil([&] { return m_x->geometry(window) == expected; }, 5000),
             qPrintable(QStringLiteral("at %1,%2")
                            .arg(m_x->geometry(window).x())
                            .arg(m_x->geometry(window).y())));
    verifyScreen(*m_x, expected, shown);
}

QTEST_MAIN(TestEndToEndHighDpi)
#include "tst_e2e_hidpi.moc"
