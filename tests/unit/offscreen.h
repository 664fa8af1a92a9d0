#pragma once

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

// The offscreen platform has no window shapes or opacity and says so each time either is set;
// what was set is still reported back, which is what the in-process tests look at. Lets every
// other message through.
inline void quietenOffscreenWindowWarnings()
{
    static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (!text.startsWith(QLatin1String("This plugin does not support setting window")))
                previous(type, context, text);
        });
}
