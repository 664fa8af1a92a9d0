#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <xcb/xcb.h>

#include <memory>

class XClient;
class XSession;

// The real picwnd binary, run on a test display. It is killed if still running at the end.
class PicwndProcess
{
public:
    PicwndProcess(const XSession &session, const QStringList &arguments,
                  const QString &workingDirectory, const QString &program = QString());
    // The same with an environment of the caller's (e.g. session.environment() with changes).
    PicwndProcess(const QProcessEnvironment &environment, const QStringList &arguments,
                  const QString &workingDirectory, const QString &program = QString());
    ~PicwndProcess();
    PicwndProcess(const PicwndProcess &) = delete;
    PicwndProcess &operator=(const PicwndProcess &) = delete;

    [[nodiscard]] bool isRunning() const;
    // Whether the process has ended, found out now (QProcess learns it from its event loop, which
    // does not run while a test waits for X events).
    [[nodiscard]] bool hasEnded();
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    // Waits for the process to end; false when it is still running after timeoutMs.
    bool waitForExit(int timeoutMs);
    [[nodiscard]] int exitCode() const { return m_process.exitCode(); }
    [[nodiscard]] QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    [[nodiscard]] QByteArray standardOutput();
    [[nodiscard]] QByteArray standardError();

    // Waits until the process's window is viewable; XCB_NONE when it is not within timeoutMs.
    xcb_window_t waitForWindow(XClient &x, int timeoutMs = 10000);

    // The program's path as built.
    static QString defaultProgram();

private:
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

// Gives window the keyboard focus the way a user does under a click-to-focus window manager: a
// click on one of its pixels. Returns false when it did not get the focus.
bool focusByClick(XClient &x, xcb_window_t window, int timeoutMs = 5000);
