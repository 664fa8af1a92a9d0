#include "westonsession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int startTimeoutMs = 15000;

// A datagram socket at path, where weston's systemd-notify module says "READY=1" once its
// Wayland socket accepts clients.
class ReadinessSocket
{
public:
    explicit ReadinessSocket(const QByteArray &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= qsizetype(sizeof address.sun_path))
            return;
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 &&
            ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~ReadinessSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadinessSocket(const ReadinessSocket &) = delete;
    ReadinessSocket &operator=(const ReadinessSocket &) = delete;

    [[nodiscard]] bool isValid() const { return m_fd >= 0; }

    bool waitForReady(const QProcess &process, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray said;
        while (!said.contains("READY=1")) {
            // weston may also die instead; it is looked at again at least every 100 ms.
            if (process.state() == QProcess::NotRunning)
                return false;
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                return false;
            pollfd fd{m_fd, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(qMin<qint64>(left, 100))) <= 0)
                continue;
            char buffer[256];
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got > 0)
                said.append(buffer, got).append('\n');
        }
        return true;
    }

private:
    int m_fd = -1;
};

} // namespace

WestonSession::WestonSession()
{
    if (!m_runtime.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    // A runtime directory must be private to its user.
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_socket = QStringLiteral("picwnd-test");
    const QString notify = m_runtime.filePath(QStringLiteral("notify"));
    ReadinessSocket readiness(QFile::encodeName(notify));
    if (!readiness.isValid()) {
        m_error = QStringLiteral("cannot make the readiness socket ") + notify;
        return;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("HOME"), m_runtime.path());
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), notify);

    m_weston = std::make_unique<QProcess>();
    m_weston->setProcessEnvironment(environment);
    m_weston->setStandardOutputFile(QProcess::nullDevice());
    m_weston->setStandardErrorFile(m_runtime.filePath(QStringLiteral("weston.log")));
    m_weston->start(QStringLiteral("weston"),
                    {QStringLiteral("--backend=headless-backend.so"),
                     QStringLiteral("--shell=kiosk-shell.so"), QStringLiteral("--no-config"),
                     QStringLiteral("--idle-time=0"), QStringLiteral("--modules=systemd-notify.so"),
                     QStringLiteral("--socket=") + m_socket});
    if (!m_weston->waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("cannot start weston: ") + m_weston->errorString();
        return;
    }
    if (!readiness.waitForReady(*m_weston, startTimeoutMs)) {
        QFile log(m_runtime.filePath(QStringLiteral("weston.log")));
        log.open(QIODevice::ReadOnly);
        m_error =
            QStringLiteral("weston did not come up: ") + QString::fromLocal8Bit(log.readAll());
    }
}

WestonSession::~WestonSession()
{
    if (m_weston && m_weston->state() != QProcess::NotRunning) {
        m_weston->terminate();
        if (!m_weston->waitForFinished(5000)) {
            m_weston->kill();
            m_weston->waitForFinished(5000);
        }
    }
}

QProcessEnvironment WestonSession::desktop(QProcessEnvironment environment) const
{
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    return environment;
}
