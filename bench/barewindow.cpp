// The toolkit's own floor for the benchmark: the plainest Qt widgets window that shows a picture
// at its full size, and moves one pixel right on D and left on A, as picwnd does.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace {

class BareWindow : public QLabel
{
public:
    explicit BareWindow(const QPixmap &picture)
    {
        setPixmap(picture);
        setContentsMargins(0, 0, 0, 0);
        resize(picture.size());
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
    BareWindow window{QPixmap(arguments.at(1))};
    window.show();
    return QApplication::exec();
}
