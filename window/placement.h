#pragma once

#include <QPoint>

#include <cstddef>
#include <optional>
#include <string_view>

class QString;

// The placement file: six whitespace-separated fields, of which the second and the fifth are the
// x and y of the window's top-left corner ("word x word" and "word y word", usually on two lines).
// The other four are words that are skipped unread. The reader is all or nothing: a file that does
// not give both coordinates within the rules below gives no position at all.

// A word may be at most this long (the format was designed around a 256-byte scratch buffer).
inline constexpr std::size_t placementMaxWordLength = 255;

// The six fields must be found within this many bytes from the start of the file. The bound keeps
// reading short for any file, however large; nothing after the sixth field is ever read.
inline constexpr std::size_t placementMaxBytes = std::size_t{1} << 20;

// Parses placement text. Returns the position when both coordinates are given: each an optional
// sign and decimal digits within the signed 32-bit range, every word at most
// placementMaxWordLength bytes, all six fields (the sixth may be missing at the end of the text)
// within placementMaxBytes.
[[nodiscard]] std::optional<QPoint> parsePlacement(std::string_view text);

// Reads the placement file at path. Returns nothing when there is no such file, when it is not a
// readable regular file (a directory, a FIFO or a device is never opened for reading), or when its
// content gives no position by the rules of parsePlacement. Never blocks on the file.
[[nodiscard]] std::optional<QPoint> readPlacementFile(const QString &path);
