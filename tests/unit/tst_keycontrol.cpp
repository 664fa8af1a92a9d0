#include "keycontrol.h"
#include "opacity.h"

#include <QTest>

#include <cstdint>
#include <cstring>
#include <limits>

Q_DECLARE_METATYPE(KeyAction::Kind)

namespace {

std::uint32_t bits(float value)
{
    std::uint32_t result = 0;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

float fromBits(std::uint32_t pattern)
{
    float result = 0;
    std::memcpy(&result, &pattern, sizeof result);
    return result;
}

// The ten levels from 1 down, as bit patterns: 1, 0.899999976, 0.799999952, ..., 0.099999927.
const std::uint32_t levels[] = {0x3f800000, 0x3f666666, 0x3f4ccccc, 0x3f333332, 0x3f199998,
                                0x3efffffd, 0x3eccccca, 0x3e999997, 0x3e4cccc8, 0x3dccccc3};

} // namespace

class TestKeyControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mapsKeysToActions_data();
    void mapsKeysToActions();
    void movesWithoutOverflow_data();
    void movesWithoutOverflow();
    void stepsThroughTenOpacityLevels();
    void refusesStepsPastTheEnds();
};

void TestKeyControl::mapsKeysToActions_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<KeyAction::Kind>("kind");
    QTest::addColumn<QPoint>("step");

    const struct
    {
        const char *name;
        int key;
        KeyAction::Kind kind;
        QPoint step;
    } rows[] = {
        {"W", Qt::Key_W, KeyAction::Move, {0, -1}},
        {"A", Qt::Key_A, KeyAction::Move, {-1, 0}},
        {"S", Qt::Key_S, KeyAction::Move, {0, 1}},
        {"D", Qt::Key_D, KeyAction::Move, {1, 0}},
        {"T", Qt::Key_T, KeyAction::Move, {0, -10}},
        {"F", Qt::Key_F, KeyAction::Move, {-10, 0}},
        {"G", Qt::Key_G, KeyAction::Move, {0, 10}},
        {"H", Qt::Key_H, KeyAction::Move, {10, 0}},
        {"I", Qt::Key_I, KeyAction::Move, {0, -20}},
        {"J", Qt::Key_J, KeyAction::Move, {-20, 0}},
        {"K", Qt::Key_K, KeyAction::Move, {0, 20}},
        {"L", Qt::Key_L, KeyAction::Move, {20, 0}},
        {"M", Qt::Key_M, KeyAction::RaiseOpacity, {}},
        {"N", Qt::Key_N, KeyAction::LowerOpacity, {}},
        {"X", Qt::Key_X, KeyAction::Quit, {}},
        {"E", Qt::Key_E, KeyAction::PassOn, {}},
        {"Q", Qt::Key_Q, KeyAction::PassOn, {}},
        {"Z", Qt::Key_Z, KeyAction::PassOn, {}},
        {"lower-case code", 'd', KeyAction::PassOn, {}},
        {"Left", Qt::Key_Left, KeyAction::PassOn, {}},
        {"Escape", Qt::Key_Escape, KeyAction::PassOn, {}},
        {"Space", Qt::Key_Space, KeyAction::PassOn, {}},
        {"Shift", Qt::Key_Shift, KeyAction::PassOn, {}},
        {"unknown", Qt::Key_unknown, KeyAction::PassOn, {}},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.key << row.kind << row.step;
}

void TestKeyControl::mapsKeysToActions()
{
    QFETCH(int, key);
    QFETCH(KeyAction::Kind, kind);
    QFETCH(QPoint, step);

    const KeyAction action = keyAction(key);
    QCOMPARE(action.kind, kind);
    QCOMPARE(action.step, step);
}

void TestKeyControl::movesWithoutOverflow_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("step");
    QTest::addColumn<QPoint>("to");

    constexpr int min = std::numeric_limits<int>::min();
    constexpr int max = std::numeric_limits<int>::max();
    QTest::newRow("plain") << QPoint(5, 5) << QPoint(-20, 10) << QPoint(-15, 15);
    QTest::newRow("up to the end")
        << QPoint(max - 20, min + 20) << QPoint(20, -20) << QPoint(max, min);
    QTest::newRow("held at the top") << QPoint(max - 5, 0) << QPoint(20, 0) << QPoint(max, 0);
    QTest::newRow("held at the bottom") << QPoint(0, min + 1) << QPoint(0, -10) << QPoint(0, min);
    QTest::newRow("back from the end")
        << QPoint(max, min) << QPoint(-1, 1) << QPoint(max - 1, min + 1);
}

void TestKeyControl::movesWithoutOverflow()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, step);
    QFETCH(QPoint, to);

    QCOMPARE(movedBy(from, step), to);
}

void TestKeyControl::stepsThroughTenOpacityLevels()
{
    QCOMPARE(bits(opacityStep), 0x3DCCCCCDu);

    float opacity = 1.0f;
    for (std::size_t i = 1; i < std::size(levels); ++i) {
        opacity = loweredOpacity(opacity);
        QCOMPARE(bits(opacity), levels[i]);
    }
    for (std::size_t i = std::size(levels) - 1; i-- > 0;) {
        opacity = raisedOpacity(opacity);
        QCOMPARE(bits(opacity), levels[i]);
    }
    QCOMPARE(opacity, 1.0f);

    // The step from 0.299999923 lands halfway between two floats; ties to even picks the upper.
    QCOMPARE(bits(loweredOpacity(fromBits(levels[7]))), levels[8]);
    QVERIFY(bits(loweredOpacity(fromBits(levels[7]))) != 0x3e4cccc7); // 0.199999914
}

void TestKeyControl::refusesStepsPastTheEnds()
{
    QCOMPARE(bits(raisedOpacity(1.0f)), levels[0]);
    QCOMPARE(bits(loweredOpacity(fromBits(levels[9]))), levels[9]);
}

QTEST_APPLESS_MAIN(TestKeyControl)
#include "tst_keycontrol.moc"
