#include "picwnd.h"

#include "keycontrol.h"
#include "opacity.h"
#include "picture.h"
#include "placement.h"
#include "screenpicture.h"
#include "shape.h"
#include "windowshape.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegion>
#include <QString>
#include <QWindow>

#include <cstdio>

namespace {

// Built before the base class, so that the decoder limit and the cache size are in force for the
// picture that the base is constructed with.
QPixmap loadFirstPicture(const QString &path)
{
    preparePictureLoading();
    return loadPicture(path);
}

void reportUnshowable(const QString &path)
{
    std::fprintf(stderr, "picwnd: %s: %s\n", QFile::encodeName(path).constData(),
                 pictureProblem(path).toLocal8Bit().constData());
}

} // namespace

PicWnd::PicWnd(const QString &picturePath)
    : QSplashScreen(loadFirstPicture(picturePath), Qt::WindowStaysOnTopHint)
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

    // What is shown and its shape come from a fresh load of the file (the pixmap cache has it by
    // now), drawn for the screen the window is on, and again should it move to a screen of
    // another device pixel ratio.
    picture = loadPicture(picturePath);
    showForScreen();
    connect(windowHandle(), &QWindow::screenChanged, this, [this] {
        if (!qFuzzyCompare(windowHandle()->devicePixelRatio(), shownRatio))
            showForScreen();
    });

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

void PicWnd::showForScreen()
{
    // The native window exists from here on: it knows its screen, and takes the shape.
    create();
    shownRatio = windowHandle()->devicePixelRatio();
    const QPixmap shown = pictureForScreen(picture, shownRatio);
    if (shown.cacheKey() != pixmap().cacheKey()) {
        // The base class centres the window on every new picture: it goes back to its place.
        setPixmap(shown);
        resize(picture.deviceIndependentSize().toSize());
        move(position);
    }
    // At device pixel ratios other than 1 the toolkit tells the window manager that the window
    // grows in steps of the device pixels of a logical pixel (2 at ratio 1.5) from a base of -2.
    // Window managers that keep to such steps (openbox does) then make a window of an odd
    // device size one pixel smaller than its picture. With its own size as the base, the
    // window's size is one of the steps.
    if (!qFuzzyCompare(shownRatio, 1.0))
        setBaseSize(size());
    setWindowShape(*this, pictureShape(shown));
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
        // Queued, like the quit of a failed start: the splash screen handles events while it is
        // being shown, before the event loop runs, and a quit asked for then would be lost (the
        // window gone, the program left running).
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
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
    // The widget skips a move to where it believes it already is, and that belief can be stale:
    // a window manager need not confirm a move the program asked for, and a later move by
    // someone else may then look like no change to the widget. The native window keeps what
    // the windowing system last reported; where that differs, the move is asked for there.
    if (QWindow *native = windowHandle(); native && native->position() != position)
        native->setPosition(position);
}
