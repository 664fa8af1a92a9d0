#include "picwnd.h"

#include "keycontrol.h"
#include "opacity.h"
#include "picture.h"
#include "placement.h"
#include "shape.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPixmap>
#include <QString>

#include <cstdio>

namespace {

// Built before the base class, so that the decoder limit and the cache size are in force for the
// picture that the base is constructed with.
QPixmap loadPicture(const QString &path)
{
    preparePictureLoading();
    return QPixmap(path);
}

void reportUnshowable(const QString &path)
{
    std::fprintf(stderr, "picwnd: %s: %s\n", QFile::encodeName(path).constData(),
                 pictureProblem(path).toLocal8Bit().constData());
}

} // namespace

PicWnd::PicWnd(const QString &picturePath)
    : QSplashScreen(loadPicture(picturePath), Qt::WindowStaysOnTopHint)
{
    if (pixmap().isNull()) {
        reportUnshowable(picturePath);
        close();
        // A quit asked for before the event loop runs would be lost: queue it, so that the loop
        // ends as soon as it starts.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        return;
    }

    placeFromFile();

    // The shape comes from a fresh load of the file (the pixmap cache has it by now, so this
    // shares the pixels of the first load).
    applyShape(*this, keptPixels(QPixmap(picturePath).toImage()));

    // Stored only: the window is first shown at the toolkit's default, fully opaque, and the
    // first key press applies the stored value.
    opacity = 1.0f;
    setVisible(true);
}

PicWnd::~PicWnd() = default;

void PicWnd::placeFromFile()
{
    const std::optional<QPoint> placed = readPlacementFile(QStringLiteral("config.xml"));
    if (!placed) {
        position = pos();
        return;
    }
    position = *placed;
    std::printf("%d %d\n", position.x(), position.y());
    move(position);
}

void PicWnd::mousePressEvent(QMouseEvent * /*event*/)
{
    // Deliberately nothing: a splash screen would hide on a click.
}

void PicWnd::keyPressEvent(QKeyEvent *event)
{
    const KeyAction action = keyAction(event->key());
    switch (action.kind) {
    case KeyAction::Move:
        position = movedBy(position, action.step);
        break;
    case KeyAction::RaiseOpacity:
        opacity = raisedOpacity(opacity);
        break;
    case KeyAction::LowerOpacity:
        opacity = loweredOpacity(opacity);
        break;
    case KeyAction::Quit:
        close();
        QCoreApplication::quit();
        break;
    case KeyAction::PassOn:
        QSplashScreen::keyPressEvent(event);
        break;
    }
    applyPositionAndOpacity();
}

void PicWnd::applyPositionAndOpacity()
{
    // Every key ends here, so a window that something else has moved comes back to its place.
    setWindowOpacity(static_cast<double>(opacity));
    move(position);
}
