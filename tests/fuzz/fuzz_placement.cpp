// libFuzzer target for the placement reader. For any bytes, parsePlacement must neither crash nor
// read outside its input (AddressSanitizer), nor do anything undefined
// (UndefinedBehaviorSanitizer), and it must give the same answer as
//   - the plain model of the format below, written separately and differently (it splits the text
//     into whitespace-separated tokens first), and
//   - readPlacementFile on the same bytes as a file (an in-memory file: nothing is written to
//   disk),
//     which reads in chunks and so has buffer boundaries of its own.
//
// The reader's 1 MiB budget lies far beyond what the fuzzer makes (and a megabyte under the
// fuzzer's comparison tracing takes a tenth of a second): the unit tests check its edges.

#include "placement.h"

#include <QPoint>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// The format, told plainly: six fields "word integer word word integer word". A word is a whole
// whitespace-separated token, at most 255 bytes; an integer is the sign-and-digits start of a
// token, and whatever of that token follows the digits is the next field. The sixth field may be
// missing at the end of the text. The reader looks at bytes up to the one that ends the sixth
// field, and at all of them when there is no sixth field: those must lie within the budget.
namespace model {

bool isSpace(char c)
{
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return true;
    default:
        return false;
    }
}

struct Token
{
    std::string_view text;
    std::size_t end = 0; // offset just past the token
};

std::vector<Token> tokens(std::string_view text)
{
    std::vector<Token> result;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && !isSpace(text[i]))
            ++i;
        result.push_back({text.substr(start, i - start), i});
    }
    return result;
}

// Decimal digits within the signed 32-bit range, told by comparing digit strings.
std::optional<std::int32_t> toInt32(bool negative, std::string_view digits)
{
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
        return std::nullopt;
    long long value = std::stoll(std::string(digits));
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<QPoint> parse(std::string_view text)
{
    const std::vector<Token> list = tokens(text);
    std::size_t next = 0;
    std::string_view rest; // what a token holds after an integer
    std::size_t restEnd = 0;
    std::size_t lastEnd = 0;

    const auto word = [&](bool optional) {
        std::string_view field;
        if (!rest.empty()) {
            field = rest;
            lastEnd = restEnd;
            rest = {};
        } else if (next < list.size()) {
            field = list[next].text;
            lastEnd = list[next].end;
            ++next;
        } else {
            lastEnd = text.size();
            return optional;
        }
        return field.size() <= 255;
    };
    const auto integer = [&](std::int32_t &value) {
        if (next >= list.size())
            return false;
        std::string_view token = list[next].text;
        restEnd = list[next].end;
        ++next;
        const bool negative = token.front() == '-';
        if (token.front() == '-' || token.front() == '+')
            token.remove_prefix(1);
        std::size_t digits = 0;
        while (digits < token.size() && token[digits] >= '0' && token[digits] <= '9')
            ++digits;
        if (digits == 0)
            return false;
        const std::optional<std::int32_t> parsed = toInt32(negative, token.substr(0, digits));
        if (!parsed)
            return false;
        value = *parsed;
        rest = token.substr(digits);
        return true;
    };

    std::int32_t x = 0;
    std::int32_t y = 0;
    if (!(word(false) && integer(x) && word(false) && word(false) && integer(y) && word(true)))
        return std::nullopt;
    const bool inBudget =
        lastEnd < text.size() ? lastEnd < placementMaxBytes : text.size() <= placementMaxBytes;
    if (!inBudget)
        return std::nullopt;
    return QPoint(x, y);
}

} // namespace model

std::string describe(const std::optional<QPoint> &point)
{
    return point ? std::to_string(point->x()) + "," + std::to_string(point->y()) : "none";
}

// The bytes as an in-memory file, read back through its /proc/self/fd name.
std::optional<QPoint> readAsFile(std::string_view text)
{
    const int fd = ::memfd_create("config.xml", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t got = ::write(fd, text.data() + written, text.size() - written);
        if (got <= 0)
            std::abort();
        written += static_cast<std::size_t>(got);
    }
    const std::optional<QPoint> result =
        readPlacementFile(QStringLiteral("/proc/self/fd/") + QString::number(fd));
    ::close(fd);
    return result;
}

void check(std::string_view text)
{
    const std::optional<QPoint> parsed = parsePlacement(text);
    const std::optional<QPoint> expected = model::parse(text);
    const std::optional<QPoint> fromFile = readAsFile(text);
    if (parsed != expected || fromFile != expected) {
        std::fprintf(stderr, "placement reader disagrees: parsePlacement %s, file %s, model %s\n",
                     describe(parsed).c_str(), describe(fromFile).c_str(),
                     describe(expected).c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
