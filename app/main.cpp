#include "picwnd.h"

#include <QApplication>
#include <QString>
#include <QStringList>

namespace {

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
    QApplication app(argc, argv);

    // The window shows itself and lives until the process ends.
    new PicWnd(picturePath());

    return QApplication::exec();
}
