#include "x11shape.h"

#include <QGuiApplication>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// X coordinates are 16-bit: a window is at most 65535 pixels wide, a bitmap 32767 and an offset
// at most 32767. A shape is sent in tiles of at most this size, each at its own offset.
constexpr int tileSize = 32767;

// The fixed parts of the requests, in bytes.
constexpr std::uint32_t putImageHeader = 24;
constexpr std::uint32_t shapeRectanglesHeader = 16;

std::uint32_t maximumRequestBytes(xcb_connection_t *connection)
{
    // In units of 4 bytes; xcb asks for the larger limit of BIG-REQUESTS where the server has it.
    return xcb_get_maximum_request_length(connection) * 4;
}

// A bitmap in the layout the server's setup asks for: rows padded to the scanline pad; within
// each scanline unit the leftmost pixel in the least or the most significant bit, and the unit's
// bytes in the server's byte order.
class Bitmap
{
public:
    Bitmap(const xcb_setup_t &setup, QSize size)
        : m_size(size), m_unitBytes(std::max<int>(setup.bitmap_format_scanline_unit / 8, 1)),
          m_leastBitFirst(setup.bitmap_format_bit_order == XCB_IMAGE_ORDER_LSB_FIRST),
          m_leastByteFirst(setup.image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST)
    {
        const int pad = std::max<int>(setup.bitmap_format_scanline_pad, 8);
        m_stride = static_cast<std::size_t>((size.width() + pad - 1) / pad * pad / 8);
        m_bits.assign(m_stride * static_cast<std::size_t>(size.height()), 0);
    }

    [[nodiscard]] std::size_t stride() const { return m_stride; }
    [[nodiscard]] const std::uint8_t *row(int y) const
    {
        return m_bits.data() + m_stride * static_cast<std::size_t>(y);
    }

    // Sets the pixels of rect, which lies inside the bitmap.
    void fill(const QRect &rect)
    {
        const int first = rect.left();
        const int last = rect.right();
        const int firstByte = first >> 3;
        const int lastByte = last >> 3;
        // Bits in the order of the pixels, least significant first; see finish().
        const auto firstMask = static_cast<std::uint8_t>(0xffu << (first & 7));
        const auto lastMask = static_cast<std::uint8_t>(0xffu >> (7 - (last & 7)));
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            std::uint8_t *bits = m_bits.data() + m_stride * static_cast<std::size_t>(y);
            if (firstByte == lastByte) {
                bits[firstByte] |= firstMask & lastMask;
                continue;
            }
            bits[firstByte] |= firstMask;
            std::memset(bits + firstByte + 1, 0xff,
                        static_cast<std::size_t>(lastByte - firstByte - 1));
            bits[lastByte] |= lastMask;
        }
    }

    // Puts the bits into the server's order.
    void finish()
    {
        if (!m_leastBitFirst) {
            const std::array<std::uint8_t, 256> reversed = reversedBytes();
            for (std::uint8_t &byte : m_bits)
                byte = reversed[byte];
        }
        // The bit order says where the leftmost pixel sits in a unit taken as a number; where the
        // bytes of that number go the other way round, each unit's bytes are swapped.
        if (m_unitBytes > 1 && m_leastBitFirst != m_leastByteFirst) {
            const auto unit = static_cast<std::size_t>(m_unitBytes);
            for (std::size_t i = 0; i + unit <= m_bits.size(); i += unit)
                std::reverse(m_bits.begin() + static_cast<std::ptrdiff_t>(i),
                             m_bits.begin() + static_cast<std::ptrdiff_t>(i + unit));
        }
    }

private:
    static std::array<std::uint8_t, 256> reversedBytes()
    {
        std::array<std::uint8_t, 256> table{};
        for (unsigned value = 0; value < 256; ++value) {
            unsigned reversed = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (value & (1u << bit))
                    reversed |= 0x80u >> bit;
            table[value] = static_cast<std::uint8_t>(reversed);
        }
        return table;
    }

    QSize m_size;
    int m_unitBytes = 1;
    bool m_leastBitFirst = true;
    bool m_leastByteFirst = true;
    std::size_t m_stride = 0;
    std::vector<std::uint8_t> m_bits;
};

// Sends part (relative to the tile at offset) as a bitmap; false when the server cannot make it.
bool sendBitmap(xcb_connection_t *connection, xcb_window_t window, xcb_shape_op_t operation,
                const QRect &tile, const QRegion &part)
{
    const xcb_setup_t &setup = *xcb_get_setup(connection);
    Bitmap bitmap(setup, tile.size());
    if (bitmap.stride() == 0)
        return false;
    for (const QRect &rect : part)
        bitmap.fill(rect.translated(-tile.topLeft()));
    bitmap.finish();

    const xcb_pixmap_t pixmap = xcb_generate_id(connection);
    xcb_generic_error_t *error = xcb_request_check(
        connection, xcb_create_pixmap_checked(connection, 1, pixmap, window,
                                              static_cast<std::uint16_t>(tile.width()),
                                              static_cast<std::uint16_t>(tile.height())));
    if (error) {
        std::free(error);
        return false;
    }
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const std::uint32_t colours[] = {1, 0}; // foreground, background
    xcb_create_gc(connection, gc, pixmap, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND, colours);

    const std::size_t rowsPerRequest = std::max<std::size_t>(
        1, (maximumRequestBytes(connection) - putImageHeader) / bitmap.stride());
    for (int y = 0; y < tile.height();) {
        const int rows = static_cast<int>(
            std::min<std::size_t>(rowsPerRequest, static_cast<std::size_t>(tile.height() - y)));
        xcb_put_image(connection, XCB_IMAGE_FORMAT_XY_BITMAP, pixmap, gc,
                      static_cast<std::uint16_t>(tile.width()), static_cast<std::uint16_t>(rows), 0,
                      static_cast<std::int16_t>(y), 0, 1,
                      static_cast<std::uint32_t>(bitmap.stride() * static_cast<std::size_t>(rows)),
                      bitmap.row(y));
        y += rows;
    }
    xcb_shape_mask(connection, operation, XCB_SHAPE_SK_BOUNDING, window,
                   static_cast<std::int16_t>(tile.x()), static_cast<std::int16_t>(tile.y()),
                   pixmap);
    xcb_free_gc(connection, gc);
    xcb_free_pixmap(connection, pixmap);
    return true;
}

// Sends part (relative to the tile at offset) as rectangles, as many to a request as the shape
// extension takes. It reads a request's length from the 16-bit field of its header alone, so a
// longer request (BIG-REQUESTS) is taken for a negative number of rectangles and gives an empty
// shape, without any error: at most 65535 four-byte units go in one request.
void sendRectangles(xcb_connection_t *connection, xcb_window_t window, xcb_shape_op_t operation,
                    const QRect &tile, const QRegion &part)
{
    const std::uint32_t bytes = std::min<std::uint32_t>(maximumRequestBytes(connection), 65535 * 4);
    const std::size_t perRequest =
        std::max<std::size_t>(1, (bytes - shapeRectanglesHeader) / sizeof(xcb_rectangle_t));
    std::vector<xcb_rectangle_t> rectangles;
    rectangles.reserve(
        std::min<std::size_t>(perRequest, static_cast<std::size_t>(part.rectCount())));
    const auto send = [&] {
        xcb_shape_rectangles(
            connection, operation, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window,
            static_cast<std::int16_t>(tile.x()), static_cast<std::int16_t>(tile.y()),
            static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
        operation = XCB_SHAPE_SO_UNION;
        rectangles.clear();
    };
    for (const QRect &rect : part) {
        const QRect r = rect.translated(-tile.topLeft());
        rectangles.push_back({static_cast<std::int16_t>(r.x()), static_cast<std::int16_t>(r.y()),
                              static_cast<std::uint16_t>(r.width()),
                              static_cast<std::uint16_t>(r.height())});
        if (rectangles.size() == perRequest)
            send();
    }
    if (!rectangles.empty() || operation == XCB_SHAPE_SO_SET)
        send();
}

} // namespace

bool setX11WindowShape(QWidget &window, const QRegion &shape)
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const xcb_query_extension_reply_t *extension =
        xcb_get_extension_data(connection, &xcb_shape_id);
    if (!extension || !extension->present)
        return false;
    const auto id = static_cast<xcb_window_t>(window.winId());

    // Tiles from the window's origin to the far corner of the shape; what lies left of or above
    // the window is no part of it anyway.
    const QRect bounds = shape.boundingRect();
    const QRect area = QRect(QPoint(0, 0), bounds.bottomRight())
                           .intersected(QRect(0, 0, 2 * tileSize, 2 * tileSize));
    xcb_shape_op_t operation = XCB_SHAPE_SO_SET;
    for (int y = 0; y < area.height(); y += tileSize) {
        for (int x = 0; x < area.width(); x += tileSize) {
            const QRect tile = QRect(x, y, tileSize, tileSize).intersected(area);
            const QRegion part = shape.intersected(tile);
            if (operation == XCB_SHAPE_SO_UNION && part.isEmpty())
                continue;
            if (!sendBitmap(connection, id, operation, tile, part))
                sendRectangles(connection, id, operation, tile, part);
            operation = XCB_SHAPE_SO_UNION;
        }
    }
    if (operation == XCB_SHAPE_SO_SET) // an empty shape: nothing of the window is shown
        xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                             XCB_CLIP_ORDERING_UNSORTED, id, 0, 0, 0, nullptr);
    xcb_flush(connection);
    return true;
}
