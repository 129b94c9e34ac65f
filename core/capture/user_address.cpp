#include "core/capture/user_address.h"

#include <QUrl>

namespace lumiclip {

QString AddressFromUserInput(const QString& typed) {
    QString text = typed.trimmed();
    QUrl url = QUrl::fromUserInput(text);
    if (!url.isValid() || url.scheme().isEmpty()) {
        return typed;
    }
    if (text.startsWith(url.scheme() + QLatin1Char(':'), Qt::CaseInsensitive)) {
        return text;  // it had its scheme already: the browser gets it as typed
    }
    // Qt guesses ftp:// for hosts named ftp.*; the browser loads no ftp addresses, so a bare host is
    // an http address like any other.
    if (url.scheme() == QStringLiteral("ftp") &&
        !text.startsWith(QStringLiteral("ftp:"), Qt::CaseInsensitive)) {
        url.setScheme(QStringLiteral("http"));
    }
    return url.toString(QUrl::FullyEncoded);
}

}  // namespace lumiclip
