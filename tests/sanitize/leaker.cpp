// Leaks on purpose, the way a fault in the program would: in a key handler, under the toolkit's
// event delivery inside its event loop (Qt Core, Qt Widgets and GLib frames all on the stack).
// With the suppression file in force, LeakSanitizer must still report the leak at exit.

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace {

char *volatile newest = nullptr;

class LeakingWindow : public QWidget
{
protected:
    void keyPressEvent(QKeyEvent * /*event*/) override
    {
        newest = new char[4173];
        newest = nullptr; // the only pointer is gone: a leak
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LeakingWindow window;
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &press);
        QCoreApplication::quit();
    });
    return QApplication::exec();
}
