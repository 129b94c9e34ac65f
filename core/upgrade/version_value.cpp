#include "core/upgrade/version_value.h"

namespace lumiclip {

std::optional<QByteArray> FindVersionValue(QByteArrayView content, QByteArrayView key) {
    if (key.isEmpty()) {
        return std::nullopt;
    }
    const qsizetype nul = content.indexOf('\0');
    const QByteArrayView searchable = nul < 0 ? content : content.first(nul);
    const qsizetype at = searchable.indexOf(key);
    if (at < 0) {
        return std::nullopt;
    }
    // The quote search starts at the key's second character; the keys hold no quote, so this is the
    // same as starting after the key. It does not stop at zero bytes.
    const qsizetype open = content.indexOf('"', at + 1);
    if (open < 0) {
        return std::nullopt;
    }
    QByteArrayView value = content.sliced(open + 1);
    const qsizetype close = value.indexOf('"');
    if (close >= 0) {
        value = value.first(close);
    }
    if (value.size() > kMaxVersionValueLength) {
        value = value.first(kMaxVersionValueLength);
    }
    const qsizetype zero = value.indexOf('\0');
    if (zero >= 0) {
        value = value.first(zero);
    }
    return value.toByteArray();
}

}  // namespace lumiclip
