#pragma once

#include <QPixmap>
#include <QPoint>
#include <QSplashScreen>

class QKeyEvent;
class QMouseEvent;
class QString;

// The picture window: the picture as a frameless, always-on-top window whose outline follows the
// picture, with every opaque-white pixel cut out. The constructor does all the set-up and shows
// the window; when the picture cannot be shown, it says why on standard error, shows nothing and
// has the application end with exit code 1 as soon as its event loop runs.
//
// The window is placed from "config.xml" in the working directory when that file gives a position
// (and then prints that position as "x y" on standard output), and is moved and made translucent
// from the keyboard. Mouse presses do nothing.
//
// It takes no parent and is meant to live until the process ends.
class PicWnd : public QSplashScreen
{
public:
    explicit PicWnd(const QString &picturePath);
    ~PicWnd() override;

    // Where the keys move the window: its top-left corner in screen coordinates.
    [[nodiscard]] QPoint storedPosition() const { return position; }
    // The opacity that the next key press applies to the window.
    [[nodiscard]] float storedOpacity() const { return opacity; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void placeFromFile();
    void showForScreen();
    void applyPositionAndOpacity();

    QPoint position;
    float opacity = 1.0f;
    // The picture as loaded, and the device pixel ratio it is shown at (see pictureForScreen).
    QPixmap picture;
    qreal shownRatio = 1.0;
};
