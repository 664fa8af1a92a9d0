// The toolkit's own floor for the benchmark: the plainest Qt widgets window that shows a picture
// at its full size, and moves one pixel right on D and left on A, as picwnd does. With --mask it
// also cuts the picture's opaque-white pixels out of its shape in the toolkit's plain way
// (setMask with the mask from the colour), which shows what a shape alone costs the X server.
#include <QApplication>
#include <QBitmap>
#include <QColor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QStringList>

namespace {

class BareWindow : public QLabel
{
public:
    BareWindow(const QPixmap &picture, bool masked)
    {
        setPixmap(picture);
        setContentsMargins(0, 0, 0, 0);
        resize(picture.size());
        // Where picwnd appears: centred on the screen. Moving a shaped window costs the X
        // server more or less depending on where it is.
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
        if (masked)
            setMask(picture.createMaskFromColor(QColor(255, 255, 255, 255)));
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_D:
            move(pos() + QPoint(1, 0));
            break;
        case Qt::Key_A:
            move(pos() - QPoint(1, 0));
            break;
        case Qt::Key_X:
            QApplication::quit();
            break;
        default:
            QLabel::keyPressEvent(event);
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    const bool masked = arguments.size() > 2 && arguments.at(2) == QLatin1String("--mask");
    BareWindow window(QPixmap(arguments.at(1)), masked);
    window.show();
    return QApplication::exec();
}
