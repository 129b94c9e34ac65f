#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace lumiclip {

// The longest value a version file can give: its buffer held 260 bytes with the terminator.
inline constexpr qsizetype kMaxVersionValueLength = 259;

// Finds the value of a key ("Version:", "Filename:") in a version file's bytes: the first byte-exact
// occurrence of the key (searched only up to the first zero byte), then whatever text up to the first
// double quote, then the bytes up to the next double quote or the end of the content, cut to 259 bytes
// and ending at a zero byte if one is inside. Nothing when the key or the opening quote is missing.
std::optional<QByteArray> FindVersionValue(QByteArrayView content, QByteArrayView key);

}  // namespace lumiclip
