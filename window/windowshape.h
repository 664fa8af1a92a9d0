#pragma once

class QRegion;
class QWidget;

// Makes shape the window's outline. shape is in the window's device pixels, the pixels of the
// picture as the window shows it (see pictureForScreen), so it can follow the drawn picture
// exactly at any device pixel ratio; an empty shape leaves nothing of the window visible.
//
// On X11 the shape goes to the X server directly, exact however intricate it is (see
// setX11WindowShape). Elsewhere it goes through the toolkit's window mask, which takes logical
// pixels: exact at a device pixel ratio of 1, the nearest the toolkit's rounding allows at others.
void setWindowShape(QWidget &window, const QRegion &shape);

// shape, given in device pixels at ratio, in logical pixels: every logical pixel that any device
// pixel of shape falls in. shape itself at ratio 1.
[[nodiscard]] QRegion logicalShape(const QRegion &shape, double ratio);
