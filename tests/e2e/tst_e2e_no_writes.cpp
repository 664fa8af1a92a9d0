// The program never writes a file. A whole run of the real picwnd on a real X server (start, keys,
// X) under strace, with a home and a runtime directory of its own: no file is opened for writing,
// and none is created, renamed, linked, truncated or removed, by the program or anything it
// starts.
//
// What counts: every open of a path with a flag that allows writing or creates or truncates
// (O_WRONLY, O_RDWR, O_CREAT, O_TRUNC), whether or not it succeeds, except /dev/null, which
// holds nothing (a child process may point its standard streams there); every successful call
// that creates, renames, links, truncates or removes a file system entry; and every program
// started besides picwnd itself, which could write on its behalf. Not files: the X connection (a
// socket, reached with connect) and shared memory (SysV segments, or memfd objects that exist in
// no directory), which strace shows as such. Failed attempts to create (mkdir of a directory that
// exists) change nothing and are only listed.

#include "fixtures.h"
#include "picwndprocess.h"
#include "xclient.h"
#include "xsession.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int waitMs = 10000;

const QStringList traced{
    QStringLiteral("open"),      QStringLiteral("openat"),    QStringLiteral("openat2"),
    QStringLiteral("creat"),     QStringLiteral("rename"),    QStringLiteral("renameat"),
    QStringLiteral("renameat2"), QStringLiteral("unlink"),    QStringLiteral("unlinkat"),
    QStringLiteral("mkdir"),     QStringLiteral("mkdirat"),   QStringLiteral("link"),
    QStringLiteral("linkat"),    QStringLiteral("symlink"),   QStringLiteral("symlinkat"),
    QStringLiteral("truncate"),  QStringLiteral("ftruncate"), QStringLiteral("execve")};

// The first child process of pid, or 0.
qint64 childOf(qint64 pid)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    return children.readAll().trimmed().split(' ').first().toLongLong();
}

// strace's log as whole calls: a call that another thread interrupted ("<unfinished ...>") is
// joined with its "<... resumed>" rest.
QStringList calls(const QByteArray &log)
{
    QStringList result;
    QHash<QString, QString> unfinished; // by pid
    static const QRegularExpression line(QStringLiteral("^(\\d+)\\s+(.*)$"));
    for (const QByteArray &raw : log.split('\n')) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(raw));
        if (!match.hasMatch())
            continue;
        const QString pid = match.captured(1);
        QString call = match.captured(2);
        if (call.startsWith(QLatin1String("<... "))) {
            call = unfinished.take(pid) + call.mid(call.indexOf(QLatin1String("resumed>")) + 8);
        } else if (call.endsWith(QLatin1String("<unfinished ...>"))) {
            unfinished.insert(pid, call.chopped(int(sizeof "<unfinished ...>") - 1));
            continue;
        }
        result << call;
    }
    return result;
}

bool succeeded(const QString &call)
{
    static const QRegularExpression result(QStringLiteral("\\)\\s+=\\s+(-?\\d+)"));
    const QRegularExpressionMatch match = result.match(call);
    return match.hasMatch() && match.captured(1).toLongLong() >= 0;
}

} // namespace

class TestNoWrites : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesNothingInAWholeRun();
};

void TestNoWrites::writesNothingInAWholeRun()
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    QVERIFY2(!strace.isEmpty(), "needs strace (scripts/deps.sh test installs it)");

    XSession session;
    QVERIFY2(session.error().isEmpty(), qPrintable(session.error()));
    XClient x(session.display());
    QVERIFY(x.isConnected());

    // The program's folders: a working directory with the picture and the placement file, and a
    // home and runtime directory of its own (the window manager has the session's).
    QTemporaryDir work;
    QTemporaryDir home;
    QTemporaryDir runtime;
    QTemporaryDir logs;
    QVERIFY(work.isValid() && home.isValid() && runtime.isValid() && logs.isValid());
    savePicture(QDir(work.path()), QStringLiteral("picture.png"), stickerPicture(64, 48));
    writeFile(work.filePath(QStringLiteral("config.xml")), "x 200 x\ny 150 y\n");

    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    // LeakSanitizer (in the sanitizer build) cannot work under a tracer; the other tests check
    // for leaks.
    QStringList asan = environment.value(QStringLiteral("ASAN_OPTIONS"))
                           .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    asan << QStringLiteral("detect_leaks=0");
    environment.insert(QStringLiteral("ASAN_OPTIONS"), asan.join(QLatin1Char(':')));

    const QString log = logs.filePath(QStringLiteral("strace.log"));
    PicwndProcess run(environment,
                      {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-y"),
                       QStringLiteral("-s"), QStringLiteral("4096"), QStringLiteral("-o"), log,
                       QStringLiteral("-e"), QStringLiteral("signal=none"), QStringLiteral("-e"),
                       QStringLiteral("trace=") + traced.join(QLatin1Char(',')),
                       QStringLiteral("--"), PicwndProcess::defaultProgram(),
                       QStringLiteral("picture.png")},
                      work.path(), strace);

    // The window of strace's child, moved by keys and ended with X.
    qint64 program = 0;
    xcb_window_t window = XCB_NONE;
    QVERIFY(x.waitUntil(
        [&] {
            // Asked each time: strace starts (and ends) a child of its own first.
            program = childOf(run.pid());
            window = program ? x.findWindow(program) : XCB_NONE;
            return window != XCB_NONE || run.hasEnded();
        },
        waitMs));
    QVERIFY2(window != XCB_NONE, run.standardError().constData());
    QVERIFY(x.waitUntil([&] { return x.geometry(window).topLeft() == QPoint(200, 150); }, waitMs));
    QVERIFY(focusByClick(x, window));
    for (const char key : {'h', 'k', 'n', 'n', 'm', 'e'})
        x.tapKey(std::uint32_t(key));
    QVERIFY(x.waitUntil([&] { return x.geometry(window).topLeft() == QPoint(210, 170); }, waitMs));
    x.tapKey('x');
    QVERIFY(run.waitForExit(waitMs));
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(run.standardOutput(), QByteArray("200 150\n"));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList all = calls(file.readAll());
    QVERIFY2(all.size() > 10, "strace saw almost nothing");

    static const QRegularExpression writing(QStringLiteral("O_WRONLY|O_RDWR|O_CREAT|O_TRUNC"));
    static const QRegularExpression path(QStringLiteral("\"([^\"]*)\""));
    QStringList writes;
    QStringList notes;
    int programs = 0;
    for (const QString &call : all) {
        const QString name = call.left(call.indexOf(QLatin1Char('(')));
        if (name.startsWith(QLatin1String("open")) || name == QLatin1String("creat")) {
            const QString target = path.match(call).captured(1);
            if ((name == QLatin1String("creat") || writing.match(call).hasMatch()) &&
                target != QLatin1String("/dev/null"))
                writes << call;
        } else if (name == QLatin1String("execve")) {
            if (succeeded(call) && ++programs > 1)
                writes << call;
            else if (!succeeded(call))
                notes << call;
        } else if (name == QLatin1String("ftruncate") && call.contains(QLatin1String("</memfd:"))) {
            notes << call; // shared memory, in no directory
        } else if (succeeded(call)) {
            writes << call;
        } else {
            notes << call;
        }
    }
    for (const QString &note : notes)
        qInfo("attempted, changed nothing: %s", qPrintable(note));
    QVERIFY2(writes.isEmpty(),
             qPrintable(QStringLiteral("writes:\n") + writes.join(QLatin1Char('\n'))));
    QCOMPARE(programs, 1);

    // And nothing was left in the folders it was given.
    for (const QTemporaryDir *dir : {&home, &runtime})
        QCOMPARE(
            QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{QStringLiteral("config.xml"), QStringLiteral("picture.png")}));
}

QTEST_MAIN(TestNoWrites)
#include "tst_e2e_no_writes.moc"
