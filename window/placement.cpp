#include "placement.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <cstdint>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#endif

namespace {

constexpr int endOfText = -1;
constexpr int unusable = -2; // read error, or the byte budget is spent

// Whitespace as the C library's formatted input knows it in the "C" locale.
bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// The fields are read the way two calls of fscanf(file, "%s %d %s", ...) read them, one after the
// other. Every conversion skips leading whitespace, so the two calls read exactly like one list of
// six fields. Source yields bytes 0..255, endOfText or unusable from next().
template <typename Source> class FieldReader
{
public:
    explicit FieldReader(Source &source) : m_source(source) {}

    std::optional<QPoint> read()
    {
        std::int32_t x = 0;
        std::int32_t y = 0;
        const bool ok = word(Required) && integer(x) && word(Required) && word(Required) &&
                        integer(y) && word(Optional);
        if (!ok)
            return std::nullopt;
        return QPoint(x, y);
    }

private:
    enum Presence { Required, Optional };

    int get()
    {
        if (m_pushedBack != noByte) {
            const int c = m_pushedBack;
            m_pushedBack = noByte;
            return c;
        }
        return m_source.next();
    }

    int skipSpace()
    {
        int c = get();
        while (isSpace(c))
            c = get();
        return c;
    }

    // A run of non-whitespace bytes; its content is never looked at. Only the sixth field may be
    // missing, when the text ends before it.
    bool word(Presence presence)
    {
        int c = skipSpace();
        if (c == endOfText)
            return presence == Optional;
        if (c == unusable)
            return false;
        std::size_t length = 0;
        while (c >= 0 && !isSpace(c)) {
            if (++length > placementMaxWordLength)
                return false;
            c = get();
        }
        return c != unusable;
    }

    // An optional sign directly followed by decimal digits, always base 10. The first byte after
    // the digits is left for the next field, so "12abc" is 12 followed by the word "abc".
    bool integer(std::int32_t &result)
    {
        int c = skipSpace();
        const bool negative = c == '-';
        if (c == '+' || c == '-')
            c = get();
        if (!isDigit(c))
            return false;
        // Magnitude limit: 2^31 for a negative number, 2^31 - 1 otherwise.
        const std::int64_t limit = std::int64_t{INT32_MAX} + (negative ? 1 : 0);
        std::int64_t magnitude = 0;
        while (isDigit(c)) {
            magnitude = magnitude * 10 + (c - '0');
            if (magnitude > limit)
                return false;
            c = get();
        }
        if (c == unusable)
            return false;
        m_pushedBack = c;
        result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
        return true;
    }

    static constexpr int noByte = -3;
    Source &m_source;
    int m_pushedBack = noByte;
};

class TextSource
{
public:
    explicit TextSource(std::string_view text) : m_text(text) {}

    int next()
    {
        if (m_pos >= m_text.size())
            return endOfText;
        if (m_pos >= placementMaxBytes)
            return unusable;
        return static_cast<unsigned char>(m_text[m_pos++]);
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Reads a file in small chunks, so that only the bytes up to the end of the sixth field (and the
// one byte that ends it) are taken from the file.
class FileSource
{
public:
#ifdef Q_OS_UNIX
    explicit FileSource(int fd) : m_fd(fd) {}
#else
    explicit FileSource(QFile &file) : m_file(file) {}
#endif

    int next()
    {
        if (m_pos == m_end && !refill())
            return m_state;
        return static_cast<unsigned char>(m_buffer[m_pos++]);
    }

private:
    bool refill()
    {
        // Past the budget one more byte is asked for, only to tell the end of the file (fine)
        // from more text (unusable).
        const std::size_t room = placementMaxBytes - m_total;
        const std::size_t wanted = room == 0 ? 1 : std::min(sizeof m_buffer, room);
#ifdef Q_OS_UNIX
        ssize_t got = 0;
        do {
            got = ::read(m_fd, m_buffer, wanted);
        } while (got < 0 && errno == EINTR);
#else
        const qint64 got = m_file.read(m_buffer, static_cast<qint64>(wanted));
#endif
        if (got <= 0) {
            m_state = got == 0 ? endOfText : unusable;
            return false;
        }
        if (room == 0) {
            m_state = unusable;
            return false;
        }
        m_pos = 0;
        m_end = static_cast<std::size_t>(got);
        m_total += m_end;
        return true;
    }

#ifdef Q_OS_UNIX
    int m_fd = -1;
#else
    QFile &m_file;
#endif
    char m_buffer[512] = {};
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    std::size_t m_total = 0;
    int m_state = endOfText;
};

} // namespace

std::optional<QPoint> parsePlacement(std::string_view text)
{
    TextSource source(text);
    return FieldReader<TextSource>(source).read();
}

std::optional<QPoint> readPlacementFile(const QString &path)
{
#ifdef Q_OS_UNIX
    // O_NONBLOCK: opening a FIFO must not wait for a writer. Whatever was opened is then checked to
    // be a regular file, so the name cannot be swapped for something else after a test.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QPoint> result;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        FileSource source(fd);
        result = FieldReader<FileSource>(source).read();
    }
    ::close(fd);
    return result;
#else
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    FileSource source(file);
    return FieldReader<FileSource>(source).read();
#endif
}
