#include "platformchoice.h"

#include <QByteArrayList>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

using Environment = QStringList; // "NAME=value" entries

class TestPlatformChoice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void prefersX11OnlyWhereTheUserChoseNothing_data();
    void prefersX11OnlyWhereTheUserChoseNothing();
};

void TestPlatformChoice::prefersX11OnlyWhereTheUserChoseNothing_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<Environment>("environment");
    QTest::addColumn<QByteArray>("expected"); // null: the toolkit chooses

    const QByteArray x11First("xcb;wayland");
    const QByteArray toolkit;
    const Environment waylandDesktop{QStringLiteral("DISPLAY=:0"),
                                     QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                                     QStringLiteral("XDG_SESSION_TYPE=wayland")};
    const auto with = [&](std::initializer_list<QString> extra) {
        Environment environment = waylandDesktop;
        environment.append(extra);
        return environment;
    };
    const QByteArrayList noArguments;
    const QByteArrayList picture{"sticker.png"};

    // The Wayland desktops of today, which also run XWayland.
    QTest::newRow("wayland desktop") << picture << waylandDesktop << x11First;
    QTest::newRow("wayland desktop, no arguments") << noArguments << waylandDesktop << x11First;
    QTest::newRow("only WAYLAND_DISPLAY")
        << picture << Environment{QStringLiteral("DISPLAY=:1"), QStringLiteral("WAYLAND_DISPLAY=w")}
        << x11First;
    QTest::newRow("empty WAYLAND_DISPLAY still counts for the toolkit")
        << picture << Environment{QStringLiteral("DISPLAY=:1"), QStringLiteral("WAYLAND_DISPLAY=")}
        << x11First;
    QTest::newRow("only the session type")
        << picture
        << Environment{QStringLiteral("DISPLAY=:1"), QStringLiteral("XDG_SESSION_TYPE=wayland")}
        << x11First;

    // Where the toolkit goes to X11 anyway, or there is no X display to go to.
    QTest::newRow("x11 desktop") << picture
                                 << Environment{QStringLiteral("DISPLAY=:0"),
                                                QStringLiteral("XDG_SESSION_TYPE=x11")}
                                 << toolkit;
    QTest::newRow("wayland without X display")
        << picture
        << Environment{QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                       QStringLiteral("XDG_SESSION_TYPE=wayland")}
        << toolkit;
    QTest::newRow("empty DISPLAY")
        << picture
        << Environment{QStringLiteral("DISPLAY="), QStringLiteral("WAYLAND_DISPLAY=wayland-0")}
        << toolkit;
    QTest::newRow("nothing at all") << picture << Environment() << toolkit;

    // The user's own choice always stands.
    QTest::newRow("QT_QPA_PLATFORM")
        << picture << with({QStringLiteral("QT_QPA_PLATFORM=wayland")}) << toolkit;
    QTest::newRow("empty QT_QPA_PLATFORM is no choice")
        << picture << with({QStringLiteral("QT_QPA_PLATFORM=")}) << x11First;
    QTest::newRow("-platform") << QByteArrayList{"-platform", "wayland", "sticker.png"}
                               << waylandDesktop << toolkit;
    QTest::newRow("--platform") << QByteArrayList{"--platform", "wayland"} << waylandDesktop
                                << toolkit;
    QTest::newRow("-platform after the picture")
        << QByteArrayList{"sticker.png", "-platform", "wayland"} << waylandDesktop << toolkit;
    QTest::newRow("-platform xcb")
        << QByteArrayList{"-platform", "xcb"} << waylandDesktop << toolkit;

    // What the toolkit does not take as a choice is none.
    QTest::newRow("-platform without a value")
        << QByteArrayList{"sticker.png", "-platform"} << waylandDesktop << x11First;
    QTest::newRow("-platform as the value of another option")
        << QByteArrayList{"-qwindowtitle", "-platform", "wayland"} << waylandDesktop << x11First;
    QTest::newRow("-title takes a value")
        << QByteArrayList{"--title", "-platform", "sticker.png"} << waylandDesktop << x11First;
    QTest::newRow("-display does not hide a -platform after it")
        << QByteArrayList{"-display", "-platform", "wayland"} << waylandDesktop << toolkit;
    QTest::newRow("-platform=wayland is not the option")
        << QByteArrayList{"-platform=wayland"} << waylandDesktop << x11First;
    QTest::newRow("---platform is not the option")
        << QByteArrayList{"---platform", "wayland"} << waylandDesktop << x11First;
    QTest::newRow("other toolkit options")
        << QByteArrayList{"-reverse", "-name", "sticker", "sticker.png"} << waylandDesktop
        << x11First;
}

void TestPlatformChoice::prefersX11OnlyWhereTheUserChoseNothing()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(Environment, environment);
    QFETCH(QByteArray, expected);

    QProcessEnvironment processEnvironment;
    for (const QString &entry : environment) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        processEnvironment.insert(entry.left(equals), entry.mid(equals + 1));
    }
    const std::optional<QByteArray> chosen = preferredPlatform(arguments, processEnvironment);
    if (expected.isNull())
        QVERIFY2(!chosen, chosen ? chosen->constData() : "");
    else
        QCOMPARE(chosen.value_or(QByteArray("(the toolkit's choice)")), expected);
}

QTEST_APPLESS_MAIN(TestPlatformChoice)
#include "tst_platformchoice.moc"
