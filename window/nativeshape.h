#pragma once

#include <QtGlobal>

class QImage;
class QWidget;

// The most rectangles that one plain X request of the SHAPE extension holds: 262140 bytes less
// its 16-byte header, 8 bytes a rectangle. A longer request needs BIG-REQUESTS, and the X.Org
// server (21.1, as in Debian 12) then reads the request's length from the wrong field and gives
// the window an empty shape; past 16 MiB the server refuses the request and closes the
// connection.
inline constexpr qint64 maxShapeRectanglesPerRequest = (262140 - 16) / 8;

// Sets the bounding shape of the window's X11 window to the set bits of kept (a
// QImage::Format_MonoLSB image of the window's size, see keptPixels), uploaded as a 1-bit pixmap
// in requests short enough for any server. Creates the native window if need be. Returns false,
// having changed nothing, where that cannot be done: not on X11, no SHAPE extension, a device
// pixel ratio other than 1, or a server whose bitmap layout differs from the image's.
bool setNativeShape(QWidget &window, const QImage &kept);
