#pragma once

#include <QtGlobal>

class QImage;
class QPixmap;
class QSize;

// How the picture is shown on a screen with a device pixel ratio other than 1 (QT_SCALE_FACTOR,
// a high-density screen), and how a picture made for such screens is shown.
//
// The window's size is the picture's size in the toolkit's logical pixels: its pixel size
// divided by the picture's own device pixel ratio, which is 1 except for a file named
// "name@2x.png" (@3x, ...), the toolkit's convention for a picture made for a screen of that
// ratio. On a screen of ratio r the window then covers its logical size times r device pixels,
// rounded, as the toolkit sizes windows. The picture is drawn there without smoothing: each
// device pixel shows the one picture pixel under its centre. Smoothing would blend the colours
// next to a cut-out white pixel into a fringe; nearest pixels keep every shown pixel one of the
// picture's own, so the window's shape can follow exactly what is drawn: a device pixel is cut
// out exactly where the picture pixel it shows is opaque white.
//
// So a "@2x" picture appears at the size of its 1x version everywhere: pixel for pixel on a
// screen of ratio 2, and at half its pixel size (every second pixel of each row and column) on a
// screen of ratio 1.

// The window's size in device pixels, for a logical size at the given device pixel ratio.
[[nodiscard]] QSize deviceSize(QSize logicalSize, qreal ratio);

// image drawn into size by the rule above: each pixel of the result is the pixel of image under
// its centre. Pictures of fewer than 32 bits a pixel come back as 32-bit pictures.
[[nodiscard]] QImage nearestScaled(const QImage &image, QSize size);

// The picture as the window shows it at the given device pixel ratio, in device pixels and
// tagged with that ratio: the picture itself where it already is that (the usual case of ratio 1
// and a plain picture), otherwise drawn anew by the rule above.
[[nodiscard]] QPixmap pictureForScreen(const QPixmap &picture, qreal ratio);
