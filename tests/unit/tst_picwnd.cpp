#include "offscreen.h"
#include "opacity.h"
#include "picwnd.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegion>
#include <QSplashScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Everything written to a standard stream (stdout or stderr) while it lives, at the C level.
class CapturedStream
{
public:
    explicit CapturedStream(FILE *stream) : m_stream(stream), m_fd(fileno(stream))
    {
        std::fflush(m_stream);
        m_file = std::tmpfile();
        m_saved = ::dup(m_fd);
        ::dup2(fileno(m_file), m_fd);
    }
    ~CapturedStream() { finish(); }

    QByteArray text()
    {
        finish();
        return m_text;
    }

private:
    void finish()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        char buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            m_text.append(buffer, qsizetype(got));
        std::fclose(m_file);
    }

    FILE *m_stream;
    int m_fd;
    FILE *m_file = nullptr;
    int m_saved = -1;
    QByteArray m_text;
};

// Runs the application's event loop until something ends it; a watchdog ends it with 99 if the
// window does not, so that a lost quit request fails instead of hanging.
int runEventLoop()
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(5000);
    return QCoreApplication::exec();
}

// Records where the window is when it is first shown.
class ShowWatcher : public QObject
{
public:
    std::vector<QPoint> shownAt;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            shownAt.push_back(static_cast<QWidget *>(watched)->pos());
        return false;
    }
};

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void sendKey(QWidget &window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
             bool autoRepeat = false)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QCoreApplication::sendEvent(&window, &press);
}

// What the toolkit reports back for an opacity it was given: it keeps whole 1/255 steps.
double toolkitOpacity(float opacity)
{
    return std::floor(double(opacity) * 255) / 255;
}

QRegion pixelsNotOpaqueWhite(const QImage &image)
{
    QRegion region;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (argb.pixel(x, y) != 0xffffffffu)
                region += QRect(x, y, 1, 1);
    return region;
}

} // namespace

class TestPicWnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void placesLikeASplashScreenWithoutPlacementFile();
    void placesFromThePlacementFileBeforeShowing();
    void ignoresAnUnusablePlacementFile_data();
    void ignoresAnUnusablePlacementFile();
    void looksForThePlacementFileInTheWorkingDirectoryOnly();
    void isAFramelessStaysOnTopSplashScreen();
    void cutsOutExactlyTheOpaqueWhitePixels_data();
    void cutsOutExactlyTheOpaqueWhitePixels();
    void showsNothingOfAnAllWhitePicture();
    void ignoresMousePresses_data();
    void ignoresMousePresses();
    void failsForAPictureItCannotShow_data();
    void failsForAPictureItCannotShow();

    void movesAndStepsOpacityWithTheKeys_data();
    void movesAndStepsOpacityWithTheKeys();
    void passesOtherKeysOnAndStillApplies();
    void comesBackToItsPlaceOnAnyKey();
    void closesAndQuitsOnX();
    void quitsOnXPressedBeforeTheEventLoopRuns();

private:
    QString picture(const QImage &image, const QString &name = QStringLiteral("picture.png"));

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCurrent;
};

void TestPicWnd::initTestCase()
{
    quietenOffscreenWindowWarnings();
}

void TestPicWnd::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestPicWnd::cleanup()
{
    QDir::setCurrent(m_oldCurrent);
    m_dir.reset();
}

QString TestPicWnd::picture(const QImage &image, const QString &name)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG"))
        qFatal("cannot write the test picture %s", qPrintable(path));
    return path;
}

namespace {

// A 40x30 picture: a red disc-ish block on an opaque-white background.
QImage sticker()
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(0xffffffffu);
    for (int y = 8; y < 22; ++y)
        for (int x = 10; x < 30; ++x)
            image.setPixel(x, y, 0xffc00000u);
    return image;
}

} // namespace

void TestPicWnd::placesLikeASplashScreenWithoutPlacementFile()
{
    const QString path = picture(sticker());
    const QSplashScreen reference(QPixmap(path), Qt::WindowStaysOnTopHint);

    CapturedStream out(stdout);
    PicWnd window(path);
    QVERIFY(window.isVisible());
    QCOMPARE(window.storedPosition(), reference.pos());
    QCOMPARE(window.pos(), reference.pos());
    QCOMPARE(window.size(), QSize(40, 30));
    QCOMPARE(out.text(), QByteArray());
}

void TestPicWnd::placesFromThePlacementFileBeforeShowing()
{
    const QString path = picture(sticker());
    writeFile(QStringLiteral("config.xml"), "<x> -40 </x>\n<y> +0030 </y>\n");

    // The window is shown from inside its constructor; catch the first show of any widget.
    ShowWatcher watcher;
    qApp->installEventFilter(&watcher);
    CapturedStream out(stdout);
    PicWnd window(path);
    qApp->removeEventFilter(&watcher);

    QCOMPARE(out.text(), QByteArray("-40 30\n"));
    QCOMPARE(window.storedPosition(), QPoint(-40, 30));
    QCOMPARE(window.pos(), QPoint(-40, 30));
    QVERIFY(!watcher.shownAt.empty());
    QCOMPARE(watcher.shownAt.front(), QPoint(-40, 30));
}

void TestPicWnd::ignoresAnUnusablePlacementFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only x") << QByteArray("a 10 b");
    QTest::newRow("not numbers") << QByteArray("a b c d e f");
    QTest::newRow("out of range") << QByteArray("a 1 b c 4294967296 d");
}

void TestPicWnd::ignoresAnUnusablePlacementFile()
{
    QFETCH(QByteArray, content);
    const QString path = picture(sticker());
    writeFile(QStringLiteral("config.xml"), content);
    const QSplashScreen reference(QPixmap(path), Qt::WindowStaysOnTopHint);

    CapturedStream out(stdout);
    PicWnd window(path);
    QCOMPARE(out.text(), QByteArray());
    QCOMPARE(window.storedPosition(), reference.pos());
    QCOMPARE(window.pos(), reference.pos());
}

void TestPicWnd::looksForThePlacementFileInTheWorkingDirectoryOnly()
{
    const QString path = picture(sticker(), QStringLiteral("elsewhere/picture.png"));
    writeFile(m_dir->filePath(QStringLiteral("elsewhere/config.xml")), "a 7 b c 8 d");
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("elsewhere"))));
    QVERIFY(QDir::setCurrent(m_dir->path()));

    CapturedStream out(stdout);
    PicWnd window(QStringLiteral("elsewhere/picture.png"));
    QCOMPARE(out.text(), QByteArray());
    QVERIFY(window.isVisible());
    QVERIFY(window.pos() != QPoint(7, 8));
}

void TestPicWnd::isAFramelessStaysOnTopSplashScreen()
{
    PicWnd window(picture(sticker()));
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(window.windowType(), Qt::SplashScreen);
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(!window.parentWidget());
    // No meta-object of its own: the toolkit sees a splash screen.
    QCOMPARE(window.metaObject(), &QSplashScreen::staticMetaObject);
}

void TestPicWnd::cutsOutExactlyTheOpaqueWhitePixels_data()
{
    QTest::addColumn<QImage>("image");

    QImage mixed(6, 2, QImage::Format_ARGB32);
    const QRgb row[] = {0xffffffffu, 0xfffeffffu, 0xfefffffe,
                        0x80ffffffu, 0x00ffffffu, 0x00000000u};
    for (int x = 0; x < 6; ++x) {
        mixed.setPixel(x, 0, row[x]);
        mixed.setPixel(x, 1, row[5 - x]);
    }
    QTest::newRow("white, near-white, translucent, transparent") << mixed;

    QImage opaque(8, 5, QImage::Format_RGB32);
    opaque.fill(0xff102030u);
    QTest::newRow("no white at all") << opaque;

    QImage checker(16, 9, QImage::Format_RGB32);
    for (int y = 0; y < checker.height(); ++y)
        for (int x = 0; x < checker.width(); ++x)
            checker.setPixel(x, y, (x + y) % 2 ? 0xffffffffu : 0xff000000u);
    QTest::newRow("checkerboard") << checker;

    QTest::newRow("sticker") << sticker();
}

void TestPicWnd::cutsOutExactlyTheOpaqueWhitePixels()
{
    QFETCH(QImage, image);
    PicWnd window(picture(image));
    QCOMPARE(window.mask(), pixelsNotOpaqueWhite(image));
}

void TestPicWnd::showsNothingOfAnAllWhitePicture()
{
    QImage white(20, 10, QImage::Format_RGB32);
    white.fill(0xffffffffu);
    PicWnd window(picture(white));
    QVERIFY(window.isVisible());
    // An empty mask would mean "no mask" and show the whole white rectangle.
    QVERIFY(!window.mask().isEmpty());
    QVERIFY(window.mask().intersected(window.rect()).isEmpty());
}

void TestPicWnd::ignoresMousePresses_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("left") << Qt::LeftButton;
    QTest::newRow("middle") << Qt::MiddleButton;
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("back") << Qt::BackButton;
}

void TestPicWnd::ignoresMousePresses()
{
    QFETCH(Qt::MouseButton, button);
    PicWnd window(picture(sticker()));
    const QPoint before = window.pos();

    QTest::mouseClick(&window, button, Qt::NoModifier, QPoint(15, 15));
    QTest::mouseDClick(&window, button, Qt::NoModifier, QPoint(15, 15));
    QVERIFY(window.isVisible());
    QCOMPARE(window.pos(), before);
    QCOMPARE(window.storedPosition(), before);
}

void TestPicWnd::failsForAPictureItCannotShow_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // written to path unless null
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("missing") << QStringLiteral("missing.png") << QByteArray()
                             << QByteArray("No such file or directory");
    QTest::newRow("empty path") << QString() << QByteArray() << QByteArray("No such file");
    QTest::newRow("directory") << QStringLiteral(".") << QByteArray() << QByteArray("directory");
    QTest::newRow("not a picture")
        << QStringLiteral("notes.png") << QByteArray("just text\n") << QByteArray("notes.png: ");
}

void TestPicWnd::failsForAPictureItCannotShow()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, reason);
    if (!content.isNull())
        writeFile(path, content);
    writeFile(QStringLiteral("config.xml"), "a 1 b c 2 d");

    CapturedStream out(stdout);
    CapturedStream err(stderr);
    std::unique_ptr<PicWnd> window = std::make_unique<PicWnd>(path);
    QVERIFY(!window->isVisible());
    // The quit is queued: the event loop ends with 1 as soon as it runs.
    QCOMPARE(runEventLoop(), 1);
    QVERIFY(!window->isVisible());

    const QByteArray message = err.text();
    QCOMPARE(out.text(), QByteArray()); // the placement file was not read
    const QByteArray prefix = "picwnd: " + QFile::encodeName(path) + ": ";
    QVERIFY2(message.startsWith(prefix), message);
    QVERIFY2(message.contains(reason), message);
    QCOMPARE(message.count('\n'), 1);
    QVERIFY(message.endsWith('\n'));
}

void TestPicWnd::movesAndStepsOpacityWithTheKeys_data()
{
    QTest::addColumn<QString>("keys"); // one key a letter, by its key code
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("autoRepeat");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<float>("opacity");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
    row("W up 1") << QStringLiteral("W") << none << false << QPoint(0, -1) << 1.0f;
    row("A left 1") << QStringLiteral("A") << none << false << QPoint(-1, 0) << 1.0f;
    row("S down 1") << QStringLiteral("S") << none << false << QPoint(0, 1) << 1.0f;
    row("D right 1") << QStringLiteral("D") << none << false << QPoint(1, 0) << 1.0f;
    row("T up 10") << QStringLiteral("T") << none << false << QPoint(0, -10) << 1.0f;
    row("F left 10") << QStringLiteral("F") << none << false << QPoint(-10, 0) << 1.0f;
    row("G down 10") << QStringLiteral("G") << none << false << QPoint(0, 10) << 1.0f;
    row("H right 10") << QStringLiteral("H") << none << false << QPoint(10, 0) << 1.0f;
    row("I up 20") << QStringLiteral("I") << none << false << QPoint(0, -20) << 1.0f;
    row("J left 20") << QStringLiteral("J") << none << false << QPoint(-20, 0) << 1.0f;
    row("K down 20") << QStringLiteral("K") << none << false << QPoint(0, 20) << 1.0f;
    row("L right 20") << QStringLiteral("L") << none << false << QPoint(20, 0) << 1.0f;
    row("Shift+D") << QStringLiteral("D") << Qt::KeyboardModifiers(Qt::ShiftModifier) << false
                   << QPoint(1, 0) << 1.0f;
    row("Ctrl+D") << QStringLiteral("D") << Qt::KeyboardModifiers(Qt::ControlModifier) << false
                  << QPoint(1, 0) << 1.0f;
    row("Ctrl+Alt+Meta+N") << QStringLiteral("N")
                           << (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier) << false
                           << QPoint() << 0.899999976f;
    row("held L repeats") << QStringLiteral("LLLL") << none << true << QPoint(80, 0) << 1.0f;
    row("ten J from the start") << QStringLiteral("JJJJJJJJJJ") << none << false << QPoint(-200, 0)
                                << 1.0f;
    row("round trip") << QStringLiteral("WASDTFGHIJKL") << none << false << QPoint() << 1.0f;
    row("M at full opacity") << QStringLiteral("M") << none << false << QPoint() << 1.0f;
    row("N") << QStringLiteral("N") << none << false << QPoint() << 0.899999976f;
    row("N then M") << QStringLiteral("NM") << none << false << QPoint() << 1.0f;
    row("five N") << QStringLiteral("NNNNN") << none << false << QPoint() << 0.499999911f;
    row("ten N stop at the lowest")
        << QStringLiteral("NNNNNNNNNN") << none << false << QPoint() << 0.099999927f;
    row("nine N nine M") << QStringLiteral("NNNNNNNNNMMMMMMMMM") << none << false << QPoint()
                         << 1.0f;
    row("moves and steps") << QStringLiteral("HNHNK") << none << false << QPoint(20, 20)
                           << 0.799999952f;
    row("other letters") << QStringLiteral("EQZ") << none << false << QPoint() << 1.0f;
}

void TestPicWnd::movesAndStepsOpacityWithTheKeys()
{
    QFETCH(QString, keys);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, autoRepeat);
    QFETCH(QPoint, offset);
    QFETCH(float, opacity);

    PicWnd window(picture(sticker()));
    const QPoint start = window.storedPosition();
    for (const QChar key : keys)
        sendKey(window, key.unicode(), modifiers, autoRepeat);

    QCOMPARE(window.storedPosition(), start + offset);
    QCOMPARE(window.pos(), start + offset);
    QCOMPARE(window.storedOpacity(), opacity); // exact: the levels are single-precision values
    QCOMPARE(window.windowOpacity(), toolkitOpacity(opacity));
}

void TestPicWnd::passesOtherKeysOnAndStillApplies()
{
    PicWnd window(picture(sticker()));
    const QPoint home = window.storedPosition();

    // A key of the table is consumed; any other goes to the base handler, which ignores it.
    QKeyEvent handled(QEvent::KeyPress, Qt::Key_D, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &handled);
    QVERIFY(handled.isAccepted());
    QCOMPARE(window.storedPosition(), home + QPoint(1, 0));

    for (const int key : {int(Qt::Key_Left), int(Qt::Key_Escape), int(Qt::Key_Space),
                          int(Qt::Key_E), int(Qt::Key_Shift), int(Qt::Key_F1)}) {
        QKeyEvent other(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &other);
        QVERIFY2(!other.isAccepted(), qPrintable(QString::number(key, 16)));
        QCOMPARE(window.storedPosition(), home + QPoint(1, 0));
        QVERIFY(window.isVisible());
    }
}

void TestPicWnd::comesBackToItsPlaceOnAnyKey()
{
    PicWnd window(picture(sticker()));
    const QPoint home = window.storedPosition();

    for (const int key : {int(Qt::Key_Escape), int(Qt::Key_M), int(Qt::Key_Q)}) {
        window.move(home + QPoint(123, -45));
        sendKey(window, key);
        QCOMPARE(window.pos(), home);
    }
    window.move(3, 4);
    sendKey(window, Qt::Key_S);
    QCOMPARE(window.pos(), home + QPoint(0, 1));
}

void TestPicWnd::closesAndQuitsOnX()
{
    PicWnd window(picture(sticker()));
    const QPoint home = window.storedPosition();
    sendKey(window, Qt::Key_N);
    window.move(home + QPoint(50, 50));
    QCoreApplication::processEvents(); // the platform's own report of that move comes first

    // Delivered by the event loop, so that the quit it asks for ends that loop.
    QCoreApplication::postEvent(&window,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier));
    QCOMPARE(runEventLoop(), 0);
    QVERIFY(!window.isVisible());
    // The stored state is applied to the closed window all the same.
    QCOMPARE(window.pos(), home);
    QCOMPARE(window.windowOpacity(), toolkitOpacity(0.899999976f));
}

void TestPicWnd::quitsOnXPressedBeforeTheEventLoopRuns()
{
    // The splash screen handles events while it is shown, before the event loop has started: an X
    // typed then must still end the program once the loop runs.
    PicWnd window(picture(sticker()));
    sendKey(window, Qt::Key_X);
    QVERIFY(!window.isVisible());
    QCOMPARE(runEventLoop(), 0);
}

QTEST_MAIN(TestPicWnd)
#include "tst_picwnd.moc"
