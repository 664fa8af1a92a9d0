#include "shape.h"

#include <QBitmap>
#include <QColor>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

QRegion pictureShape(const QPixmap &picture)
{
    QColor opaqueWhite;
    opaqueWhite.setRgb(255, 255, 255, 255);
    return QRegion(picture.createMaskFromColor(opaqueWhite));
}

void applyShape(QWidget &window, const QRegion &shape)
{
    // A one-pixel region just outside the window: a mask that is not empty, yet covers none of
    // the window's pixels.
    window.setMask(shape.isEmpty() ? QRegion(-1, -1, 1, 1) : shape);
}
