#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

class QProcessEnvironment;

// Which of the toolkit's windowing backends the program asks for, decided before the application
// object exists.
//
// The window needs what only X11 gives a program: placing its own top-level window, staying on
// top, a shape cut from the picture and per-window opacity. On a Wayland desktop the toolkit
// would pick its Wayland backend, where none of that exists, although the desktop also runs an
// X server for X11 programs (XWayland) and says where in DISPLAY. So when the user has chosen no
// backend (no -platform option, QT_QPA_PLATFORM unset or empty) and DISPLAY names an X display,
// the answer is "xcb;wayland": X11 first, and Wayland only if the X display cannot be reached.
// Where the toolkit would try X11 first anyway (no WAYLAND_DISPLAY, XDG_SESSION_TYPE not
// "wayland") or there is no DISPLAY, nothing is asked for and the toolkit decides as usual.
//
// arguments are the command line without the program name, as the toolkit will see it; the
// result is the value for QT_QPA_PLATFORM, or nothing to leave the choice alone.
[[nodiscard]] std::optional<QByteArray> preferredPlatform(const QByteArrayList &arguments,
                                                          const QProcessEnvironment &environment);
