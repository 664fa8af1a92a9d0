// The real picwnd on a real X server, with openbox and xcompmgr: what a user sees of the window.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

namespace {

const QColor background(0x20, 0x40, 0x60);
const QSize screen(1024, 768);
constexpr int exitTimeoutMs = 5000;

// Where a splash screen of this size goes: centred on the screen.
QPoint centred(QSize size)
{
    QRect rect(QPoint(), size);
    rect.moveCenter(QRect(QPoint(), screen).center());
    return rect.topLeft();
}

} // namespace

class TestEndToEndWindow : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void showsThePictureShapedOnTopAndWithoutFrame();
    void placesOffTheScreenWhereNoWindowManagerInterferes();
    void keepsNearWhiteTranslucentAndTransparentPixels();
    void showsNothingOfAnAllWhitePicture();
    void appearsCentredWithoutPlacementFile();
    void ignoresMousePresses();
    void failsAtOnceForAPictureItCannotShow_data();
    void failsAtOnceForAPictureItCannotShow();
    void findsThePictureAfterToolkitOptions_data();
    void findsThePictureAfterToolkitOptions();
    void resolvesPathsAgainstTheWorkingDirectory();

private:
    // Starts picwnd in the test's directory and waits for its window.
    std::unique_ptr<PicwndProcess> show(const QStringList &arguments, xcb_window_t &window);
    // Ends a running picwnd with the X key, as a user does; returns its standard output.
    QByteArray quitWithX(PicwndProcess &picwnd, xcb_window_t window);
};

void TestEndToEndWindow::initTestCase()
{
    startDisplay();
}

void TestEndToEndWindow::init()
{
    freshStart();
}

std::unique_ptr<PicwndProcess> TestEndToEndWindow::show(const QStringList &arguments,
                                                        xcb_window_t &window)
{
    auto picwnd = std::make_unique<PicwndProcess>(*m_session, arguments, m_dir->path());
    window = picwnd->waitForWindow(*m_x);
    return picwnd;
}

QByteArray TestEndToEndWindow::quitWithX(PicwndProcess &picwnd, xcb_window_t window)
{
    if (!focusByClick(*m_x, window)) {
        qWarning("picwnd did not get the focus");
        return {};
    }
    m_x->tapKey('x');
    if (!picwnd.waitForExit(exitTimeoutMs)) {
        qWarning("picwnd did not end on X");
        return {};
    }
    if (picwnd.exitStatus() != QProcess::NormalExit || picwnd.exitCode() != 0)
        qWarning("picwnd ended with %d", picwnd.exitCode());
    return picwnd.standardOutput();
}

void TestEndToEndWindow::showsThePictureShapedOnTopAndWithoutFrame()
{
    const QImage image = stickerPicture(64, 48);
    savePicture(QDir(m_dir->path()), QStringLiteral("sticker.png"), image);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "<x> 100 </x>\n<y> +0120 </y>\n");

    xcb_window_t window = XCB_NONE;
    auto picwnd = show({QStringLiteral("sticker.png")}, window);
    QVERIFY(window != XCB_NONE);

    const QRect geometry = m_x->geometry(window);
    QCOMPARE(geometry, QRect(100, 120, 64, 48));
    QVERIFY(sameArea(m_x->shape(window), opaquePart(image)));

    const std::vector<std::uint32_t> state = m_x->cardinals(window, "_NET_WM_STATE");
    QVERIFY(std::find(state.begin(), state.end(), m_x->atom("_NET_WM_STATE_ABOVE")) != state.end());
    const std::vector<std::uint32_t> type = m_x->cardinals(window, "_NET_WM_WINDOW_TYPE");
    QVERIFY(!type.empty());
    QCOMPARE(type.front(), m_x->atom("_NET_WM_WINDOW_TYPE_SPLASH"));
    // No frame: the window manager adds no border, so its frame is exactly the window.
    const std::vector<std::uint32_t> extents = m_x->cardinals(window, "_NET_FRAME_EXTENTS");
    QCOMPARE(extents, std::vector<std::uint32_t>(4, 0));
    QCOMPARE(m_x->geometry(m_x->parent(window)), geometry);

    verifyScreen(*m_x, geometry, seenOver(image, background));

    QCOMPARE(quitWithX(*picwnd, window), QByteArray("100 120\n"));
    QCOMPARE(picwnd->exitCode(), 0);
    QCOMPARE(picwnd->standardError(), QByteArray());
}

void TestEndToEndWindow::placesOffTheScreenWhereNoWindowManagerInterferes()
{
    // Window managers may keep a new window inside the screen (openbox does); the program
    // itself places it exactly where the file says, off the screen too.
    XSession::Options bare;
    bare.windowManager = false;
    bare.compositor = false;
    XSession session(bare);
    QVERIFY2(session.error().isEmpty(), qPrintable(session.error()));
    XClient x(session.display());

    const QImage image = stickerPicture(64, 48);
    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), image);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "<x> -30 </x>\n<y> -7 </y>\n");

    PicwndProcess picwnd(session, {}, m_dir->path());
    const xcb_window_t window = picwnd.waitForWindow(x);
    QVERIFY(window != XCB_NONE);
    QCOMPARE(x.geometry(window), QRect(-30, -7, 64, 48));
    QVERIFY(sameArea(x.shape(window), opaquePart(image)));
    verifyScreen(x, QRect(0, 0, 34, 41), seenOver(image, background).copy(30, 7, 34, 41));
}

void TestEndToEndWindow::keepsNearWhiteTranslucentAndTransparentPixels()
{
    QImage image(8, 4, QImage::Format_ARGB32);
    image.fill(0xffffffffu);
    const QRgb kept[] = {0xfffeffffu, 0xfffffffeu, 0xfeffffffu, 0x80ffffffu,
                         0x00ffffffu, 0x00000000u, 0xff000000u};
    for (int i = 0; i < 7; ++i)
        image.setPixel(i, i % 4, kept[i]);
    savePicture(QDir(m_dir->path()), QStringLiteral("alpha.png"), image);

    xcb_window_t window = XCB_NONE;
    auto picwnd = show({QStringLiteral("alpha.png")}, window);
    QVERIFY(window != XCB_NONE);
    QVERIFY(sameArea(m_x->shape(window), opaquePart(image)));
}

void TestEndToEndWindow::showsNothingOfAnAllWhitePicture()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    savePicture(QDir(m_dir->path()), QStringLiteral("white.png"), image);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 200 b c 150 d");

    xcb_window_t window = XCB_NONE;
    auto picwnd = show({QStringLiteral("white.png")}, window);
    QVERIFY(window != XCB_NONE);
    QCOMPARE(m_x->geometry(window), QRect(200, 150, 40, 30));
    QVERIFY(m_x->shape(window).intersected(QRect(0, 0, 40, 30)).isEmpty());

    QImage expected(40, 30, QImage::Format_RGB32);
    expected.fill(background);
    verifyScreen(*m_x, QRect(200, 150, 40, 30), expected);
}

void TestEndToEndWindow::appearsCentredWithoutPlacementFile()
{
    const QImage image = stickerPicture(90, 50);
    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), image);

    xcb_window_t window = XCB_NONE;
    auto picwnd = show({}, window);
    QVERIFY(window != XCB_NONE);
    QCOMPARE(m_x->geometry(window), QRect(centred(image.size()), image.size()));
    verifyScreen(*m_x, QRect(centred(image.size()), image.size()), seenOver(image, background));

    // No placement file read: nothing on standard output.
    QCOMPARE(quitWithX(*picwnd, window), QByteArray());
    QCOMPARE(picwnd->exitCode(), 0);
}

void TestEndToEndWindow::ignoresMousePresses()
{
    const QImage image = stickerPicture(64, 48);
    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), image);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 300 b c 200 d");

    xcb_window_t window = XCB_NONE;
    auto picwnd = show({}, window);
    QVERIFY(window != XCB_NONE);
    const QRect home = m_x->geometry(window);

    // Press every button on the picture (a splash screen would hide on the first).
    for (int button = 1; button <= 5; ++button)
        m_x->click(home.topLeft() + QPoint(32, 12), button);
    QVERIFY(focusByClick(*m_x, window));

    // The key press after the clicks is handled after them: once it has moved the window, the
    // clicks have been seen too.
    m_x->tapKey('d');
    QVERIFY(m_x->waitUntil([&] { return m_x->geometry(window) == home.translated(1, 0); }, 5000));
    QVERIFY(m_x->isViewable(window));
    QVERIFY(picwnd->isRunning());
}

void TestEndToEndWindow::failsAtOnceForAPictureItCannotShow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("missing default") << QStringList() << QByteArray("picwnd: picture.png: ");
    QTest::newRow("missing") << QStringList{QStringLiteral("nothing.png")}
                             << QByteArray("picwnd: nothing.png: No such file or directory\n");
    QTest::newRow("empty argument") << QStringList{QString()} << QByteArray("picwnd: : ");
    QTest::newRow("directory") << QStringList{QStringLiteral("folder")}
                               << QByteArray("picwnd: folder: Is a directory\n");
    QTest::newRow("not a picture")
        << QStringList{QStringLiteral("notes.png")} << QByteArray("picwnd: notes.png: ");
    QTest::newRow("truncated") << QStringList{QStringLiteral("truncated.png")}
                               << QByteArray("picwnd: truncated.png: ");
}

void TestEndToEndWindow::failsAtOnceForAPictureItCannotShow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
    writeFile(m_dir->filePath(QStringLiteral("notes.png")), "not a picture\n");
    const QString whole =
        savePicture(QDir(m_dir->path()), QStringLiteral("whole.png"), stickerPicture(200, 200));
    QFile picture(whole);
    QVERIFY(picture.open(QIODevice::ReadOnly));
    writeFile(m_dir->filePath(QStringLiteral("truncated.png")), picture.read(picture.size() / 2));
    // Present, but never read when the picture cannot be shown.
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "a 10 b c 10 d");

    PicwndProcess picwnd(*m_session, arguments, m_dir->path());
    QVERIFY2(picwnd.waitForExit(exitTimeoutMs), "picwnd waits instead of ending");
    QCOMPARE(picwnd.exitStatus(), QProcess::NormalExit);
    QCOMPARE(picwnd.exitCode(), 1);
    QCOMPARE(picwnd.standardOutput(), QByteArray());
    const QByteArray error = picwnd.standardError();
    QVERIFY2(error.startsWith(message), error.constData());
    QCOMPARE(error.count('\n'), 1);
    QVERIFY(error.endsWith('\n'));
    QCOMPARE(m_x->mapNotifyCount(), 0);
}

void TestEndToEndWindow::findsThePictureAfterToolkitOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QSize>("size");

    const QSize chosen(70, 40);
    const QSize fallback(30, 20); // picture.png
    QTest::newRow("option before")
        << QStringList{QStringLiteral("-reverse"), QStringLiteral("chosen.png")} << chosen;
    QTest::newRow("option with value before")
        << QStringList{QStringLiteral("-name"), QStringLiteral("other"),
                       QStringLiteral("chosen.png")}
        << chosen;
    QTest::newRow("option after") << QStringList{QStringLiteral("chosen.png"),
                                                 QStringLiteral("-reverse")}
                                  << chosen;
    QTest::newRow("option alone") << QStringList{QStringLiteral("-reverse")} << fallback;
    QTest::newRow("later arguments ignored")
        << QStringList{QStringLiteral("chosen.png"), QStringLiteral("picture.png"),
                       QStringLiteral("missing.png")}
        << chosen;
    QTest::newRow("leading minus is a path")
        << QStringList{QStringLiteral("-chosen.png")} << chosen;
    QTest::newRow("non-ASCII name") << QStringList{QStringLiteral("B\u00e4r.png")} << chosen;
}

void TestEndToEndWindow::findsThePictureAfterToolkitOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QSize, size);

    const QDir dir(m_dir->path());
    const QImage chosen = stickerPicture(70, 40);
    savePicture(dir, QStringLiteral("chosen.png"), chosen);
    savePicture(dir, QStringLiteral("-chosen.png"), chosen);
    savePicture(dir, QStringLiteral("B\u00e4r.png"), chosen);
    savePicture(dir, QStringLiteral("picture.png"), stickerPicture(30, 20));

    xcb_window_t window = XCB_NONE;
    auto picwnd = show(arguments, window);
    QVERIFY2(window != XCB_NONE, picwnd->standardError().constData());
    QCOMPARE(m_x->geometry(window).size(), size);
}

void TestEndToEndWindow::resolvesPathsAgainstTheWorkingDirectory()
{
    // A copy of the program beside a picture.png of its own, started from elsewhere.
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkpath(QStringLiteral("bin")));
    const QString program = dir.filePath(QStringLiteral("bin/picwnd"));
    QVERIFY(QFile::copy(PicwndProcess::defaultProgram(), program));
    savePicture(dir, QStringLiteral("bin/picture.png"), stickerPicture(30, 20));
    writeFile(dir.filePath(QStringLiteral("bin/config.xml")), "a 1 b c 2 d");
    savePicture(dir, QStringLiteral("work/pictures/mine.png"), stickerPicture(50, 60));
    writeFile(dir.filePath(QStringLiteral("work/pictures/config.xml")), "a 3 b c 4 d");

    {
        PicwndProcess picwnd(*m_session, {QStringLiteral("pictures/mine.png")},
                             dir.filePath(QStringLiteral("work")), program);
        const xcb_window_t window = picwnd.waitForWindow(*m_x);
        QVERIFY(window != XCB_NONE);
        // Neither the placement file beside the program nor the one beside the picture counts.
        QCOMPARE(m_x->geometry(window), QRect(centred(QSize(50, 60)), QSize(50, 60)));
    }
    {
        // No picture.png in the working directory: the one beside the program is not used.
        PicwndProcess picwnd(*m_session, {}, dir.filePath(QStringLiteral("work")), program);
        QVERIFY(picwnd.waitForExit(exitTimeoutMs));
        QCOMPARE(picwnd.exitCode(), 1);
    }
}

QTEST_MAIN(TestEndToEndWindow)
#include "tst_e2e_window.moc"
