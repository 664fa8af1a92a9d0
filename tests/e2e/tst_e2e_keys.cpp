// The real picwnd on a real X server, steered with real key presses (XTEST) after a click has
// given it the focus, as a user does under openbox.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QDir>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

const QColor background(0x20, 0x40, 0x60);
const QPoint home(200, 150);
constexpr int waitMs = 5000;

constexpr std::uint32_t shiftKey = 0xffe1;   // XK_Shift_L
constexpr std::uint32_t controlKey = 0xffe3; // XK_Control_L
constexpr std::uint32_t capsLockKey = 0xffe5;

// The ten opacity levels, 1 down to just under 0.1, as the program holds them.
const float levels[] = {1.0f,         0.899999976f, 0.799999952f, 0.699999928f, 0.599999905f,
                        0.499999911f, 0.399999917f, 0.299999923f, 0.199999928f, 0.099999927f};

// What the toolkit writes to _NET_WM_WINDOW_OPACITY for a level.
std::uint32_t opacityProperty(float level)
{
    return static_cast<std::uint32_t>(std::llround(double(level) * 0xffffffffu));
}

} // namespace

class TestEndToEndKeys : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void movesWithTheThreeClusters();
    void movesTheSameWithModifiers();
    void movesOffTheScreenAndBack();
    void stepsThroughTheOpacityLevels();
    void showsTheCompositedBlendAtHalfOpacity();
    void returnsToItsPlaceOnAnyKey();
    void repeatsWhileAKeyIsHeld();
    void endsWithZeroOnX();

private:
    // Taps key and waits until the window's top-left corner is at expected.
    bool tapAndExpect(std::uint32_t key, QPoint expected);
    [[nodiscard]] QPoint topLeft() { return m_x->geometry(m_window).topLeft(); }
    [[nodiscard]] std::vector<std::uint32_t> opacity()
    {
        return m_x->cardinals(m_window, "_NET_WM_WINDOW_OPACITY");
    }

    std::unique_ptr<PicwndProcess> m_picwnd;
    xcb_window_t m_window = XCB_NONE;
    QImage m_picture;
};

void TestEndToEndKeys::initTestCase()
{
    startDisplay();
    m_picture = stickerPicture(64, 48);
}

void TestEndToEndKeys::init()
{
    freshStart();
    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), m_picture);
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "<x> 200 </x>\n<y> 150 </y>\n");

    m_picwnd = std::make_unique<PicwndProcess>(*m_session, QStringList(), m_dir->path());
    m_window = m_picwnd->waitForWindow(*m_x);
    QVERIFY(m_window != XCB_NONE);
    QCOMPARE(topLeft(), home);
    QVERIFY(focusByClick(*m_x, m_window));
}

void TestEndToEndKeys::cleanup()
{
    m_picwnd.reset();
    m_dir.reset();
}

bool TestEndToEndKeys::tapAndExpect(std::uint32_t key, QPoint expected)
{
    m_x->tapKey(key);
    if (m_x->waitUntil([&] { return topLeft() == expected; }, waitMs))
        return true;
    qWarning("after key 0x%x the window is at %d,%d, expected %d,%d", key, topLeft().x(),
             topLeft().y(), expected.x(), expected.y());
    return false;
}

void TestEndToEndKeys::movesWithTheThreeClusters()
{
    const struct
    {
        char key;
        QPoint step;
    } presses[] = {
        {'w', {0, -1}},  {'a', {-1, 0}},  {'s', {0, 1}},  {'d', {1, 0}},
        {'t', {0, -10}}, {'f', {-10, 0}}, {'g', {0, 10}}, {'h', {10, 0}},
        {'i', {0, -20}}, {'j', {-20, 0}}, {'k', {0, 20}}, {'l', {20, 0}},
        {'d', {1, 0}},   {'h', {10, 0}},  {'l', {20, 0}}, {'k', {0, 20}},
    };
    QPoint expected = home;
    for (const auto &press : presses) {
        expected += press.step;
        QVERIFY(tapAndExpect(std::uint32_t(press.key), expected));
    }
    QVERIFY(sameArea(m_x->shape(m_window), opaquePart(m_picture)));
}

void TestEndToEndKeys::movesTheSameWithModifiers()
{
    m_x->keyDown(shiftKey);
    QVERIFY(tapAndExpect('d', home + QPoint(1, 0)));
    m_x->keyUp(shiftKey);
    m_x->keyDown(controlKey);
    QVERIFY(tapAndExpect('d', home + QPoint(2, 0)));
    m_x->keyUp(controlKey);
    m_x->tapKey(capsLockKey);
    QVERIFY(tapAndExpect('h', home + QPoint(12, 0)));
    m_x->tapKey(capsLockKey);
    QVERIFY(tapAndExpect('w', home + QPoint(12, -1)));
}

void TestEndToEndKeys::movesOffTheScreenAndBack()
{
    QPoint expected = home;
    for (int i = 0; i < 15; ++i)
        QVERIFY(tapAndExpect('j', expected += QPoint(-20, 0)));
    for (int i = 0; i < 10; ++i)
        QVERIFY(tapAndExpect('i', expected += QPoint(0, -20)));
    QCOMPARE(topLeft(), QPoint(-100, -50));
    QVERIFY(sameArea(m_x->shape(m_window), opaquePart(m_picture)));

    for (int i = 0; i < 15; ++i)
        QVERIFY(tapAndExpect('l', expected += QPoint(20, 0)));
    for (int i = 0; i < 10; ++i)
        QVERIFY(tapAndExpect('k', expected += QPoint(0, 20)));
    QCOMPARE(topLeft(), home);
}

void TestEndToEndKeys::stepsThroughTheOpacityLevels()
{
    // Shown at the toolkit's default, fully opaque: no opacity has been set yet.
    QVERIFY(opacity().empty());

    for (std::size_t i = 1; i < std::size(levels); ++i) {
        m_x->tapKey('n');
        const std::vector<std::uint32_t> want{opacityProperty(levels[i])};
        QVERIFY2(m_x->waitUntil([&] { return opacity() == want; }, waitMs),
                 qPrintable(QString::number(double(levels[i]), 'g', 9)));
    }
    // Refused at the lowest level: a key handled after it finds the opacity unchanged.
    m_x->tapKey('n');
    QVERIFY(tapAndExpect('d', home + QPoint(1, 0)));
    QCOMPARE(opacity(), std::vector<std::uint32_t>{opacityProperty(levels[9])});

    for (std::size_t i = std::size(levels) - 1; i-- > 0;) {
        m_x->tapKey('m');
        const std::vector<std::uint32_t> want{opacityProperty(levels[i])};
        QVERIFY2(m_x->waitUntil([&] { return opacity() == want; }, waitMs),
                 qPrintable(QString::number(double(levels[i]), 'g', 9)));
    }
    QCOMPARE(opacity(), std::vector<std::uint32_t>{0xffffffffu});
    m_x->tapKey('m');
    QVERIFY(tapAndExpect('a', home));
    QCOMPARE(opacity(), std::vector<std::uint32_t>{0xffffffffu});
}

void TestEndToEndKeys::showsTheCompositedBlendAtHalfOpacity()
{
    for (int i = 0; i < 5; ++i)
        m_x->tapKey('n');
    const std::vector<std::uint32_t> want{opacityProperty(levels[5])};
    QVERIFY(m_x->waitUntil([&] { return opacity() == want; }, waitMs));

    // The compositor blends the picture over the desktop; the cut-out shows the desktop alone.
    const double alpha = double(levels[5]);
    const auto blend = [&](int picture, int desk) {
        return int(std::lround(picture * alpha + desk * (1 - alpha)));
    };
    QString problem;
    const bool blended = m_x->waitUntil(
        [&] {
            const QImage screen = m_x->grab(QRect(home, m_picture.size()));
            if (screen.isNull())
                return false;
            for (int y = 0; y < m_picture.height(); ++y)
                for (int x = 0; x < m_picture.width(); ++x) {
                    const QRgb p = m_picture.pixel(x, y);
                    const QRgb seen = screen.pixel(x, y);
                    const bool hole = p == 0xffffffffu;
                    const int r = hole ? background.red() : blend(qRed(p), background.red());
                    const int g = hole ? background.green() : blend(qGreen(p), background.green());
                    const int b = hole ? background.blue() : blend(qBlue(p), background.blue());
                    // The compositor rounds its own way: one step either side.
                    const int tolerance = hole ? 0 : 1;
                    if (std::abs(qRed(seen) - r) > tolerance ||
                        std::abs(qGreen(seen) - g) > tolerance ||
                        std::abs(qBlue(seen) - b) > tolerance) {
                        problem = QStringLiteral("pixel %1,%2 is %3,%4,%5, expected %6,%7,%8")
                                      .arg(x)
                                      .arg(y)
                                      .arg(qRed(seen))
                                      .arg(qGreen(seen))
                                      .arg(qBlue(seen))
                                      .arg(r)
                                      .arg(g)
                                      .arg(b);
                        return false;
                    }
                }
            return true;
        },
        waitMs);
    QVERIFY2(blended, qPrintable(problem));
}

void TestEndToEndKeys::returnsToItsPlaceOnAnyKey()
{
    const struct
    {
        std::uint32_t key;
        QPoint after;
    } keys[] = {{'e', home}, {0xff1b /* Escape */, home}, {0xff51 /* Left */, home}, {' ', home},
                {'m', home}, {'s', home + QPoint(0, 1)}};
    for (const auto &key : keys) {
        m_x->requestMove(m_window, QPoint(400, 300));
        QVERIFY(m_x->waitUntil([&] { return topLeft() == QPoint(400, 300); }, waitMs));
        // The window manager tells the program of the move in its own time; a person never
        // presses a key before that, so neither does the test.
        QVERIFY(m_x->syncWithWindowManager());
        QVERIFY(tapAndExpect(key.key, key.after));
    }
}

void TestEndToEndKeys::repeatsWhileAKeyIsHeld()
{
    // Held down, the key repeats and every repeat moves the window another 20 pixels.
    m_x->keyDown('l');
    const bool repeated = m_x->waitUntil([&] { return topLeft().x() >= home.x() + 60; }, waitMs);
    m_x->keyUp('l');
    QVERIFY2(repeated, "no auto-repeat");

    // Every key is handled in order: once the opacity step after the release shows, all the
    // repeats before it have been handled too.
    m_x->tapKey('n');
    const std::vector<std::uint32_t> want{opacityProperty(levels[1])};
    QVERIFY(m_x->waitUntil([&] { return opacity() == want; }, waitMs));
    const QPoint end = topLeft();
    QCOMPARE(end.y(), home.y());
    QCOMPARE((end.x() - home.x()) % 20, 0);
    QVERIFY(end.x() >= home.x() + 60);
}

void TestEndToEndKeys::endsWithZeroOnX()
{
    QVERIFY(tapAndExpect('h', home + QPoint(10, 0)));
    m_x->tapKey('x');
    QVERIFY2(m_picwnd->waitForExit(waitMs), "X did not end the program");
    QCOMPARE(m_picwnd->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_picwnd->exitCode(), 0);
    // The trace line of the placement file reaches the redirected output by the end.
    QCOMPARE(m_picwnd->standardOutput(), QByteArray("200 150\n"));
    QCOMPARE(m_picwnd->standardError(), QByteArray());
    QVERIFY(m_x->waitUntil([&] { return !m_x->isViewable(m_window); }, waitMs));
}

QTEST_MAIN(TestEndToEndKeys)
#include "tst_e2e_keys.moc"
