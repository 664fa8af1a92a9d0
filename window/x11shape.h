#pragma once

class QRegion;
class QWidget;

// Sets the bounding shape of window's X11 window to shape, given in device pixels relative to
// the window, straight on the X server.
//
// The toolkit would send a shape as one request listing its rectangles. A picture's shape can
// have millions of them (a checkerboard has one a pixel). The X.Org server's shape extension
// takes at most 32765 rectangles a request: with more, it silently sets an empty shape and the
// window disappears; past about two million the request is longer than the server accepts at
// all, it closes the connection and the program dies. Here the shape goes as a bitmap instead,
// one bit a pixel, uploaded in pieces that each fit in a request, and the server makes the shape
// of it: exact for any shape, in time proportional to its area. Where the server cannot make the
// bitmap, the rectangles go in requests of 32765 at most, the first setting the shape and each
// later one adding to it.
//
// Returns false, having changed nothing, where the window is not on X11 or the server has no
// shape extension.
bool setX11WindowShape(QWidget &window, const QRegion &shape);
