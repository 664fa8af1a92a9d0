#include "picture.h"

#include <QByteArray>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QPixmapCache>
#include <QSize>
#include <QString>
#include <qlogging.h>

#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Holds back what is printed while it lives: the toolkit's messages and, where decoders write
// to standard error themselves (libpng does), those bytes too. passOn() hands it all on as it
// came; otherwise it is dropped.
class HeldMessages
{
public:
    HeldMessages()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&hold);
#ifdef Q_OS_UNIX
        // A pipe, not a file: nothing is written anywhere. Non-blocking, so that a decoder that
        // says more than the pipe holds loses the rest instead of hanging.
        int fds[2] = {-1, -1};
        std::fflush(stderr);
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_savedStderr = ::dup(STDERR_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[1]);
            m_heldStderr = fds[0];
        }
#endif
    }
    ~HeldMessages()
    {
        restore(false);
    }
    HeldMessages(const HeldMessages &) = delete;
    HeldMessages &operator=(const HeldMessages &) = delete;

    void passOn()
    {
        restore(true);
    }

private:
    struct Message
    {
        QtMsgType type = QtDebugMsg;
        QByteArray category;
        QString text;
    };

    void restore(bool pass)
    {
        if (m_restored)
            return;
        m_restored = true;
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
#ifdef Q_OS_UNIX
        if (m_heldStderr >= 0) {
            std::fflush(stderr);
            ::dup2(m_savedStderr, STDERR_FILENO);
            ::close(m_savedStderr);
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(m_heldStderr, buffer, sizeof buffer)) > 0)
                if (pass && ::write(STDERR_FILENO, buffer, static_cast<size_t>(got)) < 0)
                    break;
            ::close(m_heldStderr);
        }
#endif
        if (pass) {
            for (const Message &message : m_held) {
                const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
                m_previous(message.type, context, message.text);
            }
        }
        m_held.clear();
    }

    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        s_current->m_held.push_back({type, QByteArray(context.category), text});
    }

    // The one instance that holds messages now (the program is single-threaded). A plain pointer,
    // so that nothing needs constructing before main or destroying after it.
    static inline HeldMessages *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::vector<Message> m_held;
    bool m_restored = false;
#ifdef Q_OS_UNIX
    int m_savedStderr = -1;
    int m_heldStderr = -1;
#endif
};

} // namespace

void preparePictureLoading()
{
    QImageReader::setAllocationLimit(pictureAllocationLimitMiB);
    // The cache counts in KiB; a little more than the limit also covers the cache's own overhead.
    const int limitKiB = pictureAllocationLimitMiB * 1024 + 1024;
    if (QPixmapCache::cacheLimit() < limitKiB)
        QPixmapCache::setCacheLimit(limitKiB);
}

QPixmap loadPicture(const QString &path)
{
    // Only regular files (or links to them) are pictures: the decoder's blocking open would wait
    // for ever on a FIFO without a writer, and a device such as /dev/zero never ends.
    if (!QFileInfo(path).isFile())
        return {};
    HeldMessages messages;
    QPixmap picture(path);
    if (!picture.isNull())
        messages.passOn();
    return picture;
}

QString pictureProblem(const QString &path)
{
    const HeldMessages messages;
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("No such file or directory");
    if (info.isDir())
        return QStringLiteral("Is a directory");
    if (!info.isFile())
        return QStringLiteral("Not a regular file");
    if (!info.isReadable())
        return QStringLiteral("Permission denied");

    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid()) {
        const qint64 bytes = qint64{size.width()} * size.height() * 4;
        if (bytes > qint64{pictureAllocationLimitMiB} * 1024 * 1024)
            return QStringLiteral("picture of %1x%2 pixels is larger than the limit of %3 MiB")
                .arg(size.width())
                .arg(size.height())
                .arg(pictureAllocationLimitMiB);
    }
    if (reader.read().isNull())
        return reader.errorString();
    return QStringLiteral("The picture could not be loaded");
}
