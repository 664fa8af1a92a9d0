#pragma once

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// A private X display for end-to-end tests: Xvfb on a free display number, a solid root
// background, and on request the openbox window manager and the xcompmgr compositor. Everything
// it starts ends with it.
class XSession
{
public:
    struct Options
    {
        QStringList screens{QStringLiteral("1024x768x24")}; // one Xvfb -screen each
        QStringList serverArguments;                        // e.g. +xinerama
        // Monitors that divide screen 0 among them, as a desktop of several screens side by
        // side shows itself (RandR monitors); empty: one monitor, the whole screen. Xvfb lays
        // the screens of -screen options all at the same origin even under +xinerama.
        QList<QRect> monitors;
        bool windowManager = true;
        bool compositor = true;
        QString background = QStringLiteral("#204060");
    };

    XSession();
    explicit XSession(const Options &options);
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    // Empty when everything is up; otherwise what went wrong.
    [[nodiscard]] QString error() const { return m_error; }
    [[nodiscard]] QString display() const { return m_display; }
    // For programs started on this display: DISPLAY set, Wayland and platform choices removed,
    // a private runtime directory and home.
    [[nodiscard]] QProcessEnvironment environment() const;

private:
    bool startServer(const Options &options);
    bool setMonitors(const QList<QRect> &monitors);
    bool startClient(const QString &program, const QStringList &arguments);

    QTemporaryDir m_home;
    QString m_display;
    QString m_error;
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_clients;
};
