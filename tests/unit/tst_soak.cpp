// Long use in process: 200,000 key presses on a picture window leave it exactly where the
// arithmetic of the keys says, at exactly the opacity level it says, and take no memory for good.
// The expected state is worked out here on its own terms (a table of steps, 64-bit sums held to
// the 32-bit range, ten listed opacity levels), not with the program's helpers.

#include "offscreen.h"
#include "picwnd.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>

namespace {

// Under AddressSanitizer resident memory measures the sanitizer's own books (freed memory held
// back in its quarantine, allocation stacks) more than the program; there LeakSanitizer checks
// at exit that nothing was lost instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool memoryIsMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool memoryIsMeasurable = false;
#else
constexpr bool memoryIsMeasurable = true;
#endif
#else
constexpr bool memoryIsMeasurable = true;
#endif

struct Key
{
    int code;
    int dx;
    int dy;
    int opacitySteps; // +1 up (M), -1 down (N)
};

// Every key that does something, and a few that are passed on.
constexpr std::array<Key, 19> keys{{
    {Qt::Key_W, 0, -1, 0},    {Qt::Key_A, -1, 0, 0},   {Qt::Key_S, 0, 1, 0},
    {Qt::Key_D, 1, 0, 0},     {Qt::Key_T, 0, -10, 0},  {Qt::Key_F, -10, 0, 0},
    {Qt::Key_G, 0, 10, 0},    {Qt::Key_H, 10, 0, 0},   {Qt::Key_I, 0, -20, 0},
    {Qt::Key_J, -20, 0, 0},   {Qt::Key_K, 0, 20, 0},   {Qt::Key_L, 20, 0, 0},
    {Qt::Key_M, 0, 0, 1},     {Qt::Key_N, 0, 0, -1},   {Qt::Key_E, 0, 0, 0},
    {Qt::Key_Space, 0, 0, 0}, {Qt::Key_Left, 0, 0, 0}, {Qt::Key_Escape, 0, 0, 0},
    {Qt::Key_Q, 0, 0, 0},
}};

// The opacity levels from full opacity down, as the nearest single-precision values.
constexpr std::array<float, 10> levels{1.0f,         0.899999976f, 0.799999952f, 0.699999928f,
                                       0.599999905f, 0.499999911f, 0.399999917f, 0.299999923f,
                                       0.199999928f, 0.099999927f};

int held(std::int64_t value)
{
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max()));
}

// What the keys should have done: the position, and the row in levels.
struct Model
{
    QPoint position;
    int level = 0;

    void press(const Key &key)
    {
        position = {held(std::int64_t{position.x()} + key.dx),
                    held(std::int64_t{position.y()} + key.dy)};
        level = std::clamp(level - key.opacitySteps, 0, int(levels.size()) - 1);
    }
};

// Resident memory of this process, in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void keepsPositionOpacityAndMemoryOverManyPresses_data();
    void keepsPositionOpacityAndMemoryOverManyPresses();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCurrent;
};

void TestSoak::initTestCase()
{
    quietenOffscreenWindowWarnings();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 40));
    QVERIFY(image.save(QStringLiteral("picture.png")));
}

void TestSoak::cleanupTestCase()
{
    QDir::setCurrent(m_oldCurrent);
    m_dir.reset();
}

void TestSoak::keepsPositionOpacityAndMemoryOverManyPresses_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<int>("bias"); // presses in a hundred that are L or I (right, up)

    QTest::newRow("on the screen") << QPoint(300, 200) << 0;
    // Near the end of the coordinate range, pushed on towards it: the position is held there.
    QTest::newRow("at the range's ends")
        << QPoint(std::numeric_limits<int>::max() - 3000, std::numeric_limits<int>::min() + 3000)
        << 10;
}

void TestSoak::keepsPositionOpacityAndMemoryOverManyPresses()
{
    QFETCH(QPoint, start);
    QFETCH(int, bias);
    constexpr int warmUp = 20000;
    constexpr int presses = 200000;

    writeFile(QStringLiteral("config.xml"), QByteArray("x ") + QByteArray::number(start.x()) +
                                                " x\ny " + QByteArray::number(start.y()) + " y\n");
    PicWnd window(QStringLiteral("picture.png"));
    QCOMPARE(window.storedPosition(), start);

    Model model{start, 0};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> anyKey(0, int(keys.size()) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    const auto pressSome = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const Key &key =
                percent(random) < bias ? keys[i % 2 ? 11 : 8] : keys[std::size_t(anyKey(random))];
            QKeyEvent press(QEvent::KeyPress, key.code, Qt::NoModifier);
            QCoreApplication::sendEvent(&window, &press);
            model.press(key);
            // As between a person's key presses, the event loop gets its turn: the platform's
            // reports of the moves are handled rather than piling up.
            if (i % 64 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    };

    pressSome(warmUp);
    const long before = residentKiB();
    QVERIFY(before > 0);
    pressSome(presses);
    const long after = residentKiB();

    QCOMPARE(window.storedPosition(), model.position);
    QCOMPARE(window.storedOpacity(), levels[std::size_t(model.level)]);
    // The window itself is where it was put, on a platform that places windows exactly.
    QCOMPARE(window.pos(), model.position);
    qInfo("after %d presses: at %d,%d, opacity level %d; resident memory %ld KiB before, "
          "%ld KiB after (%+ld KiB)",
          presses, model.position.x(), model.position.y(), model.level, before, after,
          after - before);
    if (memoryIsMeasurable)
        QVERIFY2(after - before <= 1024, "resident memory grew by more than 1 MiB");
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
