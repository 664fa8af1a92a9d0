#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// A connection to an X display with what the end-to-end tests need to look at windows the way a
// user sees them: where they are, their real shape, their properties, the pixels on the screen,
// and real input through the XTEST extension.
class XClient
{
public:
    explicit XClient(const QString &display);
    ~XClient();
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    [[nodiscard]] bool isConnected() const;
    [[nodiscard]] xcb_connection_t *connection() const { return m_connection; }
    [[nodiscard]] xcb_window_t root() const { return m_root; }
    [[nodiscard]] xcb_atom_t atom(const char *name);

    // Events: structure changes of the root's children and property changes on the root are
    // recorded from construction on.
    using EventMatch = std::function<bool(const xcb_generic_event_t &)>;
    // Waits for an event that matches, looking first at those already received (and consuming
    // the ones it passes over).
    bool waitForEvent(const EventMatch &match, int timeoutMs);
    // Waits until condition holds, checking it again whenever an event arrives (and at least
    // every few milliseconds, for state that sends no event to this client).
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
    // Drops every event received so far.
    void clearEvents();
    // Number of MapNotify events for children of the root among those received and not dropped.
    [[nodiscard]] int mapNotifyCount();
    // Asks for events on a window (e.g. XCB_EVENT_MASK_STRUCTURE_NOTIFY).
    void selectEvents(xcb_window_t window, std::uint32_t mask);

    // Windows.
    // The viewable top-level client window of the process pid (by _NET_WM_PID), or none.
    [[nodiscard]] xcb_window_t findWindow(std::int64_t pid);
    // The window's inside, in root coordinates.
    [[nodiscard]] QRect geometry(xcb_window_t window);
    [[nodiscard]] bool isViewable(xcb_window_t window);
    [[nodiscard]] xcb_window_t parent(xcb_window_t window);
    // The window's bounding shape, relative to its inside (the whole window when unshaped).
    [[nodiscard]] QRegion shape(xcb_window_t window);
    [[nodiscard]] std::vector<std::uint32_t> cardinals(xcb_window_t window, const char *property);
    [[nodiscard]] bool hasProperty(xcb_window_t window, const char *property);
    [[nodiscard]] xcb_window_t activeWindow();
    [[nodiscard]] xcb_window_t inputFocus();
    // Waits until the window manager has handled everything this client caused so far; false
    // when there is none or it does not answer.
    bool syncWithWindowManager();
    // Moves a window from outside, the way another client would (through the window manager).
    void requestMove(xcb_window_t window, QPoint topLeft);

    // Screen pixels of the root window, as RGB32.
    [[nodiscard]] QImage grab(const QRect &area);

    // Input through XTEST. Keys by keysym ('a', XK_Shift_L, ...).
    void keyDown(std::uint32_t keysym);
    void keyUp(std::uint32_t keysym);
    void tapKey(std::uint32_t keysym);
    void movePointer(QPoint rootPosition);
    // Gives window the keyboard focus directly, as a window manager would (for displays without
    // one, where focus otherwise follows the pointer).
    void setInputFocus(xcb_window_t window);
    // Clicks and waits until the pointer and keyboard are free again.
    void click(QPoint rootPosition, int button);
    // Whether no client holds a grab of the pointer or the keyboard.
    [[nodiscard]] bool inputIsFree();
    // Makes sure every request so far has reached the server.
    void sync();

private:
    void readEvents(int timeoutMs);
    [[nodiscard]] std::uint8_t keycode(std::uint32_t keysym);
    void fake(std::uint8_t type, std::uint8_t detail, QPoint position = {});

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_window_t m_probe = XCB_NONE;
    std::deque<std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>> m_events;
};

// Compares a screen grab with the expected picture; returns a description of the first
// difference, or an empty string.
[[nodiscard]] QString firstDifference(const QImage &actual, const QImage &expected);
