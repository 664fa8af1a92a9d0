#include "picwndprocess.h"

#include "xclient.h"
#include "xsession.h"

#include <QRegion>

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
