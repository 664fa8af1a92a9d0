#include "picwndprocess.h"

#include "xclient.h"
#include "xsession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegion>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
            if (!isRunning())
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

namespace {

// Zero-terminated strings and the vector of pointers to them that exec takes, made before the
// fork: the child only calls what is safe between fork and exec.
class CStrings
{
public:
    explicit CStrings(const QList<QByteArray> &strings) : m_strings(strings)
    {
        for (QByteArray &string : m_strings)
            m_pointers.push_back(string.data());
        m_pointers.push_back(nullptr);
    }
    char *const *data() { return m_pointers.data(); }

private:
    QList<QByteArray> m_strings;
    std::vector<char *> m_pointers;
};

} // namespace

FinishedRun runToEnd(const QProcessEnvironment &environment, const QStringList &arguments,
                     const QString &workingDirectory, int timeoutMs, const QString &program)
{
    FinishedRun run;
    const QByteArray path =
        QFile::encodeName(program.isEmpty() ? PicwndProcess::defaultProgram() : program);
    QList<QByteArray> argv{path};
    for (const QString &argument : arguments)
        argv.append(QFile::encodeName(argument));
    QList<QByteArray> envp;
    for (const QString &entry : environment.toStringList())
        envp.append(entry.toLocal8Bit());
    CStrings cArgv(argv);
    CStrings cEnvp(envp);
    const QByteArray directory = QFile::encodeName(workingDirectory);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (::chdir(directory.constData()) == 0)
            ::execve(path.constData(), cArgv.data(), cEnvp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }

    QElapsedTimer timer;
    timer.start();
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    QByteArray *sinks[2] = {&run.standardOutput, &run.standardError};
    int open = 2;
    while (open > 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        if (::poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, got);
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    run.ended = open == 0;
    for (const pollfd &fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    if (!run.ended)
        ::kill(pid, SIGKILL);
    // Both pipes closed means the program has ended (or handed its ends on, which it does not).
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.exitedNormally = WIFEXITED(status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakResidentKiB = usage.ru_maxrss;
    return run;
}
