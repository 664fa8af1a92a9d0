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
    // With an environment of its own (start from XSession::environment() and change it).
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
    // Waits until the program has written text to standard error; false when it has not within
    // timeoutMs, or has ended without.
    bool waitForStandardError(const QByteArray &text, int timeoutMs);

    // Waits until the process's window is viewable; XCB_NONE when it is not within timeoutMs.
    xcb_window_t waitForWindow(XClient &x, int timeoutMs = 10000);

    // The program's path as built.
    static QString defaultProgram();

private:
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

// A run of picwnd that ends by itself, with the most memory it ever held.
struct FinishedRun
{
    bool ended = false; // false: still running after the timeout, and killed
    bool exitedNormally = false;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
    long peakResidentKiB = 0; // the kernel's high-water mark of its resident memory
};

// Runs the program (by default picwnd) until it ends, at most timeoutMs, under GNU time
// (/usr/bin/time), which measures its memory.
FinishedRun runToEnd(const QProcessEnvironment &environment, const QStringList &arguments,
                     const QString &workingDirectory, int timeoutMs,
                     const QString &program = QString());

// Gives window the keyboard focus the way a user does under a click-to-focus window manager: a
// click on one of its pixels. Returns false when it did not get the focus.
bool focusByClick(XClient &x, xcb_window_t window, int timeoutMs = 5000);
