#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A Wayland desktop for end-to-end tests: weston with its headless backend (no screen, no GPU)
// and the kiosk shell, on a socket in a runtime directory of its own. It ends with the object.
class WestonSession
{
public:
    WestonSession();
    ~WestonSession();
    WestonSession(const WestonSession &) = delete;
    WestonSession &operator=(const WestonSession &) = delete;

    // Empty when weston is up; otherwise what went wrong.
    [[nodiscard]] QString error() const { return m_error; }
    [[nodiscard]] QString socketName() const { return m_socket; }

    // environment as on a Wayland desktop with this compositor: WAYLAND_DISPLAY, the runtime
    // directory that holds its socket, and XDG_SESSION_TYPE=wayland. DISPLAY stays as it is:
    // such desktops run an X server beside the compositor for X11 programs.
    [[nodiscard]] QProcessEnvironment desktop(QProcessEnvironment environment) const;

private:
    QTemporaryDir m_runtime;
    QString m_socket;
    QString m_error;
    std::unique_ptr<QProcess> m_weston;
};
