// picwnd on a desktop of two screens side by side: 800x600 on the left, 640x480 on the right,
// their tops level (RandR monitors on one Xvfb screen, as a desktop of two monitors shows itself).

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QDir>
#include <QTest>

#include <cstdint>
#include <memory>

namespace {

const QColor background(0x20, 0x40, 0x60);
const QRect left(0, 0, 800, 600);
const QRect right(800, 0, 640, 480);
const QSize pictureSize(64, 48);

} // namespace

class TestEndToEndScreens : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void appearsCentredOnItsScreenWithoutPlacementFile();
    void placesOnEitherScreen_data();
    void placesOnEitherScreen();
    void keysMoveItAcrossTheSeamAndOffEveryScreenAndBack();

private:
    std::unique_ptr<PicwndProcess> show(xcb_window_t &window);
    // Waits until the window is at topLeft with its shape intact.
    void verifyPlace(xcb_window_t window, QPoint topLeft);
    // Waits until the part of the window on the desktop shows the picture.
    void verifyScreen(const QRect &geometry);

    QImage m_image;
};

void TestEndToEndScreens::initTestCase()
{
    m_image = stickerPicture(pictureSize.width(), pictureSize.height());
    XSession::Options options;
    options.screens = {QStringLiteral("1440x600x24")};
    options.monitors = {left, right};
    startDisplay(options);
}

void TestEndToEndScreens::init()
{
    freshStart();
    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), m_image);
}

std::unique_ptr<PicwndProcess> TestEndToEndScreens::show(xcb_window_t &window)
{
    auto picwnd = std::make_unique<PicwndProcess>(*m_session, QStringList(), m_dir->path());
    window = picwnd->waitForWindow(*m_x);
    return picwnd;
}

void TestEndToEndScreens::verifyPlace(xcb_window_t window, QPoint topLeft)
{
    QVERIFY2(m_x->waitUntil([&] { return m_x->geometry(window).topLeft() == topLeft; }, 5000),
             qPrintable(QStringLiteral("at %1,%2, expected %3,%4")
                            .arg(m_x->geometry(window).x())
                            .arg(m_x->geometry(window).y())
                            .arg(topLeft.x())
                            .arg(topLeft.y())));
    QCOMPARE(m_x->geometry(window).size(), pictureSize);
    QVERIFY(sameArea(m_x->shape(window), opaquePart(m_image)));
}

void TestEndToEndScreens::verifyScreen(const QRect &geometry)
{
    const QRect visible = geometry.intersected(QRect(0, 0, 1440, 600));
    const QImage expected =
        seenOver(m_image, background).copy(visible.translated(-geometry.topLeft()));
    QString difference;
    QVERIFY2(m_x->waitUntil(
                 [&] {
                     difference = firstDifference(m_x->grab(visible), expected);
                     return difference.isEmpty();
                 },
                 5000),
             qPrintable(difference));
}

void TestEndToEndScreens::appearsCentredOnItsScreenWithoutPlacementFile()
{
    xcb_window_t window = XCB_NONE;
    auto picwnd = show(window);
    QVERIFY(window != XCB_NONE);
    // The first screen is the primary one, where the toolkit puts a new splash screen.
    QRect expected(QPoint(), pictureSize);
    expected.moveCenter(left.center());
    QCOMPARE(m_x->geometry(window), expected);
    verifyScreen(expected);
}

void TestEndToEndScreens::placesOnEitherScreen_data()
{
    QTest::addColumn<QPoint>("place");
    QTest::newRow("left screen") << QPoint(100, 90);
    QTest::newRow("right screen") << QPoint(1200, 300);
    QTest::newRow("right screen, far corner") << QPoint(1376, 432);
}

void TestEndToEndScreens::placesOnEitherScreen()
{
    QFETCH(QPoint, place);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")),
              QStringLiteral("a %1 b c %2 d").arg(place.x()).arg(place.y()).toLatin1());
    xcb_window_t window = XCB_NONE;
    auto picwnd = show(window);
    QVERIFY(window != XCB_NONE);
    QCOMPARE(m_x->geometry(window), QRect(place, pictureSize));
    QVERIFY(sameArea(m_x->shape(window), opaquePart(m_image)));
    verifyScreen(QRect(place, pictureSize));
}

void TestEndToEndScreens::keysMoveItAcrossTheSeamAndOffEveryScreenAndBack()
{
    const QPoint start(810, 100); // on the right screen, just past the seam
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 810 b c 100 d");
    xcb_window_t window = XCB_NONE;
    auto picwnd = show(window);
    QVERIFY(window != XCB_NONE);
    verifyPlace(window, start);
    QVERIFY(focusByClick(*m_x, window));

    const auto press = [&](char key, int times) {
        for (int i = 0; i < times; ++i)
            m_x->tapKey(static_cast<std::uint32_t>(key));
    };
    // Left across the seam onto the first screen, 1 pixel at a time for the last stretch.
    press('j', 2);
    press('a', 5);
    verifyPlace(window, QPoint(765, 100));
    verifyScreen(QRect(QPoint(765, 100), pictureSize));
    // On past the left edge of the desktop and above its top: off every screen.
    press('j', 40);
    press('f', 1);
    press('i', 10);
    verifyPlace(window, QPoint(-45, -100));
    // Right across both screens into the corner below the shorter right screen, which no
    // screen shows, and past the right edge of the desktop.
    press('k', 25);
    press('l', 50);
    verifyPlace(window, QPoint(955, 400));
    press('g', 10);
    press('h', 60);
    press('d', 1);
    verifyPlace(window, QPoint(1556, 500));
    // And back to where it started, shape and picture intact.
    press('t', 40);
    press('f', 74);
    press('a', 6);
    verifyPlace(window, start);
    verifyScreen(QRect(start, pictureSize));
    QVERIFY(picwnd->isRunning());
}

QTEST_MAIN(TestEndToEndScreens)
#include "tst_e2e_screens.moc"
