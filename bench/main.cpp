// The benchmark: picwnd against the programs a user would pick instead, on one private X server.
// It prints figures and ratios; it is not a test and decides nothing by itself.
//
//   picwnd_bench --picwnd PATH --bare PATH [--runs N] [--idle SECONDS] [--presses N]
//                [--pictures P1,P3] [--quick]
#include "pictures.h"
#include "process.h"
#include "xserver.h"

#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options
{
    std::string picwnd;
    std::string bare;
    int runs = 5;
    int idleSeconds = 10;
    int presses = 500;
    QStringList pictures;
};

// Xvfb's software renderer clips every rectangle it fills against every box of the clip
// region (fbPolyFillRect), so painting the background of a window whose shape, or whose
// parent's visible part, is made of n boxes costs n x n. That is what xteddy's start (its
// shaped window has a background pixmap) and any move of a shaped window over the root's
// background run into: with about 33 000 rectangles a move of picwnd took 10 s, with 134 000
// 81 s and xteddy's start 26 s, and at P4's 1.7 million they would take hours with the server
// stuck meanwhile. Past this many rectangles neither is run.
constexpr long maxServerPaintableShape = 8000;

struct Program
{
    QString name;
    // The command for a picture: the opaque picture, and its version with alpha.
    std::vector<std::string> (*command)(const Options &, const std::string &, const std::string &);
    bool qt = false;                // a Qt program: runs on the xcb platform
    bool keys = false;              // moves on D and A
    bool shaped = false;            // its window takes the picture's shape
    bool startPaintsShape = false;  // the server paints the shaped window's background on start
    bool shapeInOneRequest = false; // sends its shape as one request of rectangles
};

// X.Org's SHAPE extension reads the length of a request that needs BIG-REQUESTS from the wrong
// field and sets an empty shape instead: a window whose shape comes as one request of more
// rectangles than this shows nothing at all.
constexpr long maxShapeInOneRequest = 32765;

const Program programs[] = {
    {QStringLiteral("picwnd"),
     [](const Options &o, const std::string &opaque, const std::string &) {
         return std::vector<std::string>{o.picwnd, opaque};
     },
     true, true, true, false},
    {QStringLiteral("feh"),
     [](const Options &, const std::string &opaque, const std::string &) {
         return std::vector<std::string>{"feh", "--no-menus", opaque};
     },
     false, false, false, false},
    {QStringLiteral("xteddy"),
     [](const Options &, const std::string &, const std::string &alpha) {
         return std::vector<std::string>{"/usr/games/xteddy", "-F" + alpha};
     },
     false, false, true, true},
    {QStringLiteral("bare Qt"),
     [](const Options &o, const std::string &opaque, const std::string &) {
         return std::vector<std::string>{o.bare, opaque};
     },
     true, true, false, false},
    // The bare window with the picture's shape set the toolkit's plain way: what the shape
    // alone costs, beside what picwnd costs.
    {QStringLiteral("Qt mask"),
     [](const Options &o, const std::string &opaque, const std::string &) {
         return std::vector<std::string>{o.bare, opaque, "--mask"};
     },
     true, true, true, false, true},
};

// Why a program is not started on a picture, or nothing.
QString notStartedOn(const Program &program, const BenchPicture &picture)
{
    if (program.startPaintsShape && picture.shapeRuns > maxServerPaintableShape)
        return QStringLiteral("not run: shape too big for Xvfb to paint");
    if (program.shapeInOneRequest && picture.shapeRuns > maxShapeInOneRequest)
        return QStringLiteral("not run: X.Org empties a shape this big sent in one request");
    return {};
}

bool startsOn(const Program &program, const BenchPicture &picture)
{
    return notStartedOn(program, picture).isEmpty();
}

bool movesOn(const Program &program, const BenchPicture &picture)
{
    return program.keys && (!program.shaped || picture.shapeRuns <= maxServerPaintableShape);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Nearest rank.
double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(p / 100 * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool sameColour(std::uint32_t a, std::uint32_t b)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > 2)
            return false;
    return true;
}

// One start of a program, up to its first painted frame.
struct Start
{
    bool ok = false;
    QString problem;
    pid_t pid = -1;
    xcb_window_t window = 0;
    double mapMs = 0;
    double frameMs = 0;
    double serverCpuMs = 0; // what Xvfb spent meanwhile
};

class Bench
{
public:
    Bench(const Options &options, XServer &x, const QString &workDir)
        : m_options(options), m_x(x), m_workDir(workDir)
    {}

    Start start(const Program &program, const BenchPicture &picture, const QString &opaque,
                const QString &alpha)
    {
        Start s;
        const std::vector<std::string> argv =
            program.command(m_options, opaque.toStdString(), alpha.toStdString());
        std::vector<std::string> env = {"DISPLAY=" + m_x.display().toStdString()};
        if (program.qt)
            env.insert(env.end(), {"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY="});
        const std::string log = m_workDir.toStdString() + "/" + program.name.toStdString() + ".log";

        const double serverBefore = readStats(m_x.xvfbPid()).cpuSeconds;
        const Clock::time_point t0 = Clock::now();
        s.pid = spawnProcess(argv, env, m_workDir.toStdString(), log);

        std::vector<xcb_window_t> created;
        Clock::time_point mapped;
        const bool shown = m_x.waitFor(t0 + std::chrono::seconds(30), [&](const XServer::Event &e) {
            if (e.kind == XServer::Event::Create)
                created.push_back(e.window);
            if (e.kind == XServer::Event::Map &&
                std::find(created.begin(), created.end(), e.window) != created.end()) {
                s.window = e.window;
                mapped = e.at;
                return true;
            }
            return false;
        });
        if (!shown) {
            s.problem =
                QStringLiteral("no window mapped (see %1)").arg(QString::fromStdString(log));
            return s;
        }
        s.mapMs = msBetween(t0, mapped);

        QPoint origin;
        if (!m_x.origin(s.window, &origin)) {
            s.problem = QStringLiteral("the window vanished");
            return s;
        }
        const Clock::time_point deadline = t0 + std::chrono::seconds(30);
        for (;;) {
            bool painted = true;
            for (const QPoint &probe : picture.probes) {
                if (!sameColour(m_x.pixel(origin + probe), probeColour(picture, probe))) {
                    painted = false;
                    break;
                }
            }
            if (painted)
                break;
            if (Clock::now() > deadline) {
                s.problem = QStringLiteral("the picture never appeared on the screen");
                return s;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        s.frameMs = msBetween(t0, Clock::now());
        s.serverCpuMs = (readStats(m_x.xvfbPid()).cpuSeconds - serverBefore) * 1000;
        s.ok = true;
        return s;
    }

    void stop(const Start &s)
    {
        if (s.pid > 0)
            stopProcess(s.pid);
        if (s.window) {
            m_x.waitFor(Clock::now() + std::chrono::seconds(5), [&](const XServer::Event &e) {
                return e.kind == XServer::Event::Destroy && e.window == s.window;
            });
        }
        m_x.sync();
    }

    // Key to move: an XTEST press of D or A (alternately, so the window stays put) to the
    // window's ConfigureNotify, in milliseconds.
    std::vector<double> keyLatencies(const Start &s, int presses)
    {
        constexpr std::uint32_t keyD = 0x64;
        constexpr std::uint32_t keyA = 0x61;
        m_x.focus(s.window);
        std::vector<double> latencies;
        constexpr int warmUp = 10;
        for (int i = 0; i < presses + warmUp; ++i) {
            const std::uint32_t key = i % 2 ? keyA : keyD;
            const Clock::time_point pressed = Clock::now();
            m_x.fakeKey(key, true);
            Clock::time_point moved;
            const bool ok =
                m_x.waitFor(pressed + std::chrono::seconds(2), [&](const XServer::Event &e) {
                    if (e.kind != XServer::Event::Configure || e.window != s.window)
                        return false;
                    moved = e.at;
                    return true;
                });
            m_x.fakeKey(key, false);
            if (!ok)
                return {};
            if (i >= warmUp)
                latencies.push_back(msBetween(pressed, moved));
        }
        m_x.sync();
        return latencies;
    }

    // Whether the window's shape on the server is exactly the picture less its opaque-white
    // pixels: "exact", "rectangle" for an unshaped window, or how many pixels differ.
    QString shapeVerdict(const Start &s, const QImage &image)
    {
        const std::vector<QRect> rects = m_x.shape(s.window);
        const int w = image.width();
        const int h = image.height();
        if (rects.size() == 1 && rects.front() == QRect(0, 0, w, h)) {
            bool anyWhite = false;
            for (int y = 0; y < h && !anyWhite; ++y)
                for (int x = 0; x < w && !anyWhite; ++x)
                    anyWhite = image.pixel(x, y) == 0xffffffffu;
            if (anyWhite)
                return QStringLiteral("rectangle");
        }
        std::vector<std::uint8_t> inside(std::size_t(w) * std::size_t(h), 0);
        long outside = 0;
        for (const QRect &r : rects) {
            const QRect clipped = r.intersected(QRect(0, 0, w, h));
            outside += long(r.width()) * r.height() - long(clipped.width()) * clipped.height();
            for (int y = clipped.top(); y <= clipped.bottom(); ++y)
                for (int x = clipped.left(); x <= clipped.right(); ++x)
                    inside[std::size_t(y) * std::size_t(w) + std::size_t(x)] += 1;
        }
        long wrong = outside;
        for (int y = 0; y < h; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                const bool shown = line[x] != 0xffffffffu;
                const std::uint8_t count = inside[std::size_t(y) * std::size_t(w) + std::size_t(x)];
                wrong += shown ? (count != 1) : (count != 0);
            }
        }
        return wrong == 0 ? QStringLiteral("exact (%1 rects)").arg(rects.size())
                          : QStringLiteral("%1 px wrong").arg(wrong);
    }

private:
    const Options &m_options;
    XServer &m_x;
    QString m_workDir;
};

struct Figures
{
    std::vector<double> mapMs, frameMs, serverMs;
    QString problem;
    double idleCpuMs = std::nan("");
    long idleWakeups = -1;
    double steadyKiB = std::nan("");
    double peakKiB = std::nan("");
    double keyMedian = std::nan("");
    double keyP99 = std::nan("");
    double keyServerMs = std::nan(""); // Xvfb's CPU time per key press
    QString shape;
};

QString number(double value, int decimals = 0)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

QString ratio(double a, double b)
{
    return std::isnan(a) || std::isnan(b) || b == 0 ? QStringLiteral("-")
                                                    : QString::number(a / b, 'f', 2);
}

void print(const QString &text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

struct Column
{
    const char *title;
    int width;
};

const Column columns[] = {{"picture", 7},     {"program", 9},      {"map ms", 7},
                          {"frame ms", 9},    {"Xvfb ms", 8},      {"peak MB", 8},
                          {"steady MB", 10},  {"idle cpu ms", 12}, {"wakeups", 8},
                          {"key med ms", 11}, {"key p99 ms", 11},  {"key Xvfb ms", 12},
                          {"shape", 0}};

QString tableLine(const QStringList &cells)
{
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        const int width = columns[i].width;
        line += (width ? cells[i].rightJustified(width) : QLatin1String("  ") + cells[i]) +
                QLatin1Char(' ');
    }
    return line;
}

void printHeader()
{
    QStringList cells;
    for (const Column &column : columns)
        cells << QString::fromLatin1(column.title);
    print(tableLine(cells));
}

void printRow(const BenchPicture &picture, const Program &program, const Figures &f)
{
    print(
        tableLine({picture.name, program.name, number(median(f.mapMs), 1),
                   number(median(f.frameMs), 1), number(median(f.serverMs)),
                   number(f.peakKiB / 1024, 1), number(f.steadyKiB / 1024, 1), number(f.idleCpuMs),
                   f.idleWakeups < 0 ? QStringLiteral("-") : QString::number(f.idleWakeups),
                   number(f.keyMedian, 3), number(f.keyP99, 3), number(f.keyServerMs, 3),
                   f.problem.isEmpty() ? f.shape : f.problem}));
}

void printRatios(const std::vector<BenchPicture> &pictures,
                 const std::vector<const Program *> &chosen,
                 std::map<QString, std::map<QString, Figures>> &figures)
{
    print(QStringLiteral("\nRatios picwnd / other (below 1: picwnd is faster or smaller); "
                         "memory beyond the other's in decoded pictures (W x H x 4 bytes)"));
    const auto head = [](const char *text, int width) {
        return QString::fromLatin1(text).rightJustified(width);
    };
    print(head("picture", 7) + head("other", 10) + head("map", 7) + head("frame", 7) +
          head("peak", 7) + head("steady", 7) + head("key p99", 9) + head("peak+", 8) +
          head("steady+", 9));
    for (const BenchPicture &picture : pictures) {
        const Figures &me = figures[picture.name][QStringLiteral("picwnd")];
        const double pictureKiB = 4.0 * picture.image.width() * picture.image.height() / 1024;
        for (const Program *program : chosen) {
            if (program->name == QLatin1String("picwnd"))
                continue;
            const Figures &other = figures[picture.name][program->name];
            const auto beyond = [&](double mine, double theirs) -> QString {
                return number((mine - theirs) / pictureKiB, 2);
            };
            print(picture.name.rightJustified(7) + program->name.rightJustified(10) +
                  ratio(median(me.mapMs), median(other.mapMs)).rightJustified(7) +
                  ratio(median(me.frameMs), median(other.frameMs)).rightJustified(7) +
                  ratio(me.peakKiB, other.peakKiB).rightJustified(7) +
                  ratio(me.steadyKiB, other.steadyKiB).rightJustified(7) +
                  ratio(me.keyP99, other.keyP99).rightJustified(9) +
                  beyond(me.peakKiB, other.peakKiB).rightJustified(8) +
                  beyond(me.steadyKiB, other.steadyKiB).rightJustified(9));
        }
    }
}

// The first line a command prints, for the versions of what is measured.
QString firstLine(const char *command)
{
    QString line;
    if (FILE *pipe = ::popen(command, "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, pipe))
            line = QString::fromLocal8Bit(buffer).trimmed();
        ::pclose(pipe);
    }
    return line.isEmpty() ? QStringLiteral("?") : line;
}

void printMachine()
{
    print(QStringLiteral("Machine: %1 cores, %2")
              .arg(std::thread::hardware_concurrency())
              .arg(firstLine("sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n1")));
    print(QStringLiteral("Versions: Qt %1, Xvfb %2, feh %3, xteddy %4")
              .arg(QString::fromLatin1(qVersion()))
              .arg(firstLine("dpkg-query -W -f='${Version}' xvfb 2>/dev/null"))
              .arg(firstLine("dpkg-query -W -f='${Version}' feh 2>/dev/null"))
              .arg(firstLine("dpkg-query -W -f='${Version}' xteddy 2>/dev/null")));
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--picwnd")
            o.picwnd = value();
        else if (a == "--bare")
            o.bare = value();
        else if (a == "--runs")
            o.runs = std::max(1, std::stoi(value()));
        else if (a == "--idle")
            o.idleSeconds = std::max(1, std::stoi(value()));
        else if (a == "--presses")
            o.presses = std::max(10, std::stoi(value()));
        else if (a == "--pictures")
            o.pictures = QString::fromStdString(value()).split(QLatin1Char(','));
        else if (a == "--quick") {
            o.runs = 3;
            o.idleSeconds = 3;
            o.presses = 100;
        } else
            throw std::runtime_error("unknown option " + a);
    }
    if (o.picwnd.empty() || o.bare.empty())
        throw std::runtime_error("--picwnd and --bare are needed");
    // The programs run in a directory of their own.
    o.picwnd = QFileInfo(QString::fromStdString(o.picwnd)).absoluteFilePath().toStdString();
    o.bare = QFileInfo(QString::fromStdString(o.bare)).absoluteFilePath().toStdString();
    return o;
}

bool available(const Program &program, const Options &o)
{
    const std::string exe = program.command(o, "x", "x").front();
    if (exe.find('/') != std::string::npos)
        return QFileInfo(QString::fromStdString(exe)).isExecutable();
    for (const QString &dir : qEnvironmentVariable("PATH").split(QLatin1Char(':')))
        if (QFileInfo(dir + QLatin1Char('/') + QString::fromStdString(exe)).isExecutable())
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        const Options options = parse(argc, argv);
        killChildrenOnSignals();
        QTemporaryDir work;
        if (!work.isValid())
            throw std::runtime_error("no temporary directory");
        printMachine();

        print(QStringLiteral("Drawing the pictures ..."));
        std::vector<BenchPicture> pictures = benchPictures();
        if (!options.pictures.isEmpty())
            pictures.erase(std::remove_if(pictures.begin(), pictures.end(),
                                          [&](const BenchPicture &p) {
                                              return !options.pictures.contains(p.name);
                                          }),
                           pictures.end());
        int screenWidth = 640, screenHeight = 480;
        for (const BenchPicture &p : pictures) {
            screenWidth = std::max(screenWidth, p.image.width());
            screenHeight = std::max(screenHeight, p.image.height());
            if (!p.image.save(work.filePath(p.name + QStringLiteral(".png"))) ||
                !withWhiteTransparent(p.image).save(
                    work.filePath(p.name + QStringLiteral("-alpha.png"))))
                throw std::runtime_error("cannot write the pictures");
        }

        std::vector<const Program *> chosen;
        for (const Program &program : programs) {
            if (available(program, options))
                chosen.push_back(&program);
            else
                print(QStringLiteral("%1 is not installed: left out").arg(program.name));
        }

        XServer x(screenWidth, screenHeight);
        print(QStringLiteral("Xvfb %1, %2x%3x24, no window manager, no compositor; %4 runs, "
                             "%5 s idle, %6 key presses")
                  .arg(x.display())
                  .arg(screenWidth)
                  .arg(screenHeight)
                  .arg(options.runs)
                  .arg(options.idleSeconds)
                  .arg(options.presses));
        Bench bench(options, x, work.path());

        std::map<QString, std::map<QString, Figures>> figures;
        for (const BenchPicture &picture : pictures) {
            const QString opaque = work.filePath(picture.name + QStringLiteral(".png"));
            const QString alpha = work.filePath(picture.name + QStringLiteral("-alpha.png"));
            print(QStringLiteral("\n%1: %2, %3 runs in its shape")
                      .arg(picture.name, picture.description)
                      .arg(picture.shapeRuns));
            for (const Program *program : chosen)
                figures[picture.name][program->name].problem = notStartedOn(*program, picture);

            // A first start of each program warms the file cache and the toolkit's own caches;
            // it is not counted. Then the programs take turns, so that drift hits all alike.
            for (int run = -1; run < options.runs; ++run) {
                for (std::size_t k = 0; k < chosen.size(); ++k) {
                    const Program &program = *chosen[(k + std::size_t(run + 1)) % chosen.size()];
                    Figures &f = figures[picture.name][program.name];
                    if (!startsOn(program, picture))
                        continue;
                    const Start s = bench.start(program, picture, opaque, alpha);
                    bench.stop(s);
                    if (!s.ok) {
                        f.problem = s.problem;
                        continue;
                    }
                    if (run < 0)
                        continue;
                    f.mapMs.push_back(s.mapMs);
                    f.frameMs.push_back(s.frameMs);
                    f.serverMs.push_back(s.serverCpuMs);
                }
            }

            // One long run each: memory once settled, the cost of idling, the shape, the keys.
            for (const Program *program : chosen) {
                Figures &f = figures[picture.name][program->name];
                if (!startsOn(*program, picture))
                    continue;
                const Start s = bench.start(*program, picture, opaque, alpha);
                if (!s.ok) {
                    f.problem = s.problem;
                    bench.stop(s);
                    continue;
                }
                std::this_thread::sleep_for(std::chrono::seconds(1));
                const ProcessStats before = readStats(s.pid);
                std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
                const ProcessStats after = readStats(s.pid);
                f.idleCpuMs = (after.cpuSeconds - before.cpuSeconds) * 1000;
                f.idleWakeups = after.voluntarySwitches - before.voluntarySwitches;
                f.steadyKiB = double(after.rssKiB);
                f.peakKiB = double(after.peakKiB);
                f.shape = bench.shapeVerdict(s, picture.image);
                if (movesOn(*program, picture)) {
                    const double serverBefore = readStats(x.xvfbPid()).cpuSeconds;
                    const std::vector<double> latencies = bench.keyLatencies(s, options.presses);
                    f.keyServerMs = (readStats(x.xvfbPid()).cpuSeconds - serverBefore) * 1000 /
                                    double(std::max<std::size_t>(1, latencies.size()));
                    f.keyMedian = median(latencies);
                    f.keyP99 = percentile(latencies, 99);
                } else if (program->keys) {
                    f.shape += QStringLiteral("; keys not run: moves too slow for Xvfb");
                }
                bench.stop(s);
            }
            printHeader();
            for (const Program *program : chosen)
                printRow(picture, *program, figures[picture.name][program->name]);
        }

        print(QStringLiteral("\nAll pictures (medians of %1 starts)").arg(options.runs));
        printHeader();
        for (const BenchPicture &picture : pictures)
            for (const Program *program : chosen)
                printRow(picture, *program, figures[picture.name][program->name]);
        printRatios(pictures, chosen, figures);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "picwnd_bench: %s\n", e.what());
        return 1;
    }
}
