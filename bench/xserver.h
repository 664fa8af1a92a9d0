#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

using Clock = std::chrono::steady_clock;

// A private X server for the benchmark: an Xvfb on a display number of its own choosing
// (-displayfd), with no window manager, so that every program's top-level window is a child of
// the root and its MapNotify and ConfigureNotify reach the root's SubstructureNotify listeners.
class XServer
{
public:
    XServer(int width, int height);
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    [[nodiscard]] QString display() const { return m_display; }
    [[nodiscard]] int xvfbPid() const { return m_xvfb; }
    [[nodiscard]] xcb_connection_t *connection() const { return m_connection; }
    [[nodiscard]] xcb_window_t root() const { return m_root; }
    [[nodiscard]] std::uint32_t background() const { return backgroundColour; }

    // A structure change of a top-level window, as the root's SubstructureNotify reports it.
    struct Event
    {
        enum Kind { Create, Map, Configure, Unmap, Destroy } kind;
        xcb_window_t window;
        QRect geometry; // Create and Configure
        Clock::time_point at;
    };

    // Hands each event that arrives to handle until it returns true or the deadline passes.
    // Returns whether handle accepted one.
    bool waitFor(Clock::time_point deadline, const std::function<bool(const Event &)> &handle);

    // The 24-bit colour on the screen at p (0xRRGGBB).
    [[nodiscard]] std::uint32_t pixel(QPoint p);
    // The window's top-left corner on the screen, or nothing when it is gone.
    [[nodiscard]] bool origin(xcb_window_t window, QPoint *at);
    // The window's bounding shape as rectangles in its own coordinates; without a shape, its
    // whole rectangle.
    [[nodiscard]] std::vector<QRect> shape(xcb_window_t window);

    void focus(xcb_window_t window);
    // Presses (or releases) the key that gives keysym, through XTEST.
    void fakeKey(std::uint32_t keysym, bool press);
    // A round trip: everything sent so far has been handled by the server.
    void sync();

private:
    static constexpr std::uint32_t backgroundColour = 0x3c5a78;

    std::uint8_t keycodeFor(std::uint32_t keysym);

    int m_xvfb = -1;
    QString m_display;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> m_keycodes;
};
