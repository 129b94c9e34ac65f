#include "core/engine/option_values.h"

#include <QRegularExpression>

#include <algorithm>

namespace lumiclip {

namespace {

// The column the options' texts start at.
constexpr int kHelpColumn = 24;

}  // namespace

bool ParseCookiesFile(const QByteArray& text, QList<Cookie>* cookies, QString* error) {
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        Cookie cookie;
        // Exporters mark cookies that scripts may not read with this prefix on the domain.
        static const QByteArray httpOnly = "#HttpOnly_";
        if (line.startsWith(httpOnly)) {
            cookie.httpOnly = true;
            line = line.mid(httpOnly.size());
        } else if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        bool expiresOk = false;
        const qint64 expires = fields.size() == 7 ? fields[4].toLongLong(&expiresOk) : 0;
        const auto isFlag = [](const QByteArray& f) { return f == "TRUE" || f == "FALSE"; };
        if (fields.size() != 7 || fields[0].isEmpty() || !isFlag(fields[1]) || !fields[2].startsWith('/') ||
            !isFlag(fields[3]) || !expiresOk || expires < 0 || fields[5].isEmpty()) {
            *error = QStringLiteral(
                         "line %1 is not a cookie (domain, subdomains, path, secure, expiry, name "
                         "and value, separated by tabs)")
                         .arg(i + 1);
            return false;
        }
        // A domain that names its subdomains too starts with a dot, as the browser takes it.
        cookie.domain = QString::fromUtf8(fields[0]);
        if (fields[1] == "TRUE" && !cookie.domain.startsWith(QLatin1Char('.'))) {
            cookie.domain.prepend(QLatin1Char('.'));
        }
        cookie.path = QString::fromUtf8(fields[2]);
        cookie.secure = fields[3] == "TRUE";
        cookie.expires = expires;
        cookie.name = QString::fromUtf8(fields[5]);
        cookie.value = QString::fromUtf8(fields[6]);
        cookies->append(cookie);
    }
    return true;
}

bool ParseNumber(const QString& text, int lowest, int highest, int* number) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < lowest || n > highest) {
        return false;
    }
    *number = n;
    return true;
}

bool ParseSize(const QString& text, int* width, int* height, bool zeroKeepsProportions) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,6})[xX]([0-9]{1,6})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const int w = match.captured(1).toInt();
    const int h = match.captured(2).toInt();
    const int least = zeroKeepsProportions ? 0 : 1;
    if (w < least || h < least || (w == 0 && h == 0) || w > kMaxCaptureSide || h > kMaxCaptureSide) {
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

bool HasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t') || (u >= 0x7f && u <= 0x9f);
    });
}

const QStringList& BrowserOwnedHeaders() {
    static const QStringList names{QStringLiteral("Host"),
                                   QStringLiteral("Content-Length"),
                                   QStringLiteral("Transfer-Encoding"),
                                   QStringLiteral("Connection"),
                                   QStringLiteral("Keep-Alive"),
                                   QStringLiteral("Upgrade"),
                                   QStringLiteral("Proxy-Connection"),
                                   QStringLiteral("TE"),
                                   QStringLiteral("Trailer")};
    return names;
}

QString PrintableText(const QString& text) {
    QString printable;
    printable.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n') {
            printable += QStringLiteral("\\n");
        } else if (u == u'\r') {
            printable += QStringLiteral("\\r");
        } else if (u == u'\t') {
            printable += QStringLiteral("\\t");
        } else if (u < 0x20 || (u >= 0x7f && u <= 0x9f)) {
            printable += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        } else if (u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x202a && u <= 0x202e) ||
                   (u >= 0x2066 && u <= 0x2069)) {
            // Marks, embeddings, overrides and isolates reorder the text around them: an address could
            // show its end first, or a result line read backwards.
            printable += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        } else {
            printable += c;
        }
    }
    return printable;
}

QString OptionHelpLines(const QString& shortFlag, const QString& longFlag, const QString& valueName,
                        const QString& help) {
    QString head = QStringLiteral("  ") +
                   (shortFlag.isEmpty() ? QStringLiteral("    ") : shortFlag + QStringLiteral(", ")) +
                   longFlag;
    if (!valueName.isEmpty()) {
        head += QLatin1Char(' ') + valueName;
    }
    const QString indent(kHelpColumn, QLatin1Char(' '));
    const QStringList lines = help.split(QLatin1Char('\n'));
    QString text;
    // Two spaces at least between the flags and the text: the readers of the help split there.
    if (head.size() + 2 <= kHelpColumn) {
        text = head.leftJustified(kHelpColumn, QLatin1Char(' ')) + lines.first() + QLatin1Char('\n');
    } else {
        text = head + QLatin1Char('\n') + indent + lines.first() + QLatin1Char('\n');
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        text += indent + lines[i] + QLatin1Char('\n');
    }
    return text;
}

}  // namespace lumiclip
