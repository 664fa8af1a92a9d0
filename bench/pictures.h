#pragma once

#include <QImage>
#include <QPoint>
#include <QRgb>
#include <QString>

#include <vector>

// The pictures the benchmark shows. Each is drawn from a fixed seed, so every run measures the
// same files.
struct BenchPicture
{
    QString name;        // "P1" ...
    QString description; // one line for the table
    QImage image;        // opaque: white pixels are the ones the window cuts out

    // Points of the picture that are not opaque white and so are on the screen once the picture
    // is painted, whichever program shows it.
    std::vector<QPoint> probes;

    // How many runs of pixels that are not opaque white its rows hold: the size of its shape in
    // rectangles, give or take the rows that repeat.
    long shapeRuns = 0;
};

// P1 a 256x256 sticker on white, P2 a 1920x1080 and P3 a 3840x2160 photo-like picture on a white
// background, P4 3840x2160 photo-like with 30 % of its pixels scattered opaque white.
[[nodiscard]] std::vector<BenchPicture> benchPictures();

// The same picture with alpha, for programs that take their shape from it: opaque white becomes
// fully transparent, everything else fully opaque.
[[nodiscard]] QImage withWhiteTransparent(const QImage &image);

// The colour a probe should show on a 24-bit screen.
[[nodiscard]] inline QRgb probeColour(const BenchPicture &picture, QPoint probe)
{
    return picture.image.pixel(probe) & 0xffffffu;
}
