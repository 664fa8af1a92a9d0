#include "pictures.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr QRgb opaqueWhite = 0xffffffffu;

// splitmix64: small, fast and the same everywhere.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t m_state;
};

int clampChannel(double value)
{
    return std::clamp(int(std::lround(value)), 0, 250);
}

// Smooth colour fields with a little sensor noise: compresses and decodes like a photo, and never
// holds an opaque-white pixel (channels stay at or below 250).
QRgb photoPixel(int x, int y, int width, int height, Random &random)
{
    const double u = double(x) / width;
    const double v = double(y) / height;
    const double r = 120 + 80 * std::sin(6.1 * u + 2.3 * v) + 30 * std::cos(17.0 * u * v);
    const double g = 110 + 70 * std::sin(4.7 * v - 1.9 * u + 1.0) + 25 * std::sin(23.0 * u);
    const double b = 100 + 90 * std::cos(3.3 * u + 5.1 * v) + 20 * std::cos(29.0 * v);
    const std::uint64_t n = random.next();
    const auto noise = [n](int shift) { return double(int((n >> shift) & 15u) - 8); };
    return qRgb(clampChannel(r + noise(0)), clampChannel(g + noise(8)),
                clampChannel(b + noise(16)));
}

QImage photo(int width, int height, std::uint64_t seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    Random random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = photoPixel(x, y, width, height, random);
    }
    return image;
}

// A photo cut to a rounded blob, on opaque white: about a third of the picture is background.
QImage photoOnWhite(int width, int height, std::uint64_t seed)
{
    QImage image = photo(width, height, seed);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double dx = (x + 0.5 - cx) / (0.47 * width);
            const double dy = (y + 0.5 - cy) / (0.47 * height);
            const double angle = std::atan2(dy, dx);
            const double edge = 1.0 + 0.06 * std::sin(7 * angle) + 0.03 * std::cos(13 * angle);
            if (std::pow(dx * dx, 1.6) + std::pow(dy * dy, 1.6) > std::pow(edge, 3.2))
                line[x] = opaqueWhite;
        }
    }
    return image;
}

// A sticker: a ring with a flat, shaded fill and a dark outline, on opaque white.
QImage sticker(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(opaqueWhite);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const double d = std::hypot(x + 0.5 - c, y + 0.5 - c) / c;
            if (d > 0.92 || d < 0.30)
                continue;
            if (d > 0.86 || d < 0.36) {
                line[x] = qRgb(40, 30, 60);
                continue;
            }
            const double shade = 0.6 + 0.4 * (1.0 - double(y) / size);
            line[x] = qRgb(int(230 * shade), int(120 * shade), int(40 * shade));
        }
    }
    return image;
}

QImage withScatteredWhite(QImage image, double share, std::uint64_t seed)
{
    Random random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (random.unit() < share)
                line[x] = opaqueWhite;
    }
    return image;
}

// A few points spread over the picture that are not opaque white.
std::vector<QPoint> probesFor(const QImage &image)
{
    static const double spots[][2] = {{0.5, 0.5},   {0.25, 0.5}, {0.75, 0.5}, {0.5, 0.2},
                                      {0.5, 0.8},   {0.3, 0.3},  {0.7, 0.7},  {0.31, 0.69},
                                      {0.69, 0.31}, {0.4, 0.6},  {0.6, 0.4}};
    std::vector<QPoint> probes;
    for (const auto &spot : spots) {
        QPoint p(int(spot[0] * image.width()), int(spot[1] * image.height()));
        // Near a scattered white pixel, step right to the next pixel that is not.
        while (p.x() + 1 < image.width() && image.pixel(p) == opaqueWhite)
            p.rx() += 1;
        if (image.pixel(p) != opaqueWhite)
            probes.push_back(p);
        if (probes.size() == 4)
            break;
    }
    return probes;
}

BenchPicture make(const char *name, const char *description, QImage image)
{
    BenchPicture picture{
        QString::fromLatin1(name), QString::fromLatin1(description), std::move(image), {}};
    picture.probes = probesFor(picture.image);
    for (int y = 0; y < picture.image.height(); ++y) {
        bool inRun = false;
        for (int x = 0; x < picture.image.width(); ++x) {
            const bool kept = picture.image.pixel(x, y) != opaqueWhite;
            picture.shapeRuns += kept && !inRun;
            inRun = kept;
        }
    }
    return picture;
}

} // namespace

std::vector<BenchPicture> benchPictures()
{
    std::vector<BenchPicture> pictures;
    pictures.push_back(make("P1", "256x256 sticker on white", sticker(256)));
    pictures.push_back(make("P2", "1920x1080 photo on white", photoOnWhite(1920, 1080, 2)));
    pictures.push_back(make("P3", "3840x2160 photo on white", photoOnWhite(3840, 2160, 3)));
    pictures.push_back(make("P4", "3840x2160 photo, 30% white dots",
                            withScatteredWhite(photo(3840, 2160, 4), 0.30, 44)));
    return pictures;
}

QImage withWhiteTransparent(const QImage &image)
{
    QImage alpha = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(alpha.scanLine(y));
        for (int x = 0; x < alpha.width(); ++x)
            line[x] = line[x] == opaqueWhite ? 0x00ffffffu : (line[x] | 0xff000000u);
    }
    return alpha;
}
