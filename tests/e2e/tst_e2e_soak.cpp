// Long use of the real picwnd on a real X server with openbox and xcompmgr: thousands of key
// presses through XTEST, typed faster than a person would, and keys held down until the server's
// auto-repeat has moved the window several times. The window ends up exactly where the
// arithmetic of the keys says, at exactly the opacity it says.

#include "endtoendtest.h"
#include "fixtures.h"
#include "picwndprocess.h"

#include <QDir>
#include <QRect>
#include <QTest>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int waitMs = 10000;

struct Key
{
    std::uint32_t keysym; // the lower-case letter
    int dx;
    int dy;
    int opacitySteps; // +1 up (M), -1 down (N)
};

constexpr std::array<Key, 16> keys{{
    {'w', 0, -1, 0},
    {'a', -1, 0, 0},
    {'s', 0, 1, 0},
    {'d', 1, 0, 0},
    {'t', 0, -10, 0},
    {'f', -10, 0, 0},
    {'g', 0, 10, 0},
    {'h', 10, 0, 0},
    {'i', 0, -20, 0},
    {'j', -20, 0, 0},
    {'k', 0, 20, 0},
    {'l', 20, 0, 0},
    {'m', 0, 0, 1},
    {'n', 0, 0, -1},
    {'e', 0, 0, 0},
    {'q', 0, 0, 0},
}};

// The opacity levels from full opacity down, as the nearest single-precision values.
constexpr std::array<float, 10> levels{1.0f,         0.899999976f, 0.799999952f, 0.699999928f,
                                       0.599999905f, 0.499999911f, 0.399999917f, 0.299999923f,
                                       0.199999928f, 0.099999927f};

// Where the window may go: inside the screen, so that no window manager has a say.
const QRect playground(40, 40, 860, 620);

} // namespace

class TestEndToEndSoak : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void endsWhereTheKeysSayAfterThousandsOfPresses();

private:
    // Waits until the window is at position with the opacity of level (none at all before the
    // first key press applies one).
    void verifyState(QPoint position, int level, const char *when, bool applied = true);
    // Holds key down until auto-repeat has moved the window at least minimum times, releases it,
    // and returns how many presses the window saw (worked out from where it went).
    int hold(const Key &key, int minimum, QPoint &position);

    std::unique_ptr<PicwndProcess> m_picwnd;
    xcb_window_t m_window = XCB_NONE;
};

void TestEndToEndSoak::initTestCase()
{
    startDisplay();
    freshStart();
}

void TestEndToEndSoak::cleanupTestCase()
{
    m_picwnd.reset();
}

void TestEndToEndSoak::verifyState(QPoint position, int level, const char *when, bool applied)
{
    // What the toolkit gives the compositor for an opacity: the fraction of 0xffffffff, rounded.
    const auto opacity =
        std::uint32_t(qRound64(double(levels[std::size_t(level)]) * double(0xffffffffu)));
    QPoint seen;
    std::vector<std::uint32_t> property;
    const bool there = m_x->waitUntil(
        [&] {
            seen = m_x->geometry(m_window).topLeft();
            property = m_x->cardinals(m_window, "_NET_WM_WINDOW_OPACITY");
            return seen == position && property == (applied ? std::vector<std::uint32_t>{opacity}
                                                            : std::vector<std::uint32_t>());
        },
        waitMs);
    QVERIFY2(there, qPrintable(QStringLiteral("%1: the window is at %2,%3 with opacity %4, "
                                              "expected %5,%6 with %7")
                                   .arg(QLatin1String(when))
                                   .arg(seen.x())
                                   .arg(seen.y())
                                   .arg(property.empty() ? -1 : qint64(property.front()))
                                   .arg(position.x())
                                   .arg(position.y())
                                   .arg(opacity)));
}

int TestEndToEndSoak::hold(const Key &key, int minimum, QPoint &position)
{
    const QPoint step(key.dx, key.dy);
    const int length = std::abs(key.dx + key.dy);
    const QPoint start = position;
    const auto movedBy = [&](QPoint at) {
        const QPoint moved = at - start;
        return (moved.x() * step.x() + moved.y() * step.y()) / length;
    };

    // Every move the window makes while the key is down, from the window manager's frame.
    const xcb_window_t frame = m_x->parent(m_window);
    m_x->clearEvents();
    std::vector<QPoint> moves;
    const auto recordMoves = [&] {
        m_x->waitForEvent(
            [&](const xcb_generic_event_t &event) {
                const auto &configure =
                    reinterpret_cast<const xcb_configure_notify_event_t &>(event);
                if ((event.response_type & 0x7f) == XCB_CONFIGURE_NOTIFY &&
                    configure.window == frame)
                    moves.emplace_back(configure.x, configure.y);
                return false;
            },
            0);
    };

    m_x->keyDown(key.keysym);
    const bool repeated = m_x->waitUntil(
        [&] {
            recordMoves();
            return movedBy(m_x->geometry(m_window).topLeft()) >= minimum * length;
        },
        waitMs);
    m_x->keyUp(key.keysym);
    if (!repeated) {
        qWarning("holding '%c' did not repeat %d times", char(key.keysym), minimum);
        return -1;
    }

    // A key on the other axis after the release: once it has moved the window, every press that
    // the held key caused has been handled too.
    const Key &marker = key.dx != 0 ? keys[2] : keys[3]; // S (down 1) or D (right 1)
    QPoint afterHold;
    m_x->tapKey(marker.keysym);
    const bool marked = m_x->waitUntil(
        [&] {
            recordMoves();
            const QPoint at = m_x->geometry(m_window).topLeft();
            afterHold = at - QPoint(marker.dx, marker.dy);
            return (marker.dx != 0 ? at.x() - start.x() : at.y() - start.y()) == 1;
        },
        waitMs);
    if (!marked) {
        qWarning("the key after holding '%c' did not arrive", char(key.keysym));
        return -1;
    }

    // The held key moved the window along its own axis only, by whole steps.
    const QPoint moved = afterHold - start;
    if ((key.dx == 0 ? moved.x() : moved.y()) != 0 || movedBy(afterHold) % length != 0) {
        qWarning("holding '%c' moved the window by %d,%d", char(key.keysym), moved.x(), moved.y());
        return -1;
    }
    const int presses = movedBy(afterHold) / length;
    // And every move that the window manager made on the way was a whole number of steps along
    // that path, never back.
    const QPoint markerStep(marker.dx, marker.dy);
    int last = 0;
    int distinct = 0;
    for (const QPoint &at : moves) {
        if (at - start == step * presses + markerStep)
            continue; // the marker's own move
        const int steps = movedBy(at) / length;
        if (at - start != step * steps || steps < last || steps > presses) {
            qWarning("a move to %d,%d while '%c' was held", at.x(), at.y(), char(key.keysym));
            return -1;
        }
        distinct += steps != last ? 1 : 0;
        last = steps;
    }
    qInfo("holding '%c': %d presses; the window manager moved the window %d times on the way",
          char(key.keysym), presses, distinct);
    position = afterHold + markerStep;
    return presses;
}

void TestEndToEndSoak::endsWhereTheKeysSayAfterThousandsOfPresses()
{
    constexpr int presses = 2000;
    constexpr int checkpoint = 250;

    savePicture(QDir(m_dir->path()), QStringLiteral("picture.png"), stickerPicture(64, 48));
    writeFile(m_dir->filePath(QStringLiteral("config.xml")), "x 400 x\ny 300 y\n");
    m_picwnd = std::make_unique<PicwndProcess>(*m_session, QStringList(), m_dir->path());
    m_window = m_picwnd->waitForWindow(*m_x);
    QVERIFY2(m_window != XCB_NONE, m_picwnd->standardError().constData());
    QVERIFY(focusByClick(*m_x, m_window));

    QPoint position(400, 300);
    int level = 0;
    verifyState(position, level, "at the start", false);

    // Typed keys, without waiting for the window in between; checked every so often.
    std::mt19937 random(4711);
    std::uniform_int_distribution<std::size_t> anyKey(0, keys.size() - 1);
    for (int i = 1; i <= presses; ++i) {
        Key key = keys[anyKey(random)];
        // Turn back at the edge of the playground (the opposite key of a cluster is 2 away).
        if (!playground.contains(position + QPoint(key.dx, key.dy)))
            key = keys[std::size_t(std::find_if(keys.begin(), keys.end(),
                                                [&](const Key &k) {
                                                    return k.dx == -key.dx && k.dy == -key.dy &&
                                                           k.opacitySteps == 0;
                                                }) -
                                   keys.begin())];
        m_x->tapKey(key.keysym);
        position += QPoint(key.dx, key.dy);
        level = std::clamp(level - key.opacitySteps, 0, int(levels.size()) - 1);
        if (i % checkpoint == 0) {
            verifyState(position, level, qPrintable(QStringLiteral("after %1 presses").arg(i)));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Held keys: the server repeats them, and every repeat moves the window one step. Each goes
    // towards the middle of the screen, so that the window stays on it.
    int repeated = 0;
    const auto towardsMiddle = [&](char right, char left, bool horizontal) {
        const bool before = horizontal ? position.x() < 480 : position.y() < 360;
        const char letter = before ? right : left;
        return *std::find_if(keys.begin(), keys.end(),
                             [&](const Key &k) { return k.keysym == std::uint32_t(letter); });
    };
    for (const Key &key : {towardsMiddle('l', 'j', true), towardsMiddle('k', 'i', false),
                           towardsMiddle('d', 'a', true), towardsMiddle('g', 't', false)}) {
        const int count = hold(key, 6, position);
        QVERIFY2(count >= 6, "a held key was not repeated, or moved the window wrongly");
        repeated += count;
        verifyState(position, level, "after a held key");
    }

    // The stored state outlasts it all: one more key applies it once more.
    m_x->tapKey('e');
    verifyState(position, level, "at the end");
    m_x->tapKey('x');
    QVERIFY(m_picwnd->waitForExit(waitMs));
    QCOMPARE(m_picwnd->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_picwnd->exitCode(), 0);
    qInfo("%d typed presses and %d from held keys; the window ended at %d,%d, opacity level %d",
          presses, repeated, position.x(), position.y(), level);
}

QTEST_MAIN(TestEndToEndSoak)
#include "tst_e2e_soak.moc"
