#pragma once

#include <QtGlobal>

class QImage;
class QPixmap;
class QRegion;
class QWidget;

// The window's shape is the picture less its exactly opaque-white pixels (ARGB 0xffffffff once
// the picture is read as non-premultiplied ARGB32); near-white, translucent white and fully
// transparent pixels stay.

// The pixels that stay, as a 1-bit image (QImage::Format_MonoLSB, rows padded to 32 bits) with a
// bit set for each of them. It is made in one pass over the picture, without a full-size copy of
// it; the padding bits at the end of each row are clear.
[[nodiscard]] QImage keptPixels(const QImage &picture);

// How many runs of set bits the rows of such an image hold: as many rectangles as a shape made
// of it has at most.
[[nodiscard]] qint64 runCount(const QImage &kept);

// The region of the set bits, rectangle for rectangle the one that the toolkit's
// QRegion(const QBitmap &) gives for the same bits, so that it compares equal to it and the X
// server receives the same shape.
[[nodiscard]] QRegion keptRegion(const QImage &kept);

// The region of the picture's kept pixels: the very region that
// QRegion(picture.createMaskFromColor(opaque white)) gives, at a fraction of its cost.
[[nodiscard]] QRegion pictureShape(const QImage &picture);
[[nodiscard]] QRegion pictureShape(const QPixmap &picture);

// Makes shape the window's outline through the toolkit's window mask (in logical pixels). An
// empty shape leaves nothing of the window visible (the toolkit on its own would take an empty
// mask for no mask at all and show the whole rectangle).
void applyShape(QWidget &window, const QRegion &shape);
