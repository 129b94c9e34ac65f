#include "core/upgrade/version_compare.h"

namespace lumiclip {

namespace {

int foldedByteAt(QByteArrayView text, qsizetype i) {
    if (i >= text.size()) {
        return 0;
    }
    const int c = static_cast<unsigned char>(text[i]);
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

}  // namespace

int CompareVersionText(QByteArrayView a, QByteArrayView b) {
    for (qsizetype i = 0;; ++i) {
        const int ca = foldedByteAt(a, i);
        const int cb = foldedByteAt(b, i);
        if (ca != cb) {
            return ca - cb;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

}  // namespace lumiclip
