#include "placement.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <string>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(std::optional<QPoint>)

namespace {

const std::optional<QPoint> none;

std::optional<QPoint> at(int x, int y)
{
    return QPoint(x, y);
}

QByteArray word(int length)
{
    return QByteArray(length, 'w');
}

} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheSecondAndFifthField_data();
    void readsTheSecondAndFifthField();
    void readsAFileAsItsTextReads_data();
    void readsAFileAsItsTextReads();
    void readsOnlyUpToTheSixthField();
    void givesNothingForWhatIsNotARegularFile();
    void givesNothingForAnUnreadableFile();
};

void TestPlacement::readsTheSecondAndFifthField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<QPoint>>("expected");

    // Layouts of the whitespace.
    QTest::newRow("two lines") << QByteArray("<x> 100 </x>\n<y> 200 </y>\n") << at(100, 200);
    QTest::newRow("one line") << QByteArray("a 100 b c 200 d") << at(100, 200);
    QTest::newRow("field per line") << QByteArray("a\n100\nb\nc\n200\nd\n") << at(100, 200);
    QTest::newRow("crlf") << QByteArray("a 1 b\r\nc 2 d\r\n") << at(1, 2);
    QTest::newRow("lone cr") << QByteArray("a 1 b\rc 2 d\r") << at(1, 2);
    QTest::newRow("every whitespace") << QByteArray(" \t\n\v\f\ra\t\v3\f\rb \n c 4 d") << at(3, 4);
    QTest::newRow("no final newline") << QByteArray("a 1 b\nc 2 d") << at(1, 2);

    // Numbers.
    QTest::newRow("negative") << QByteArray("a -40 b\nc -7 d") << at(-40, -7);
    QTest::newRow("plus and zeros") << QByteArray("a +007 b\nc -0 d") << at(7, 0);
    QTest::newRow("leading zeros not octal") << QByteArray("a 010 b\nc 0x1 d") << at(10, 0);
    QTest::newRow("int range ends")
        << QByteArray("a -2147483648 b\nc 2147483647 d") << at(INT32_MIN, INT32_MAX);
    QTest::newRow("many leading zeros")
        << (QByteArray("a ") + QByteArray(1000, '0') + "5 b c 6 d") << at(5, 6);
    QTest::newRow("x too large") << QByteArray("a 2147483648 b\nc 1 d") << none;
    QTest::newRow("y too small") << QByteArray("a 1 b\nc -2147483649 d") << none;
    QTest::newRow("far too large") << QByteArray("a 99999999999999999999 b c 1 d") << none;

    // Glued fields: a number ends at its last digit, a word swallows the digits after it.
    QTest::newRow("number glued to word") << QByteArray("a 12px c 34pt") << at(12, 34);
    QTest::newRow("decimal point shifts fields")
        << QByteArray("a 12.5 b\nc 7 d") << none; // ".5" is field 3, "b" field 4, "c" is no number
    QTest::newRow("decimal point then number") << QByteArray("a 12.5 b 9 c") << at(12, 9);
    QTest::newRow("word glued to number") << QByteArray("x=100 y=200") << none;
    QTest::newRow("word glued, numbers later") << QByteArray("x=1 5 w y=2 6 w") << at(5, 6);
    QTest::newRow("sign alone") << QByteArray("a - b c 1 d") << none;
    QTest::newRow("sign then space") << QByteArray("a + 1 b c 1 d") << none;

    // Missing fields.
    QTest::newRow("empty") << QByteArray() << none;
    QTest::newRow("only whitespace") << QByteArray(" \n\t\r\n ") << none;
    QTest::newRow("only two numbers") << QByteArray("100 200") << none;
    QTest::newRow("ends after field 2") << QByteArray("a 1") << none;
    QTest::newRow("ends after field 4") << QByteArray("a 1 b c") << none;
    QTest::newRow("ends after field 5") << QByteArray("a 1 b c 2") << at(1, 2);
    QTest::newRow("ends after field 5 and space") << QByteArray("a 1 b c 2 \n") << at(1, 2);
    QTest::newRow("word where x is due") << QByteArray("a b c d e f") << none;

    // What the fields hold and what follows them.
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFword 3 b\nc 4 d") << at(3, 4);
    QTest::newRow("bytes above 127 and nul")
        << QByteArray("\xff\x80 1 \x01\x7f\nc\0c 2 d", 15) << at(1, 2);
    QTest::newRow("rest ignored") << QByteArray("a 1 b c 2 d\ngarbage 99999999999999 \xff\n")
                                  << at(1, 2);
    QTest::newRow("255-byte words")
        << (word(255) + " 1 " + word(255) + " " + word(255) + " 2 " + word(255)) << at(1, 2);
    QTest::newRow("256-byte first word") << (word(256) + " 1 b c 2 d") << none;
    QTest::newRow("256-byte third word") << ("a 1 " + word(256) + " c 2 d") << none;
    QTest::newRow("256-byte sixth word") << ("a 1 b c 2 " + word(256)) << none;
    QTest::newRow("256-byte word after field 6") << ("a 1 b c 2 d " + word(256)) << at(1, 2);
}

void TestPlacement::readsTheSecondAndFifthField()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<QPoint>, expected);

    QCOMPARE(parsePlacement(std::string_view(text.constData(), std::size_t(text.size()))),
             expected);
}

void TestPlacement::readsAFileAsItsTextReads_data()
{
    readsTheSecondAndFifthField_data();
}

void TestPlacement::readsAFileAsItsTextReads()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<QPoint>, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("config.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();

    QCOMPARE(readPlacementFile(file.fileName()), expected);
}

void TestPlacement::readsOnlyUpToTheSixthField()
{
    // The fields must come within the reader's budget; what follows them is never read, however
    // much there is.
    const QByteArray fields("a 1 b c 2 d ");
    const QByteArray filler(int(placementMaxBytes), ' ');

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const QByteArray &content) {
        QFile file(dir.filePath(QStringLiteral("config.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };

    write(fields + filler + "x 3 y");
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("config.xml"))), at(1, 2));
    write(filler + fields);
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("config.xml"))), none);

    // The sixth field may end on the budget's last byte, but not beyond it.
    const QByteArray head("a 1 b c 2");
    const QByteArray lastByte =
        head + QByteArray(int(placementMaxBytes) - head.size() - 1, ' ') + "d";
    write(lastByte);
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("config.xml"))), at(1, 2));
    write(lastByte + "d");
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("config.xml"))), none);
}

void TestPlacement::givesNothingForWhatIsNotARegularFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("absent.xml"))), none);

    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.xml")));
    QCOMPARE(readPlacementFile(dir.filePath(QStringLiteral("config.xml"))), none);

#ifdef Q_OS_UNIX
    // A FIFO without a writer would block an ordinary open, and /dev/zero would never end.
    const QString fifo = dir.filePath(QStringLiteral("fifo.xml"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(readPlacementFile(fifo), none);
    QCOMPARE(readPlacementFile(QStringLiteral("/dev/zero")), none);

    // A link to a regular file is followed.
    QFile target(dir.filePath(QStringLiteral("target")));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write("a 5 b c 6 d");
    target.close();
    const QString link = dir.filePath(QStringLiteral("link.xml"));
    QVERIFY(QFile::link(target.fileName(), link));
    QCOMPARE(readPlacementFile(link), at(5, 6));
#endif
}

void TestPlacement::givesNothingForAnUnreadableFile()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        QSKIP("root reads files whatever their permissions");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("config.xml")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a 1 b c 2 d");
    file.close();
    QVERIFY(file.setPermissions(QFile::WriteOwner));
    QCOMPARE(readPlacementFile(file.fileName()), none);
}

QTEST_APPLESS_MAIN(TestPlacement)
#include "tst_placement.moc"
