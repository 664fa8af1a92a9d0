#include "platformchoice.h"

#include <QProcessEnvironment>
#include <QString>

#include <algorithm>
#include <iterator>

namespace {

// The toolkit reads these options, each with the argument after it, while it chooses its backend,
// and skips their values (so "-title -platform" is a title). -geometry, -title and -icon count
// only where X11 is the backend first in line, which is the case whenever this program asks.
// A single leading "-" may be doubled.
bool takesValue(const QByteArray &option)
{
    static const char *const withValue[] = {
        "-platform",        "-platformpluginpath", "-platformtheme",
        "-qwindowgeometry", "-geometry",           "-qwindowtitle",
        "-title",           "-qwindowicon",        "-icon"};
    return std::any_of(std::begin(withValue), std::end(withValue),
                       [&](const char *name) { return option == name; });
}

bool choosesPlatform(const QByteArrayList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QByteArray option = arguments.at(i);
        if (!option.startsWith('-'))
            continue;
        if (option.startsWith("--"))
            option.remove(0, 1);
        if (!takesValue(option))
            continue;
        // The toolkit honours an option only when its value follows.
        if (++i < arguments.size() && option == "-platform")
            return true;
    }
    return false;
}

} // namespace

std::optional<QByteArray> preferredPlatform(const QByteArrayList &arguments,
                                            const QProcessEnvironment &environment)
{
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() ||
        choosesPlatform(arguments))
        return std::nullopt;
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return std::nullopt;
    // The toolkit puts Wayland first when either of these says it is there.
    const bool waylandFirst =
        environment.contains(QStringLiteral("WAYLAND_DISPLAY")) ||
        environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
    if (!waylandFirst)
        return std::nullopt;
    return QByteArray("xcb;wayland");
}
