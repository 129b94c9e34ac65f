#include "cli/address_list.h"

namespace lumiclip {

bool ReadAddressList(QIODevice& device, const QString& source, QStringList* urls, QString* error,
                     const AddressListLimits& limits) {
    QByteArray line;
    qint64 lineNumber = 1;
    bool afterCr = false;
    const auto takeLine = [&]() {
        const QString text = QString::fromUtf8(line).trimmed();
        line.clear();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) {
            return true;
        }
        if (urls->size() >= limits.maxAddresses) {
            *error = QStringLiteral(
                         "%1 holds more than %2 addresses: split it, or capture it in parts with --shard")
                         .arg(source, QString::number(limits.maxAddresses));
            return false;
        }
        urls->append(text);
        return true;
    };
    char chunk[64 * 1024];
    for (;;) {
        const qint64 n = device.read(chunk, sizeof chunk);
        if (n < 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(source, device.errorString());
            return false;
        }
        if (n == 0) {
            break;
        }
        for (qint64 i = 0; i < n; ++i) {
            const char c = chunk[i];
            if (c == '\n' || c == '\r') {
                // "\r\n" is one line end; a lone "\r" is one too.
                if (!(c == '\n' && afterCr)) {
                    if (!takeLine()) {
                        return false;
                    }
                    ++lineNumber;
                }
                afterCr = c == '\r';
                continue;
            }
            afterCr = false;
            if (line.size() >= limits.maxLineBytes) {
                // In one pass: a "%2" in the file's name is a name, not a place for the number.
                *error = QStringLiteral("%1: line %2 is longer than %3 bytes")
                             .arg(source, QString::number(lineNumber), QString::number(limits.maxLineBytes));
                return false;
            }
            line.append(c);
        }
    }
    return takeLine();
}

}  // namespace lumiclip
