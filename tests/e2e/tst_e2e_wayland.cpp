// picwnd on a Wayland desktop: a headless weston beside the suite's X server, as Wayland desktops
// run XWayland beside their compositor.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"
#include "westonsession.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

namespace {

const QColor background(0x20, 0x40, 0x60);

// An X display that no server serves.
QString deadDisplay()
{
    for (int number = 4242;; ++number)
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            return QStringLiteral(":%1").arg(number);
}

} // namespace

class TestEndToEndWayland : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void appearsOnXShapedAndPlacedOnAWaylandDesktop();
    void takesWaylandWhereTheUserAsksOrThereIsNoX_data();
    void takesWaylandWhereTheUserAsksOrThereIsNoX();

private:
    std::unique_ptr<WestonSession> m_weston;
};

void TestEndToEndWayland::initTestCase()
{
    startDisplay();
    m_weston = std::make_unique<WestonSession>();
    QVERIFY2(m_weston->error().isEmpty(), qPrintable(m_weston->error()));
}

void TestEndToEndWayland::init()
{
    freshStart();
}

void TestEndToEndWayland::appearsOnXShapedAndPlacedOnAWaylandDesktop()
{
    const QImage image = stickerPicture(64, 48);
    savePicture(QDir(m_dir->path()), QStringLiteral("sticker.png"), image);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 100 b c 120 d");

    PicwndProcess picwnd(m_weston->desktop(m_session->environment()),
                         {QStringLiteral("sticker.png")}, m_dir->path());
    const xcb_window_t window = picwnd.waitForWindow(*m_x);
    QVERIFY2(window != XCB_NONE, picwnd.standardError().constData());
    QCOMPARE(m_x->geometry(window), QRect(100, 120, 64, 48));
    QVERIFY(sameArea(m_x->shape(window), opaquePart(image)));
    const std::vector<std::uint32_t> state = m_x->cardinals(window, "_NET_WM_STATE");
    QVERIFY(std::find(state.begin(), state.end(), m_x->atom("_NET_WM_STATE_ABOVE")) != state.end());
    QString difference;
    QVERIFY2(m_x->waitUntil(
                 [&] {
                     difference = firstDifference(m_x->grab(QRect(100, 120, 64, 48)),
                                                  seenOver(image, background));
                     return difference.isEmpty();
                 },
                 5000),
             qPrintable(difference));

    // The keys move it, as on X11.
    QVERIFY(focusByClick(*m_x, window));
    m_x->tapKey('h');
    QVERIFY(m_x->waitUntil([&] { return m_x->geometry(window) == QRect(110, 120, 64, 48); }, 5000));
}

void TestEndToEndWayland::takesWaylandWhereTheUserAsksOrThereIsNoX_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment"); // NAME=value to set, NAME alone to remove

    const QString picture = QStringLiteral("sticker.png");
    QTest::newRow("-platform wayland")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("wayland"), picture}
        << QStringList();
    QTest::newRow("--platform wayland after the picture")
        << QStringList{picture, QStringLiteral("--platform"), QStringLiteral("wayland")}
        << QStringList();
    QTest::newRow("QT_QPA_PLATFORM")
        << QStringList{picture} << QStringList{QStringLiteral("QT_QPA_PLATFORM=wayland")};
    QTest::newRow("no X display") << QStringList{picture} << QStringList{QStringLiteral("DISPLAY")};
    QTest::newRow("X display unreachable")
        << QStringList{picture} << QStringList{QStringLiteral("DISPLAY=") + deadDisplay()};
}

void TestEndToEndWayland::takesWaylandWhereTheUserAsksOrThereIsNoX()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);

    savePicture(QDir(m_dir->path()), QStringLiteral("sticker.png"), stickerPicture(64, 48));
    QProcessEnvironment changed = m_weston->desktop(m_session->environment());
    // The client's side of the Wayland protocol, on standard error.
    changed.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    for (const QString &entry : environment) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0)
            changed.remove(entry);
        else
            changed.insert(entry.left(equals), entry.mid(equals + 1));
    }

    PicwndProcess picwnd(changed, arguments, m_dir->path());
    // Shown on weston: a top-level surface that got a buffer of pixels.
    QVERIFY2(picwnd.waitForStandardError("xdg_toplevel", 10000),
             picwnd.standardError().constData());
    QVERIFY2(picwnd.waitForStandardError(".attach(wl_buffer", 10000),
             picwnd.standardError().right(2000).constData());
    QVERIFY(picwnd.isRunning());
    // And not on X.
    QCOMPARE(m_x->findWindow(picwnd.pid()), XCB_NONE);
    QCOMPARE(m_x->mapNotifyCount(), 0);
}

QTEST_MAIN(TestEndToEndWayland)
#include "tst_e2e_wayland.moc"
