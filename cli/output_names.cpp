#include "cli/output_names.h"

#include "core/image/image_format.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace lumiclip {

namespace {

// Text from an address as part of a file name: everything but letters, digits, ".", "_" and "-" turned
// into "_", without dots or underscores at either end (so never "." or "..").
QString SafeNamePart(QString text) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    text.replace(unsafe, QStringLiteral("_"));
    while (text.endsWith(QLatin1Char('_')) || text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    while (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('_'))) {
        text.remove(0, 1);
    }
    return text;
}

QString ExtensionFor(const QString& format) {
    const ImageFormat* known = FindImageFormat(format, Qt::CaseInsensitive);
    return known ? QLatin1String(known->extension) : format.toLower();
}

const QStringList& NamePlaceholders() {
    static const QStringList names{QStringLiteral("index"), QStringLiteral("host"), QStringLiteral("path"),
                                   QStringLiteral("hash")};
    return names;
}

}  // namespace

QString FileNameForUrl(const QString& url, const QString& format) {
    const QUrl parsed(url);
    QString base;
    if (parsed.isValid() && !parsed.host().isEmpty()) {
        base = parsed.host();
        if (parsed.port() > 0) {
            base += QLatin1Char('_') + QString::number(parsed.port());
        }
        base += parsed.path();
        if (parsed.hasQuery()) {
            base += QLatin1Char('_') + parsed.query();
        }
    } else if (parsed.isLocalFile()) {
        base = parsed.fileName();
    } else {
        base = url;
    }
    base = SafeNamePart(base);
    if (base.isEmpty()) {
        base = QStringLiteral("page");
    }
    return base.left(120) + QLatin1Char('.') + ExtensionFor(format);
}

QString CheckNameTemplate(const QString& nameTemplate) {
    if (nameTemplate.isEmpty()) {
        return QStringLiteral("the template is empty");
    }
    if (nameTemplate.contains(QLatin1Char('/'))) {
        return QStringLiteral("\"%1\": a name cannot hold \"/\"").arg(nameTemplate);
    }
    for (qsizetype open = nameTemplate.indexOf(QLatin1Char('{')); open >= 0;
         open = nameTemplate.indexOf(QLatin1Char('{'), open + 1)) {
        const qsizetype close = nameTemplate.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            return QStringLiteral("\"%1\": a \"{\" without its \"}\"").arg(nameTemplate);
        }
        const QString name = nameTemplate.mid(open + 1, close - open - 1);
        if (!NamePlaceholders().contains(name)) {
            return QStringLiteral("unknown placeholder {%1} (known: {index}, {host}, {path}, {hash})")
                .arg(name);
        }
        open = close;
    }
    return {};
}

QString FileNameFromTemplate(const QString& nameTemplate, const QString& url, qsizetype index,
                             const QString& format) {
    const QUrl parsed(url);
    QString base;
    qsizetype from = 0;
    for (qsizetype open = nameTemplate.indexOf(QLatin1Char('{')); open >= 0;
         open = nameTemplate.indexOf(QLatin1Char('{'), from)) {
        const qsizetype close = nameTemplate.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            break;
        }
        base += nameTemplate.mid(from, open - from);
        const QString name = nameTemplate.mid(open + 1, close - open - 1);
        if (name == QStringLiteral("index")) {
            base += QString::number(index);
        } else if (name == QStringLiteral("host")) {
            base += SafeNamePart(parsed.host());
        } else if (name == QStringLiteral("path")) {
            base += SafeNamePart(parsed.path());
        } else if (name == QStringLiteral("hash")) {
            base += QString::fromLatin1(
                QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(10));
        }
        from = close + 1;
    }
    base += nameTemplate.mid(from);
    // The template's own text is the user's, but it may still not name another folder.
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (base.isEmpty()) {
        base = QStringLiteral("page");
    }
    return base.left(120) + QLatin1Char('.') + ExtensionFor(format);
}

}  // namespace lumiclip
