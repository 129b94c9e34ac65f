#include "cli/output_names.h"

#include "core/image/image_format.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>

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

// A name's base, its extension and the "-N" of a repeat must fit the file system's 255 bytes: the base
// keeps at most 120 characters (as names have always been cut) and at most this many bytes of UTF-8.
constexpr qsizetype kMaxBaseCharacters = 120;
constexpr qsizetype kMaxBaseBytes = 200;

// The longest start of text within the limits, never inside a character: a pair of UTF-16 surrogates is
// one character, kept whole or dropped whole.
QString CutText(const QString& text, qsizetype maxCharacters, qsizetype maxBytes) {
    qsizetype characters = 0;
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair =
            text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(text[end], text[end + 1]) : text[end].unicode();
        const qsizetype size = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (characters + 1 > maxCharacters || bytes + size > maxBytes) {
            break;
        }
        ++characters;
        bytes += size;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

qsizetype CharacterCount(const QString& text) {
    return static_cast<qsizetype>(text.toUcs4().size());
}

// One part of a name: the template's own text or a placeholder's value. A value that identifies the
// address ({index}, {hash}) is never cut; the others give way to them.
struct NamePart {
    QString text;
    bool keepWhole = false;
};

// The parts joined within the limits of a base. When they are too long, the parts that may be cut are
// cut to a common length, the longest first, so that every part keeps its start and none is dropped
// for another.
QString JoinWithin(const QList<NamePart>& parts) {
    const auto fits = [](const QString& text) {
        return CharacterCount(text) <= kMaxBaseCharacters && text.toUtf8().size() <= kMaxBaseBytes;
    };
    QString joined;
    for (const NamePart& part : parts) {
        joined += part.text;
    }
    if (fits(joined)) {
        return joined;
    }
    // The longest common cut that fits, by bisection over the characters each cut part keeps.
    qsizetype longest = 0;
    for (const NamePart& part : parts) {
        longest = std::max(longest, CharacterCount(part.text));
    }
    const auto cutTo = [&parts](qsizetype level) {
        QString text;
        for (const NamePart& part : parts) {
            text += part.keepWhole ? part.text : CutText(part.text, level, kMaxBaseBytes);
        }
        return text;
    };
    qsizetype low = 0;
    qsizetype high = longest;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (fits(cutTo(middle))) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    // Whole parts alone too long (a template of many {hash}): cut the whole as a last resort.
    return CutText(cutTo(low), kMaxBaseCharacters, kMaxBaseBytes);
}

const QStringList& NamePlaceholders() {
    static const QStringList names{QStringLiteral("index"), QStringLiteral("host"), QStringLiteral("path"),
                                   QStringLiteral("hash"), QStringLiteral("size")};
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
    return CutText(base, kMaxBaseCharacters, kMaxBaseBytes) + QLatin1Char('.') + ExtensionFor(format);
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
            return QStringLiteral("unknown placeholder {%1} (known: {index}, {host}, {path}, {hash}, {size})")
                .arg(name);
        }
        open = close;
    }
    return {};
}

QString FileNameFromTemplate(const QString& nameTemplate, const QString& url, qsizetype index,
                             const QString& format, const QString& size) {
    const QUrl parsed(url);
    QList<NamePart> parts;
    // The template's own text is the user's, but it may still not name another folder.
    const auto addText = [&parts](QString text) {
        if (!text.isEmpty()) {
            parts.append({text.replace(QLatin1Char('/'), QLatin1Char('_')), false});
        }
    };
    qsizetype from = 0;
    for (qsizetype open = nameTemplate.indexOf(QLatin1Char('{')); open >= 0;
         open = nameTemplate.indexOf(QLatin1Char('{'), from)) {
        const qsizetype close = nameTemplate.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            break;
        }
        addText(nameTemplate.mid(from, open - from));
        const QString name = nameTemplate.mid(open + 1, close - open - 1);
        if (name == QStringLiteral("index")) {
            parts.append({QString::number(index), true});
        } else if (name == QStringLiteral("host")) {
            parts.append({SafeNamePart(parsed.host()), false});
        } else if (name == QStringLiteral("path")) {
            parts.append({SafeNamePart(parsed.path()), false});
        } else if (name == QStringLiteral("size")) {
            parts.append({size, true});
        } else if (name == QStringLiteral("hash")) {
            parts.append(
                {QString::fromLatin1(
                     QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(10)),
                 true});
        }
        from = close + 1;
    }
    addText(nameTemplate.mid(from));
    QString base = JoinWithin(parts);
    if (base.isEmpty()) {
        base = QStringLiteral("page");
    }
    return base + QLatin1Char('.') + ExtensionFor(format);
}

}  // namespace lumiclip
