#include "windowshape.h"

#include "shape.h"

#ifdef PICWND_X11_SHAPE
#include "x11shape.h"
#endif

#include <QRect>
#include <QRegion>
#include <QWidget>
#include <QtGlobal>

#include <cmath>

void setWindowShape(QWidget &window, const QRegion &shape)
{
#ifdef PICWND_X11_SHAPE
    if (setX11WindowShape(window, shape))
        return;
#endif
    applyShape(window, logicalShape(shape, window.devicePixelRatioF()));
}

QRegion logicalShape(const QRegion &shape, double ratio)
{
    if (qFuzzyCompare(ratio, 1.0) || ratio <= 0)
        return shape;
    QRegion logical;
    for (const QRect &rect : shape) {
        const QPoint topLeft(static_cast<int>(std::floor(rect.left() / ratio)),
                             static_cast<int>(std::floor(rect.top() / ratio)));
        const QPoint end(static_cast<int>(std::ceil((rect.right() + 1) / ratio)),
                         static_cast<int>(std::ceil((rect.bottom() + 1) / ratio)));
        logical += QRect(topLeft, end - QPoint(1, 1));
    }
    return logical;
}
