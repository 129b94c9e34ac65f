#pragma once

#include <QByteArrayView>

namespace lumiclip {

// Orders two version texts the way the check has always compared them: ASCII capitals folded to small
// letters, bytes compared as unsigned values, a prefix sorting first, the text ending at a zero byte.
// Negative, zero or positive like strcmp. There is no numeric reading: "1.10.0" sorts before "1.9.0".
int CompareVersionText(QByteArrayView a, QByteArrayView b);

}  // namespace lumiclip
