#include "nativeshape.h"

#include <QImage>
#include <QWidget>

#ifdef PICWND_XCB_SHAPE
#include <QGuiApplication>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#endif

bool setNativeShape(QWidget &window, const QImage &kept)
{
#ifdef PICWND_XCB_SHAPE
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    // X11 coordinates are 16-bit.
    if (!connection || kept.format() != QImage::Format_MonoLSB || kept.isNull() ||
        kept.width() > 32767 || kept.height() > 32767)
        return false;
    const xcb_query_extension_reply_t *shapeExtension =
        xcb_get_extension_data(connection, &xcb_shape_id);
    if (!shapeExtension || !shapeExtension->present)
        return false;
    // The image's rows are the server's bitmap rows as they stand only for this layout (that
    // of the X.Org servers on every common machine); anything else is left to the toolkit.
    const xcb_setup_t *setup = xcb_get_setup(connection);
    if (setup->bitmap_format_bit_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        setup->bitmap_format_scanline_pad != 32 ||
        kept.bytesPerLine() != (kept.width() + 31) / 32 * 4)
        return false;

    // At other ratios the toolkit scales the mask to native pixels; this does not.
    if (window.devicePixelRatioF() != 1.0)
        return false;
    const auto id = xcb_window_t(window.winId());
    if (!id)
        return false;

    const auto width = std::uint16_t(kept.width());
    const auto height = kept.height();
    const xcb_pixmap_t bitmap = xcb_generate_id(connection);
    xcb_create_pixmap(connection, 1, bitmap, id, width, std::uint16_t(height));
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, bitmap, 0, nullptr);

    // Plain requests of at most 262140 bytes, 24 of them the request's header.
    const auto stride = std::uint32_t(kept.bytesPerLine());
    const int rowsPerRequest = std::max(1, int((262140u - 24u) / stride));
    for (int top = 0; top < height; top += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, height - top);
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, bitmap, gc, width, std::uint16_t(rows),
                      0, std::int16_t(top), 0, 1, stride * std::uint32_t(rows),
                      kept.constScanLine(top));
    }
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, id, 0, 0, bitmap);
    xcb_free_gc(connection, gc);
    xcb_free_pixmap(connection, bitmap);
    xcb_flush(connection);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(kept);
    return false;
#endif
}
