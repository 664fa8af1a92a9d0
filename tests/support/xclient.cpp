#include "xclient.h"

#include <QElapsedTimer>

#include <xcb/shape.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}

constexpr int recheckMs = 20;

} // namespace

XClient::XClient(const QString &display)
{
    m_connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    selectEvents(m_root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
}

XClient::~XClient()
{
    m_events.clear();
    xcb_disconnect(m_connection);
}

bool XClient::isConnected() const
{
    return m_connection && !xcb_connection_has_error(m_connection);
}

xcb_atom_t XClient::atom(const char *name)
{
    auto r = reply(xcb_intern_atom_reply(
        m_connection,
        xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return r ? r->atom : XCB_NONE;
}

void XClient::selectEvents(xcb_window_t window, std::uint32_t mask)
{
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    sync();
}

void XClient::readEvents(int timeoutMs)
{
    xcb_flush(m_connection);
    bool got = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        m_events.emplace_back(event, &std::free);
        got = true;
    }
    if (got || timeoutMs <= 0 || !isConnected())
        return;
    pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) > 0) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            m_events.emplace_back(event, &std::free);
    }
}

bool XClient::waitForEvent(const EventMatch &match, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        while (!m_events.empty()) {
            const auto event = std::move(m_events.front());
            m_events.pop_front();
            if (match(*event))
                return true;
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !isConnected())
            return false;
        readEvents(static_cast<int>(left));
    }
}

bool XClient::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (condition())
            return true;
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !isConnected())
            return false;
        readEvents(static_cast<int>(std::min<qint64>(left, recheckMs)));
    }
}

void XClient::clearEvents()
{
    readEvents(0);
    m_events.clear();
}

int XClient::mapNotifyCount()
{
    readEvents(0);
    return static_cast<int>(std::count_if(m_events.begin(), m_events.end(), [&](const auto &e) {
        return (e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
               reinterpret_cast<const xcb_map_notify_event_t *>(e.get())->event == m_root;
    }));
}

xcb_window_t XClient::findWindow(std::int64_t pid)
{
    const xcb_atom_t pidAtom = atom("_NET_WM_PID");
    // Breadth-first through the tree: the client may sit inside a window manager's frame.
    std::vector<xcb_window_t> pending{m_root};
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        auto tree = reply(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
        if (!tree)
            continue;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        for (int i = 0; i < count; ++i) {
            const xcb_window_t child = children[i];
            auto property = reply(xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, child, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr));
            if (property && xcb_get_property_value_length(property.get()) == 4 &&
                *static_cast<const std::uint32_t *>(xcb_get_property_value(property.get())) ==
                    static_cast<std::uint32_t>(pid) &&
                isViewable(child))
                return child;
            pending.push_back(child);
        }
    }
    return XCB_NONE;
}

QRect XClient::geometry(xcb_window_t window)
{
    auto geometry = reply(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    auto translated = reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (!geometry || !translated)
        return {};
    return {translated->dst_x, translated->dst_y, geometry->width, geometry->height};
}

bool XClient::isViewable(xcb_window_t window)
{
    auto attributes = reply(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

xcb_window_t XClient::parent(xcb_window_t window)
{
    auto tree =
        reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
    return tree ? tree->parent : XCB_NONE;
}

QRegion XClient::shape(xcb_window_t window)
{
    auto rectangles = reply(xcb_shape_get_rectangles_reply(
        m_connection, xcb_shape_get_rectangles(m_connection, window, XCB_SHAPE_SK_BOUNDING),
        nullptr));
    QRegion region;
    if (!rectangles)
        return region;
    const xcb_rectangle_t *r = xcb_shape_get_rectangles_rectangles(rectangles.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(rectangles.get());
    std::vector<QRect> rects;
    rects.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        rects.emplace_back(r[i].x, r[i].y, r[i].width, r[i].height);
    // The server hands the rectangles back y-x banded; uniting them keeps this exact for any
    // order all the same.
    for (const QRect &rect : rects)
        region += rect;
    return region;
}

std::vector<std::uint32_t> XClient::cardinals(xcb_window_t window, const char *property)
{
    auto value =
        reply(xcb_get_property_reply(m_connection,
                                     xcb_get_property(m_connection, 0, window, atom(property),
                                                      XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                                     nullptr));
    std::vector<std::uint32_t> result;
    if (!value || value->format != 32)
        return result;
    const auto *data = static_cast<const std::uint32_t *>(xcb_get_property_value(value.get()));
    result.assign(data, data + xcb_get_property_value_length(value.get()) / 4);
    return result;
}

bool XClient::hasProperty(xcb_window_t window, const char *property)
{
    auto value = reply(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, window, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
        nullptr));
    return value && value->type != XCB_NONE;
}

xcb_window_t XClient::activeWindow()
{
    const std::vector<std::uint32_t> active = cardinals(m_root, "_NET_ACTIVE_WINDOW");
    return active.empty() ? XCB_NONE : active.front();
}

void XClient::requestMove(xcb_window_t window, QPoint topLeft)
{
    // _NET_MOVERESIZE_WINDOW: gravity from the window (0), x and y given (bits 8 and 9), source
    // indication "pager" (2 << 12) so that the window manager honours it.
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_MOVERESIZE_WINDOW");
    message.data.data32[0] = (1u << 8) | (1u << 9) | (2u << 12);
    message.data.data32[1] = static_cast<std::uint32_t>(topLeft.x());
    message.data.data32[2] = static_cast<std::uint32_t>(topLeft.y());
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    sync();
}

QImage XClient::grab(const QRect &area)
{
    auto image = reply(xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                      static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                      static_cast<std::uint16_t>(area.width()),
                      static_cast<std::uint16_t>(area.height()), ~0u),
        nullptr));
    if (!image || image->depth != 24 ||
        xcb_get_image_data_length(image.get()) < area.width() * area.height() * 4)
        return {};
    // A 24-bit root in ZPixmap format has 32 bits a pixel, little-endian BGRX: RGB32's layout.
    QImage result(area.size(), QImage::Format_RGB32);
    const std::uint8_t *data = xcb_get_image_data(image.get());
    for (int y = 0; y < area.height(); ++y)
        std::memcpy(result.scanLine(y), data + std::size_t(y) * std::size_t(area.width()) * 4,
                    std::size_t(area.width()) * 4);
    return result;
}

std::uint8_t XClient::keycode(std::uint32_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const std::uint8_t first = setup->min_keycode;
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - first + 1);
    auto mapping = reply(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, first, count), nullptr));
    if (!mapping)
        return 0;
    const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    for (int code = 0; code < count; ++code)
        for (int level = 0; level < perCode; ++level)
            if (symbols[code * perCode + level] == keysym)
                return static_cast<std::uint8_t>(first + code);
    return 0;
}

void XClient::fake(std::uint8_t type, std::uint8_t detail, QPoint position)
{
    xcb_test_fake_input(m_connection, type, detail, XCB_CURRENT_TIME, m_root,
                        static_cast<std::int16_t>(position.x()),
                        static_cast<std::int16_t>(position.y()), 0);
}

void XClient::keyDown(std::uint32_t keysym)
{
    fake(XCB_KEY_PRESS, keycode(keysym));
    sync();
}

void XClient::keyUp(std::uint32_t keysym)
{
    fake(XCB_KEY_RELEASE, keycode(keysym));
    sync();
}

void XClient::tapKey(std::uint32_t keysym)
{
    const std::uint8_t code = keycode(keysym);
    fake(XCB_KEY_PRESS, code);
    fake(XCB_KEY_RELEASE, code);
    sync();
}

void XClient::movePointer(QPoint rootPosition)
{
    fake(XCB_MOTION_NOTIFY, 0, rootPosition);
    sync();
}

void XClient::setInputFocus(xcb_window_t window)
{
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    sync();
}

void XClient::click(QPoint rootPosition, int button)
{
    fake(XCB_MOTION_NOTIFY, 0, rootPosition);
    fake(XCB_BUTTON_PRESS, static_cast<std::uint8_t>(button));
    fake(XCB_BUTTON_RELEASE, static_cast<std::uint8_t>(button));
    sync();
    // The window manager handles a click in its own time, and may hold the keyboard meanwhile: a
    // key typed before it is done goes astray. A person is never that fast; a test waits.
    syncWithWindowManager();
    waitUntil([this] { return inputIsFree(); }, 5000);
}

bool XClient::syncWithWindowManager()
{
    // A window manager answers _NET_REQUEST_FRAME_EXTENTS for a window it does not manage by
    // setting the property on it. It handles events in order, so once it has answered, it has
    // handled everything this client caused before asking.
    if (m_probe == XCB_NONE) {
        m_probe = xcb_generate_id(m_connection);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_probe, m_root, -10, -10, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
    }
    const xcb_atom_t extents = atom("_NET_FRAME_EXTENTS");
    xcb_delete_property(m_connection, m_probe, extents);
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = m_probe;
    message.type = atom("_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
    return waitForEvent(
        [&](const xcb_generic_event_t &event) {
            const auto &property = reinterpret_cast<const xcb_property_notify_event_t &>(event);
            return (event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                   property.window == m_probe && property.atom == extents &&
                   property.state == XCB_PROPERTY_NEW_VALUE;
        },
        5000);
}

xcb_window_t XClient::inputFocus()
{
    auto focus =
        reply(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return focus ? focus->focus : XCB_NONE;
}

bool XClient::inputIsFree()
{
    auto keyboard =
        reply(xcb_grab_keyboard_reply(m_connection,
                                      xcb_grab_keyboard(m_connection, 0, m_root, XCB_CURRENT_TIME,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                      nullptr));
    if (!keyboard || keyboard->status != XCB_GRAB_STATUS_SUCCESS)
        return false;
    xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
    auto pointer = reply(xcb_grab_pointer_reply(
        m_connection,
        xcb_grab_pointer(m_connection, 0, m_root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                         XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr));
    if (!pointer || pointer->status != XCB_GRAB_STATUS_SUCCESS)
        return false;
    xcb_ungrab_pointer(m_connection, XCB_CURRENT_TIME);
    sync();
    return true;
}

void XClient::sync()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(x, y) & 0xffffff;
            const QRgb e = expected.pixel(x, y) & 0xffffff;
            if (a != e)
                return QStringLiteral("pixel (%1,%2) is #%3, expected #%4")
                    .arg(x)
                    .arg(y)
                    .arg(a, 6, 16, QLatin1Char('0'))
                    .arg(e, 6, 16, QLatin1Char('0'));
        }
    return {};
}
