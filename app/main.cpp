#include "picwnd.h"
#include "platformchoice.h"

#include <QApplication>
#include <QByteArrayList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace {

// On a Wayland desktop the window goes to the desktop's X server (see preferredPlatform); this
// has to be settled before the application object picks its backend.
void preferX11WhereThereIsOne(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    if (const auto platform =
            preferredPlatform(arguments, QProcessEnvironment::systemEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

// The toolkit has taken its own options out of the arguments by now. The first one left is the
// picture, decoded as the system decodes file names; later ones are ignored.
QString picturePath()
{
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.size() > 1 ? arguments.at(1) : QStringLiteral("picture.png");
}

} // namespace

int main(int argc, char *argv[])
{
    preferX11WhereThereIsOne(argc, argv);
    QApplication app(argc, argv);

    // The window shows itself and lives until the process ends.
    new PicWnd(picturePath());

    return QApplication::exec();
}
