#include "picwndprocess.h"

#include "xclient.h"
#include "xsession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegion>
#include <QTemporaryDir>

PicwndProcess::PicwndProcess(const XSession &session, const QStringList &arguments,
                             const QString &workingDirectory, const QString &program)
    : PicwndProcess(session.environment(), arguments, workingDirectory, program)
{}

PicwndProcess::PicwndProcess(const QProcessEnvironment &environment, const QStringList &arguments,
                             const QString &workingDirectory, const QString &program)
{
    m_process.setProcessEnvironment(environment);
    m_process.setWorkingDirectory(workingDirectory);
    m_process.start(program.isEmpty() ? defaultProgram() : program, arguments);
    m_process.waitForStarted(10000);
}

PicwndProcess::~PicwndProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString PicwndProcess::defaultProgram()
{
    return QStringLiteral(PICWND_BINARY);
}

bool PicwndProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool PicwndProcess::hasEnded()
{
    return waitForExit(0);
}

bool PicwndProcess::waitForExit(int timeoutMs)
{
    return !isRunning() || m_process.waitForFinished(timeoutMs);
}

QByteArray PicwndProcess::standardOutput()
{
    m_out += m_process.readAllStandardOutput();
    return m_out;
}

QByteArray PicwndProcess::standardError()
{
    m_err += m_process.readAllStandardError();
    return m_err;
}

bool PicwndProcess::waitForStandardError(const QByteArray &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!standardError().contains(text)) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !isRunning())
            return standardError().contains(text);
        // Waits for the current read channel.
        m_process.setReadChannel(QProcess::StandardError);
        m_process.waitForReadyRead(static_cast<int>(left));
        m_process.setReadChannel(QProcess::StandardOutput);
    }
    return true;
}

xcb_window_t PicwndProcess::waitForWindow(XClient &x, int timeoutMs)
{
    xcb_window_t window = XCB_NONE;
    x.waitUntil(
        [&] {
            if (hasEnded())
                return true;
            window = x.findWindow(pid());
            return window != XCB_NONE;
        },
        timeoutMs);
    return window;
}

bool focusByClick(XClient &x, xcb_window_t window, int timeoutMs)
{
    const QRegion shape = x.shape(window);
    if (shape.isEmpty())
        return false;
    const QRect first = *shape.begin();
    x.click(x.geometry(window).topLeft() + first.center(), 1);
    return x.waitUntil([&] { return x.activeWindow() == window && x.inputFocus() == window; },
                       timeoutMs);
}

FinishedRun runToEnd(const QProcessEnvironment &environment, const QStringList &arguments,
                     const QString &workingDirectory, int timeoutMs, const QString &program)
{
    FinishedRun run;
    // GNU time, a small program that has been exec'd itself, starts the program and takes its
    // peak from the kernel. A child forked straight from this process would be counted with
    // what it shares of this process's memory until it execs.
    QTemporaryDir scratch;
    const QString figures = scratch.filePath(QStringLiteral("peak"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral("/usr/bin/time"),
                  QStringList{QStringLiteral("--quiet"), QStringLiteral("--format=%M"),
                              QStringLiteral("--output=") + figures,
                              program.isEmpty() ? PicwndProcess::defaultProgram() : program} +
                      arguments);
    if (!process.waitForStarted(10000))
        return run;
    run.ended = process.waitForFinished(timeoutMs);
    if (!run.ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitedNormally = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    QFile peak(figures);
    if (peak.open(QIODevice::ReadOnly))
        run.peakResidentKiB = peak.readAll().trimmed().toLong();
    return run;
}
