// The real picwnd where its surroundings work against it. A display that cannot be reached or
// that makes no sense gives the toolkit's message and an abnormal end at once, not a wait. A
// working directory that cannot be read, that loses its permissions, or that is deleted while the
// window is up changes nothing once the window is there: the keys still work and X ends it with 0.

#include "endtoendtest.h"
#include "fixtures.h"
#include "otheruser.h"
#include "picwndprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bound for what must happen at once; the runs take tens of milliseconds.
constexpr int waitMs = 10000;

// A display number with no server behind it: no socket for it, in the file system or the
// abstract namespace, and nothing listening on its TCP port on the loopback address.
int freeDisplayNumber()
{
    QFile sockets(QStringLiteral("/proc/net/unix"));
    const QByteArray listed = sockets.open(QIODevice::ReadOnly) ? sockets.readAll() : QByteArray();
    for (int number = 1000; number < 2000; ++number) {
        const QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(number);
        if (QFileInfo::exists(QString::fromLatin1(socket)) ||
            listed.contains(QByteArray(socket + '\n')))
            continue;
        // Free on the loopback address when it can be bound there.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(6000 + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free =
            ::bind(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        ::close(probe);
        if (free)
            return number;
    }
    return -1;
}

} // namespace

class TestHostileEnvironment : public EndToEndTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void endsAtOnceWithoutAUsableDisplay_data();
    void endsAtOnceWithoutAUsableDisplay();
    void keepsWorkingWhateverHappensToItsDirectory_data();
    void keepsWorkingWhateverHappensToItsDirectory();
};

void TestHostileEnvironment::initTestCase()
{
    startDisplay();
}

void TestHostileEnvironment::endsAtOnceWithoutAUsableDisplay_data()
{
    QTest::addColumn<QString>("display");

    const int free = freeDisplayNumber();
    QVERIFY(free > 0);
    QTest::newRow("no server") << QStringLiteral(":%1").arg(free);
    QTest::newRow("no server on TCP") << QStringLiteral("127.0.0.1:%1").arg(free);
    QTest::newRow("no such screen") << m_session->display() + QStringLiteral(".7");
    QTest::newRow("empty") << QString();
    QTest::newRow("no colon") << QStringLiteral("bogus");
    QTest::newRow("colon alone") << QStringLiteral(":");
    QTest::newRow("not a number") << QStringLiteral(":abc");
    QTest::newRow("no such socket") << QStringLiteral("/nonexistent/socket");
}

void TestHostileEnvironment::endsAtOnceWithoutAUsableDisplay()
{
    QFETCH(QString, display);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    savePicture(QDir(dir.path()), QStringLiteral("picture.png"), stickerPicture(64, 48));
    QProcessEnvironment environment = m_session->environment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    m_x->clearEvents();

    PicwndProcess picwnd(environment, {}, dir.path());
    QVERIFY2(picwnd.waitForExit(waitMs), "picwnd waits instead of ending");
    // Qt reports the display it could not use and aborts (qFatal), before the program's own code.
    const QByteArray error = picwnd.standardError();
    QVERIFY2(picwnd.exitStatus() == QProcess::CrashExit && picwnd.exitCode() == SIGABRT,
             qPrintable(QStringLiteral("ended with %1 (%2)\n")
                            .arg(picwnd.exitCode())
                            .arg(picwnd.exitStatus() == QProcess::CrashExit
                                     ? QLatin1String("signal")
                                     : QLatin1String("exit code")) +
                        QString::fromLocal8Bit(error)));
    QVERIFY2(error.contains(QByteArray("could not connect to display " + display.toLocal8Bit())),
             error.constData());
    QCOMPARE(picwnd.standardOutput(), QByteArray());
    QCOMPARE(m_x->mapNotifyCount(), 0);
}

void TestHostileEnvironment::keepsWorkingWhateverHappensToItsDirectory_data()
{
    QTest::addColumn<QString>("what");
    // Search permission only: names can be opened, the directory cannot be listed.
    QTest::newRow("unreadable from the start") << QStringLiteral("unreadable");
    QTest::newRow("made inaccessible while up") << QStringLiteral("inaccessible");
    QTest::newRow("deleted while up") << QStringLiteral("deleted");
}

void TestHostileEnvironment::keepsWorkingWhateverHappensToItsDirectory()
{
    QFETCH(QString, what);

    OtherUser user;
    QVERIFY2(user.error().isEmpty(), qPrintable(user.error()));
    const QString folder = user.makeDirectory(QStringLiteral("work"));
    QVERIFY(!folder.isEmpty());
    const QString picture =
        savePicture(QDir(folder), QStringLiteral("picture.png"), stickerPicture(64, 48));
    writeFile(QDir(folder).filePath(QStringLiteral("config.xml")), "x 300 x\ny 200 y\n");
    for (const QString &path : {picture, QDir(folder).filePath(QStringLiteral("config.xml"))})
        QVERIFY(user.giveAway(path));
    if (what == QLatin1String("unreadable"))
        QVERIFY(QFile::setPermissions(folder, QFile::ExeOwner));

    m_x->clearEvents();
    PicwndProcess picwnd(user.environment(m_session->environment()),
                         user.arguments({QStringLiteral("picture.png")}), folder, user.program());
    const xcb_window_t window = picwnd.waitForWindow(*m_x);
    QVERIFY2(window != XCB_NONE, picwnd.standardError().constData());
    // Placed from the placement file, read by its name.
    QVERIFY(m_x->waitUntil([&] { return m_x->geometry(window).topLeft() == QPoint(300, 200); },
                           waitMs));

    if (what == QLatin1String("inaccessible"))
        QVERIFY(QFile::setPermissions(folder, QFile::Permissions()));
    if (what == QLatin1String("deleted")) {
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(!QFileInfo::exists(folder));
    }

    QVERIFY(focusByClick(*m_x, window));
    m_x->tapKey('h');
    m_x->tapKey('k');
    m_x->tapKey('n');
    QVERIFY(m_x->waitUntil([&] { return m_x->geometry(window).topLeft() == QPoint(310, 220); },
                           waitMs));
    m_x->tapKey('x');
    QVERIFY(picwnd.waitForExit(waitMs));
    QCOMPARE(picwnd.exitStatus(), QProcess::NormalExit);
    QCOMPARE(picwnd.exitCode(), 0);
    QCOMPARE(picwnd.standardOutput(), QByteArray("300 200\n"));
    QCOMPARE(picwnd.standardError(), QByteArray());

    // Let the temporary folders go as they came.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QTEST_MAIN(TestHostileEnvironment)
#include "tst_e2e_hostile_environment.moc"
