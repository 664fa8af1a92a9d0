#include "xserver.h"

#include "process.h"

#include <xcb/shape.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T *r)
{
    return Reply<T>(r, &std::free);
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left) + 1;
}

} // namespace

XServer::XServer(int width, int height)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    m_xvfb = spawnProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                           "-nolisten", "tcp", "-noreset"},
                          {}, {}, "/dev/null", fds[1]);
    ::close(fds[1]);

    // Xvfb writes the display number it took once it is ready for clients.
    std::string number;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, millisecondsUntil(deadline)) > 0 && ::read(fds[0], &c, 1) == 1 &&
           c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty()) {
        stopProcess(m_xvfb);
        throw std::runtime_error("Xvfb did not start");
    }
    m_display = QStringLiteral(":") + QString::fromStdString(number);

    m_connection = xcb_connect(m_display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        stopProcess(m_xvfb);
        throw std::runtime_error("cannot connect to Xvfb");
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;

    const std::uint32_t values[] = {backgroundColour, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                                 values);
    xcb_clear_area(m_connection, 0, m_root, 0, 0, 0, 0);
    sync();
}

XServer::~XServer()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    stopProcess(m_xvfb);
}

void XServer::sync()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

bool XServer::waitFor(Clock::time_point deadline, const std::function<bool(const Event &)> &handle)
{
    xcb_flush(m_connection);
    for (;;) {
        while (xcb_generic_event_t *raw = xcb_poll_for_event(m_connection)) {
            const auto generic = reply(raw);
            Event event{Event::Create, 0, {}, Clock::now()};
            switch (raw->response_type & 0x7f) {
            case XCB_CREATE_NOTIFY: {
                const auto *e = reinterpret_cast<xcb_create_notify_event_t *>(raw);
                event = {Event::Create, e->window, QRect(e->x, e->y, e->width, e->height),
                         event.at};
                break;
            }
            case XCB_MAP_NOTIFY:
                event.kind = Event::Map;
                event.window = reinterpret_cast<xcb_map_notify_event_t *>(raw)->window;
                break;
            case XCB_CONFIGURE_NOTIFY: {
                const auto *e = reinterpret_cast<xcb_configure_notify_event_t *>(raw);
                event = {Event::Configure, e->window, QRect(e->x, e->y, e->width, e->height),
                         event.at};
                break;
            }
            case XCB_UNMAP_NOTIFY:
                event.kind = Event::Unmap;
                event.window = reinterpret_cast<xcb_unmap_notify_event_t *>(raw)->window;
                break;
            case XCB_DESTROY_NOTIFY:
                event.kind = Event::Destroy;
                event.window = reinterpret_cast<xcb_destroy_notify_event_t *>(raw)->window;
                break;
            default:
                continue;
            }
            if (handle(event))
                return true;
        }
        if (xcb_connection_has_error(m_connection))
            throw std::runtime_error("the connection to Xvfb broke");
        const int wait = millisecondsUntil(deadline);
        if (Clock::now() >= deadline)
            return false;
        pollfd p{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        ::poll(&p, 1, wait);
    }
}

std::uint32_t XServer::pixel(QPoint p)
{
    const auto image = reply(
        xcb_get_image_reply(m_connection,
                            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                                          std::int16_t(p.x()), std::int16_t(p.y()), 1, 1, ~0u),
                            nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < 3)
        return ~0u;
    const std::uint8_t *data = xcb_get_image_data(image.get());
    return std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16;
}

bool XServer::origin(xcb_window_t window, QPoint *at)
{
    const auto translated = reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (!translated)
        return false;
    *at = QPoint(translated->dst_x, translated->dst_y);
    return true;
}

std::vector<QRect> XServer::shape(xcb_window_t window)
{
    std::vector<QRect> rects;
    const auto shaped = reply(xcb_shape_get_rectangles_reply(
        m_connection, xcb_shape_get_rectangles(m_connection, window, XCB_SHAPE_SK_BOUNDING),
        nullptr));
    if (!shaped)
        return rects;
    const xcb_rectangle_t *r = xcb_shape_get_rectangles_rectangles(shaped.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(shaped.get());
    rects.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        rects.emplace_back(r[i].x, r[i].y, r[i].width, r[i].height);
    return rects;
}

void XServer::focus(xcb_window_t window)
{
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

std::uint8_t XServer::keycodeFor(std::uint32_t keysym)
{
    for (const auto &[sym, code] : m_keycodes)
        if (sym == keysym)
            return code;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const auto mapping = reply(xcb_get_keyboard_mapping_reply(
        m_connection,
        xcb_get_keyboard_mapping(m_connection, setup->min_keycode, std::uint8_t(count)), nullptr));
    if (!mapping)
        throw std::runtime_error("no keyboard mapping");
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    for (int code = 0; code < count; ++code) {
        if (syms[code * perCode] == keysym) {
            const auto keycode = std::uint8_t(setup->min_keycode + code);
            m_keycodes.emplace_back(keysym, keycode);
            return keycode;
        }
    }
    throw std::runtime_error("no key for keysym " + std::to_string(keysym));
}

void XServer::fakeKey(std::uint32_t keysym, bool press)
{
    xcb_test_fake_input(m_connection, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycodeFor(keysym),
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(m_connection);
}
