#include "screenpicture.h"
#include "windowshape.h"

#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QTest>

#include <vector>

namespace {

// Rows of distinct pixels: the value of each is its column.
QImage row(int width, int height = 1)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x, 0, 0));
    return image;
}

std::vector<int> indices(const QImage &image)
{
    std::vector<int> result;
    for (int x = 0; x < image.width(); ++x)
        result.push_back(qRed(image.pixel(x, 0)));
    return result;
}

} // namespace

class TestScreenPicture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsThePixelUnderEachCentre_data();
    void showsThePixelUnderEachCentre();
    void keepsAPictureThatFitsAsItIs();
    void coversEveryDevicePixelInLogicalPixels();
};

void TestScreenPicture::showsThePixelUnderEachCentre_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<std::vector<int>>("expected");

    QTest::newRow("same size") << 4 << 4 << std::vector<int>{0, 1, 2, 3};
    QTest::newRow("doubled") << 3 << 6 << std::vector<int>{0, 0, 1, 1, 2, 2};
    QTest::newRow("by 1.5") << 4 << 6 << std::vector<int>{0, 1, 1, 2, 3, 3};
    QTest::newRow("halved: every second pixel") << 6 << 3 << std::vector<int>{1, 3, 5};
    QTest::newRow("odd size by 1.5") << 3 << 5 << std::vector<int>{0, 0, 1, 2, 2};
}

void TestScreenPicture::showsThePixelUnderEachCentre()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(std::vector<int>, expected);
    const QImage scaled = nearestScaled(row(from), QSize(to, 1));
    QCOMPARE(scaled.size(), QSize(to, 1));
    QCOMPARE(indices(scaled), expected);
}

void TestScreenPicture::keepsAPictureThatFitsAsItIs()
{
    const QPixmap picture = QPixmap::fromImage(row(8));
    QCOMPARE(pictureForScreen(picture, 1.0).cacheKey(), picture.cacheKey());

    const QPixmap doubled = pictureForScreen(picture, 2.0);
    QCOMPARE(doubled.size(), QSize(16, 2));
    QCOMPARE(doubled.devicePixelRatio(), 2.0);
    QCOMPARE(doubled.deviceIndependentSize().toSize(), QSize(8, 1));

    // A picture made for ratio 2 is shown as it is there, and at half its size at ratio 1.
    QPixmap made = QPixmap::fromImage(row(8, 2));
    made.setDevicePixelRatio(2.0);
    QCOMPARE(pictureForScreen(made, 2.0).cacheKey(), made.cacheKey());
    const QPixmap ordinary = pictureForScreen(made, 1.0);
    QCOMPARE(ordinary.size(), QSize(4, 1));
    QCOMPARE(indices(ordinary.toImage()), (std::vector<int>{1, 3, 5, 7}));
}

void TestScreenPicture::coversEveryDevicePixelInLogicalPixels()
{
    const QRegion device = QRegion(0, 0, 1, 1) + QRegion(3, 2, 3, 1);
    QCOMPARE(logicalShape(device, 1.0), device);
    // At 1.5, device pixel 0 lies in logical pixel 0; 3..5 in 2..3; row 2 in row 1.
    QCOMPARE(logicalShape(device, 1.5), QRegion(0, 0, 1, 1) + QRegion(2, 1, 2, 1));
}

QTEST_MAIN(TestScreenPicture)
#include "tst_screenpicture.moc"
