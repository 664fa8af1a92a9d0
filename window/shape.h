#pragma once

class QPixmap;
class QRegion;
class QWidget;

// The part of the picture that stays part of the window: every pixel except the exactly opaque
// white ones (ARGB 0xffffffff). Near-white, translucent white and fully transparent pixels stay.
[[nodiscard]] QRegion pictureShape(const QPixmap &picture);

// Makes shape the window's outline. An empty shape leaves nothing of the window visible (the
// toolkit on its own would take an empty mask for no mask at all and show the whole rectangle).
void applyShape(QWidget &window, const QRegion &shape);
