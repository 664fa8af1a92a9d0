#include "xsession.h"

#include "xclient.h"

#include <QColor>
#include <QDir>
#include <QFile>

namespace {

constexpr int startTimeoutMs = 15000;

QString ownerOfSelection(XClient &client, const char *name)
{
    xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
        client.connection(), xcb_get_selection_owner(client.connection(), client.atom(name)),
        nullptr);
    const xcb_window_t owner = reply ? reply->owner : XCB_NONE;
    std::free(reply);
    return owner == XCB_NONE ? QString() : QString::number(owner);
}

// Fills the root with colour through a root pixmap that outlives this connection, announced as
// _XROOTPMAP_ID: compositors paint the desktop from that pixmap.
void setBackground(XClient &client, QColor colour)
{
    xcb_connection_t *c = client.connection();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, 8, 8);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const std::uint32_t pixel = colour.rgb() & 0xffffffu;
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t all{0, 0, 8, 8};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    xcb_free_gc(c, gc);
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    for (const char *name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, client.atom(name),
                            XCB_ATOM_PIXMAP, 32, 1, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    client.sync();
}

} // namespace

XSession::XSession() : XSession(Options()) {}

XSession::XSession(const Options &options)
{
    if (!m_home.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    QFile::setPermissions(m_home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!startServer(options) || !setMonitors(options.monitors))
        return;

    XClient client(m_display);
    if (!client.isConnected()) {
        m_error = QStringLiteral("cannot connect to the new display ") + m_display;
        return;
    }
    setBackground(client, QColor(options.background));
    if (options.windowManager) {
        if (!startClient(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}))
            return;
        // A window manager that is ready announces itself on the root window.
        if (!client.waitUntil(
                [&] { return client.hasProperty(client.root(), "_NET_SUPPORTING_WM_CHECK"); },
                startTimeoutMs)) {
            m_error = QStringLiteral("openbox did not come up");
            return;
        }
    }
    if (options.compositor) {
        if (!startClient(QStringLiteral("xcompmgr"), {}))
            return;
        // A compositing manager owns the _NET_WM_CM_S<screen> selection once it runs.
        if (!client.waitUntil([&] { return !ownerOfSelection(client, "_NET_WM_CM_S0").isEmpty(); },
                              startTimeoutMs)) {
            m_error = QStringLiteral("xcompmgr did not come up");
            return;
        }
    }
}

XSession::~XSession()
{
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it) {
        (*it)->kill();
        (*it)->waitForFinished(5000);
    }
    if (m_server) {
        m_server->terminate();
        if (!m_server->waitForFinished(5000)) {
            m_server->kill();
            m_server->waitForFinished(5000);
        }
    }
}

bool XSession::startServer(const Options &options)
{
    QStringList arguments{QStringLiteral("-displayfd"), QStringLiteral("1"),
                          QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          QStringLiteral("-noreset")};
    for (int i = 0; i < options.screens.size(); ++i)
        arguments << QStringLiteral("-screen") << QString::number(i) << options.screens.at(i);
    arguments << options.serverArguments;

    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::SeparateChannels);
    m_server->setStandardErrorFile(QProcess::nullDevice());
    m_server->start(QStringLiteral("Xvfb"), arguments);
    if (!m_server->waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("cannot start Xvfb: ") + m_server->errorString();
        return false;
    }
    // With -displayfd the server picks a free display and writes its number once it accepts
    // connections.
    QByteArray number;
    while (!number.contains('\n')) {
        if (!m_server->waitForReadyRead(startTimeoutMs)) {
            m_error = QStringLiteral("Xvfb did not report a display");
            return false;
        }
        number += m_server->readAllStandardOutput();
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}

bool XSession::setMonitors(const QList<QRect> &monitors)
{
    for (qsizetype i = 0; i < monitors.size(); ++i) {
        const QRect &m = monitors.at(i);
        // Sizes in millimetres as on a screen of 96 dots per inch. The first monitor takes Xvfb's
        // one output ("screen"), which retires the monitor that covered the whole screen.
        const auto millimetres = [](int pixels) { return qRound(pixels * 25.4 / 96); };
        const QString geometry = QStringLiteral("%1/%2x%3/%4+%5+%6")
                                     .arg(m.width())
                                     .arg(millimetres(m.width()))
                                     .arg(m.height())
                                     .arg(millimetres(m.height()))
                                     .arg(m.x())
                                     .arg(m.y());
        QProcess xrandr;
        xrandr.setProcessEnvironment(environment());
        xrandr.setStandardOutputFile(QProcess::nullDevice());
        xrandr.start(QStringLiteral("xrandr"),
                     {QStringLiteral("--setmonitor"), QStringLiteral("picwnd-test-%1").arg(i),
                      geometry, i == 0 ? QStringLiteral("screen") : QStringLiteral("none")});
        if (!xrandr.waitForFinished(startTimeoutMs) ||
            xrandr.exitStatus() != QProcess::NormalExit || xrandr.exitCode() != 0) {
            m_error = QStringLiteral("xrandr could not set monitor ") + geometry +
                      QStringLiteral(": ") + QString::fromLocal8Bit(xrandr.readAllStandardError()) +
                      xrandr.errorString();
            return false;
        }
    }
    return true;
}

bool XSession::startClient(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("cannot start ") + program + QStringLiteral(": ") +
                  process->errorString();
        return false;
    }
    m_clients.push_back(std::move(process));
    return true;
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM",
          "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
          "QT_ENABLE_HIGHDPI_SCALING", "QT_LOGGING_RULES"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    environment.insert(QStringLiteral("HOME"), m_home.path());
    return environment;
}
