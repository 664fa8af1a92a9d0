// The real picwnd on a real X server, given pictures that are damaged or are no pictures at all:
// every run ends at once in one of two ways. Either the decoder accepts what it gets, and the
// window is shown and ends with X (exit code 0); or the program refuses it with exit code 1 and one
// line on standard error naming the picture and the reason, and shows nothing. Never a crash, a
// hang or a window that cannot be closed.

#include "endtoendtest.h"
#include "fixtures.h"
#include "otheruser.h"
#include "picwndprocess.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImageWriter>
#include <QTest>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// A run that neither ends nor shows a window by then is taken for a hang. (They take tens of
// milliseconds; the slowest is printed.)
constexpr int hangMs = 20000;
// Programs started at once: enough to keep both cores busy while others start up.
constexpr int batchSize = 4;

QByteArray encoded(const QImage &image, const char *format)
{
    if (qstrcmp(format, "gif") == 0)
        return gifData(image);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        qFatal("cannot write a %s picture: %s", format, qPrintable(writer.errorString()));
    return data;
}

// The standard CRC-32 (as in PNG and zlib).
quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(QByteArray &data, qsizetype at, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data[at + i] = char((value >> (8 * (bytes - 1 - i))) & 0xff);
}

void putLittleEndian(QByteArray &data, qsizetype at, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data[at + i] = char((value >> (8 * i)) & 0xff);
}

// A valid file of the format whose header claims width x height pixels (the data stays as small
// as it was).
QByteArray claimingSize(QByteArray data, const QByteArray &format, quint32 width, quint32 height)
{
    if (format == "png") {
        // IHDR: length, "IHDR", width, height, ...; its CRC covers type and data.
        putBigEndian(data, 16, width, 4);
        putBigEndian(data, 20, height, 4);
        putBigEndian(data, 29, crc32(data.mid(12, 17)), 4);
    } else if (format == "bmp") {
        putLittleEndian(data, 18, width, 4);
        putLittleEndian(data, 22, height, 4);
    } else if (format == "gif") {
        // The logical screen, and the frame after the 128-entry colour table.
        putLittleEndian(data, 6, width, 2);
        putLittleEndian(data, 8, height, 2);
        putLittleEndian(data, 13 + 3 * 128 + 5, width, 2);
        putLittleEndian(data, 13 + 3 * 128 + 7, height, 2);
    } else if (format == "jpeg") {
        // The frame header: FF C0 (baseline) or FF C2 (progressive), length, precision, height,
        // width.
        qsizetype at = 0;
        while ((at = data.indexOf('\xff', at)) >= 0 && at + 1 < data.size() &&
               quint8(data[at + 1]) != 0xc0 && quint8(data[at + 1]) != 0xc2)
            ++at;
        if (at < 0)
            qFatal("no frame header in the JPEG picture");
        putBigEndian(data, at + 5, height, 2);
        putBigEndian(data, at + 7, width, 2);
    }
    return data;
}

struct Run
{
    QString picture; // as given on the command line, relative to the working directory
    std::unique_ptr<PicwndProcess> process;
    QElapsedTimer clock;
    qint64 decidedMs = -1; // when it ended or showed its window
    xcb_window_t window = XCB_NONE;
};

} // namespace

class TestBrokenPictures : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void showsOrRefusesDamagedPicturesAtOnce_data();
    void showsOrRefusesDamagedPicturesAtOnce();
    void showsPicturesWhateverTheirExtension();
    void refusesWhatIsNoPicture_data();
    void refusesWhatIsNoPicture();
    void refusesAPictureItMayNotRead();

private:
    // Runs picwnd on each picture, a few at a time, and checks the outcome of each: refused with
    // one line naming it, or shown and ended with X. Counts the shown ones into shown, and keeps
    // the message of the refused ones in refusals.
    void runAll(const QStringList &pictures, int &shown, QHash<QString, QByteArray> &refusals);
    void decide(std::vector<Run> &batch);
    void finish(Run &run, int &shown, QHash<QString, QByteArray> &refusals);

    qint64 m_slowestMs = 0;
    QString m_slowest;
};

void TestBrokenPictures::initTestCase()
{
    // A bare server: the windows are closed with keys given straight to them, and nothing else
    // has to come up for the checks.
    XSession::Options bare;
    bare.windowManager = false;
    bare.compositor = false;
    startDisplay(bare);
    freshStart();
}

void TestBrokenPictures::cleanupTestCase()
{
    qInfo("slowest run until it ended or showed its window: %lld ms (%s)", m_slowestMs,
          qPrintable(m_slowest));
}

void TestBrokenPictures::runAll(const QStringList &pictures, int &shown,
                                QHash<QString, QByteArray> &refusals)
{
    for (qsizetype first = 0; first < pictures.size(); first += batchSize) {
        m_x->clearEvents();
        std::vector<Run> batch;
        for (qsizetype i = first; i < std::min(first + batchSize, pictures.size()); ++i) {
            Run run;
            run.picture = pictures.at(i);
            run.clock.start();
            run.process = std::make_unique<PicwndProcess>(*m_session, QStringList{run.picture},
                                                          m_dir->path());
            batch.push_back(std::move(run));
        }
        decide(batch);
        if (QTest::currentTestFailed())
            return;
        int shownHere = 0;
        for (Run &run : batch) {
            finish(run, shownHere, refusals);
            if (QTest::currentTestFailed())
                return;
        }
        // Refused pictures never map a window.
        QCOMPARE(m_x->mapNotifyCount(), shownHere);
        shown += shownHere;
    }
}

void TestBrokenPictures::decide(std::vector<Run> &batch)
{
    // Each run ends or shows its window; whichever comes first decides it.
    const bool decided = m_x->waitUntil(
        [&] {
            bool all = true;
            for (Run &run : batch) {
                if (run.decidedMs >= 0)
                    continue;
                if (run.process->hasEnded() ||
                    (run.window = m_x->findWindow(run.process->pid())) != XCB_NONE) {
                    run.decidedMs = run.clock.elapsed();
                    if (run.decidedMs > m_slowestMs) {
                        m_slowestMs = run.decidedMs;
                        m_slowest = run.picture;
                    }
                } else {
                    all = false;
                }
            }
            return all;
        },
        hangMs);
    if (!decided) {
        for (const Run &run : batch)
            if (run.decidedMs < 0)
                QFAIL(qPrintable(QStringLiteral("%1: neither ended nor showed a window in %2 ms")
                                     .arg(run.picture)
                                     .arg(hangMs)));
    }
}

void TestBrokenPictures::finish(Run &run, int &shown, QHash<QString, QByteArray> &refusals)
{
    PicwndProcess &picwnd = *run.process;
    const QByteArray name = QFile::encodeName(run.picture);
    // What the failure says: the picture, what went wrong, and what the program wrote.
    const auto why = [&](const char *what) {
        return QByteArray(name + ": " + what + " (exit code " +
                          QByteArray::number(picwnd.exitCode()) + ")\n" + picwnd.standardError());
    };
    if (run.window != XCB_NONE) {
        // Shown: a window that can be seen and that ends with X.
        QVERIFY2(!m_x->geometry(run.window).isEmpty(), why("shown, but with an empty window"));
        m_x->setInputFocus(run.window);
        m_x->tapKey('x');
        QVERIFY2(picwnd.waitForExit(hangMs), why("shown, but X does not end it"));
        QVERIFY2(picwnd.exitStatus() == QProcess::NormalExit && picwnd.exitCode() == 0,
                 why("shown, but X does not end it well"));
        QCOMPARE(picwnd.standardOutput(), QByteArray());
        ++shown;
        return;
    }
    // Refused: exit code 1, and one line that names the picture and gives a reason.
    QVERIFY(picwnd.waitForExit(hangMs));
    QVERIFY2(picwnd.exitStatus() == QProcess::NormalExit, why("crashed"));
    QVERIFY2(picwnd.exitCode() == 1, why("refused, with the wrong exit code"));
    QCOMPARE(picwnd.standardOutput(), QByteArray());
    const QByteArray error = picwnd.standardError();
    const QByteArray prefix = "picwnd: " + name + ": ";
    QVERIFY2(error.startsWith(prefix) && error.size() > prefix.size() + 1 &&
                 error.count('\n') == 1 && error.endsWith('\n'),
             why("refused, but not with one line naming it and the reason"));
    refusals.insert(run.picture, error.mid(prefix.size()).chopped(1));
}

void TestBrokenPictures::showsOrRefusesDamagedPicturesAtOnce_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("PNG") << QByteArray("png");
    QTest::newRow("JPEG") << QByteArray("jpeg");
    QTest::newRow("GIF") << QByteArray("gif");
    QTest::newRow("BMP") << QByteArray("bmp");
}

void TestBrokenPictures::showsOrRefusesDamagedPicturesAtOnce()
{
    QFETCH(QByteArray, format);
    const QByteArray whole = encoded(stickerPicture(64, 48), format.constData());
    const auto size = whole.size();
    const QString suffix = QLatin1Char('.') + QString::fromLatin1(format);
    QStringList pictures;

    // Cut short: inside the signature and the header, in the middle of the data, just before the
    // end.
    std::vector<qsizetype> lengths{1, 2, 4, 7, 8, 12, 16, 24, 33, 50, 100};
    for (int quarter = 1; quarter < 4; ++quarter)
        lengths.push_back(size * quarter / 4);
    lengths.push_back(size - 12);
    lengths.push_back(size - 1);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    for (const qsizetype length : lengths) {
        if (length <= 0 || length >= size)
            continue;
        const QString name = QStringLiteral("cut-%1").arg(length, 6, 10, QLatin1Char('0')) + suffix;
        writeFile(m_dir->filePath(name), whole.left(length));
        pictures << name;
    }

    // A byte inverted: all through the header, then spread over the data.
    std::vector<qsizetype> offsets;
    for (qsizetype at = 0; at < std::min<qsizetype>(size, 40); at += 3)
        offsets.push_back(at);
    for (int eighth = 1; eighth < 8; ++eighth)
        offsets.push_back(size * eighth / 8);
    offsets.push_back(size - 2);
    for (const qsizetype at : offsets) {
        QByteArray flipped = whole;
        flipped[at] = char(~quint8(flipped[at]));
        const QString name = QStringLiteral("flip-%1").arg(at, 6, 10, QLatin1Char('0')) + suffix;
        writeFile(m_dir->filePath(name), flipped);
        pictures << name;
    }

    int shown = 0;
    QHash<QString, QByteArray> refusals;
    runAll(pictures, shown, refusals);
    qInfo("%s: %lld damaged files, %d shown, %lld refused", format.constData(),
          qlonglong(pictures.size()), shown, qlonglong(pictures.size() - shown));
}

void TestBrokenPictures::showsPicturesWhateverTheirExtension()
{
    // The decoder goes by the content: a file named for another format is shown all the same.
    const QImage image = stickerPicture(64, 48);
    const std::vector<std::pair<const char *, QString>> files{
        {"png", QStringLiteral("png-named.jpg")},      {"jpeg", QStringLiteral("jpeg-named.png")},
        {"gif", QStringLiteral("gif-named.bmp")},      {"bmp", QStringLiteral("bmp-named.gif")},
        {"png", QStringLiteral("png-without-suffix")}, {"png", QStringLiteral("png.PNG")}};
    QStringList pictures;
    for (const auto &[format, name] : files) {
        writeFile(m_dir->filePath(name), encoded(image, format));
        pictures << name;
    }
    int shown = 0;
    QHash<QString, QByteArray> refusals;
    runAll(pictures, shown, refusals);
    QCOMPARE(shown, pictures.size());
}

void TestBrokenPictures::refusesWhatIsNoPicture_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("zero bytes") << QStringLiteral("empty.png") << QByteArray();
    QTest::newRow("directory") << QStringLiteral("folder.png") << QByteArray("Is a directory");
    QTest::newRow("FIFO") << QStringLiteral("fifo.png") << QByteArray("Not a regular file");
    QTest::newRow("device") << QStringLiteral("/dev/zero") << QByteArray("Not a regular file");
    QTest::newRow("dangling link")
        << QStringLiteral("dangling.png") << QByteArray("No such file or directory");
    QTest::newRow("text") << QStringLiteral("text.png") << QByteArray();
    // Headers that claim far more pixels than the decoder may allocate, in small files. Qt's BMP
    // reader refuses that header itself, with a reason of its own.
    for (const char *format : {"png", "jpeg", "gif"})
        QTest::newRow(qPrintable(QStringLiteral("huge %1").arg(QLatin1String(format))))
            << QStringLiteral("huge.") + QLatin1String(format)
            << QByteArray("picture of 60000x60000 pixels is larger than the limit");
    QTest::newRow("huge bmp") << QStringLiteral("huge.bmp") << QByteArray();
}

void TestBrokenPictures::refusesWhatIsNoPicture()
{
    QFETCH(QString, picture);
    QFETCH(QByteArray, reason);

    const QDir dir(m_dir->path());
    writeFile(dir.filePath(QStringLiteral("empty.png")), QByteArray());
    writeFile(dir.filePath(QStringLiteral("text.png")), "this is not a picture\n");
    dir.mkdir(QStringLiteral("folder.png"));
    if (!QFileInfo::exists(dir.filePath(QStringLiteral("fifo.png"))))
        QCOMPARE(
            ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.png"))).constData(), 0644),
            0);
    QFile::link(dir.filePath(QStringLiteral("nowhere.png")),
                dir.filePath(QStringLiteral("dangling.png")));
    const QImage image = stickerPicture(64, 48);
    for (const char *format : {"png", "jpeg", "gif", "bmp"})
        writeFile(dir.filePath(QStringLiteral("huge.") + QLatin1String(format)),
                  claimingSize(encoded(image, format), format, 60000, 60000));

    int shown = 0;
    QHash<QString, QByteArray> refusals;
    runAll({picture}, shown, refusals);
    QCOMPARE(shown, 0);
    QVERIFY2(refusals.value(picture).contains(reason), refusals.value(picture).constData());
}

void TestBrokenPictures::refusesAPictureItMayNotRead()
{
    OtherUser user;
    QVERIFY2(user.error().isEmpty(), qPrintable(user.error()));
    const QString folder = user.makeDirectory(QStringLiteral("pictures"));
    QVERIFY(!folder.isEmpty());
    const QString picture =
        savePicture(QDir(folder), QStringLiteral("secret.png"), stickerPicture(64, 48));
    QVERIFY(user.giveAway(picture));
    QVERIFY(QFile::setPermissions(picture, QFile::Permissions()));

    PicwndProcess picwnd(user.environment(m_session->environment()),
                         user.arguments({QStringLiteral("secret.png")}), folder, user.program());
    QVERIFY2(picwnd.waitForExit(hangMs), "picwnd waits instead of ending");
    QCOMPARE(picwnd.exitStatus(), QProcess::NormalExit);
    QCOMPARE(picwnd.exitCode(), 1);
    QCOMPARE(picwnd.standardOutput(), QByteArray());
    QCOMPARE(picwnd.standardError(), QByteArray("picwnd: secret.png: Permission denied\n"));
}

QTEST_MAIN(TestBrokenPictures)
#include "tst_e2e_broken_pictures.moc"
