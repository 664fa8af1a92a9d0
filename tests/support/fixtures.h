#pragma once

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QString>

class QByteArray;
class QDir;
class QRect;
class XClient;

// Pictures for the end-to-end tests, and what a user should see of them.

// A picture with opaque-white background, coloured areas, white holes and a few near-white
// pixels (which stay part of the window): width x height, opaque (no alpha channel).
[[nodiscard]] QImage stickerPicture(int width = 64, int height = 48,
                                    QRgb colour = qRgb(200, 40, 40));

// The pixels of image that are not exactly opaque white.
[[nodiscard]] QRegion opaquePart(const QImage &image);

// Whether a and b cover the same pixels, however they are cut into rectangles; says where they
// differ when not.
[[nodiscard]] bool sameArea(const QRegion &a, const QRegion &b);

// What the screen shows of an opaque picture over a solid background: the picture, except
// where it is opaque white.
[[nodiscard]] QImage seenOver(const QImage &picture, QColor background);

// The GIF file of image, which may have at most 128 colours (Qt reads GIF but does not write it):
// one frame, a global colour table, no compression to speak of.
[[nodiscard]] QByteArray gifData(const QImage &image);

// Waits until the screen shows expected in area; a difference still there after timeoutMs fails
// the test, naming the first pixel that differs.
void verifyScreen(XClient &x, const QRect &area, const QImage &expected, int timeoutMs = 5000);

// Writes content to the file at path, replacing what it held; a failure fails the test.
void writeFile(const QString &path, const QByteArray &content);

// Saves image in dir under name (format from the suffix) and returns its path.
QString savePicture(const QDir &dir, const QString &name, const QImage &image);
