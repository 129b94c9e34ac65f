#include "serve/access_check.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>

namespace lumiclip {

namespace {

// A key or a list of tokens has no need to be larger; a bigger file is a mistake (the wrong file named).
constexpr qint64 kMaxSecretFileBytes = qint64{64} * 1024;

std::optional<QByteArray> ReadSecretFile(const QString& path, const char* what, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the %1 file %2: %3")
                     .arg(QString::fromLatin1(what), path, file.errorString());
        return std::nullopt;
    }
    QByteArray content = file.read(kMaxSecretFileBytes + 1);
    if (content.size() > kMaxSecretFileBytes) {
        *error = QStringLiteral("the %1 file %2 is larger than %3 bytes")
                     .arg(QString::fromLatin1(what), path, QString::number(kMaxSecretFileBytes));
        return std::nullopt;
    }
    return content;
}

// Compares in a time that does not depend on where the two differ.
bool SameSecret(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

std::optional<AccessCheck> AccessCheck::load(const QString& tokenFile, const QString& signingKeyFile,
                                             QString* error) {
    AccessCheck check;
    if (!tokenFile.isEmpty()) {
        const std::optional<QByteArray> content = ReadSecretFile(tokenFile, "token", error);
        if (!content)
            return std::nullopt;
        for (const QByteArray& line : content->split('\n')) {
            const QByteArray token = line.trimmed();
            if (!token.isEmpty() && !token.startsWith('#'))
                check.m_tokens.append(token);
        }
        if (check.m_tokens.isEmpty()) {
            *error = QStringLiteral("the token file %1 holds no token").arg(tokenFile);
            return std::nullopt;
        }
    }
    if (!signingKeyFile.isEmpty()) {
        const std::optional<QByteArray> content = ReadSecretFile(signingKeyFile, "signing key", error);
        if (!content)
            return std::nullopt;
        // An editor's final newline is not part of the key.
        QByteArray key = *content;
        while (key.endsWith('\n') || key.endsWith('\r'))
            key.chop(1);
        if (key.isEmpty()) {
            *error = QStringLiteral("the signing key file %1 is empty").arg(signingKeyFile);
            return std::nullopt;
        }
        check.m_key = key;
    }
    return check;
}

std::optional<AccessCheck::Refusal> AccessCheck::checkToken(QByteArrayView authorization) const {
    if (m_tokens.isEmpty())
        return std::nullopt;
    constexpr QByteArrayView kScheme = "Bearer ";
    const QByteArray header = authorization.toByteArray().trimmed();
    if (header.isEmpty())
        return Refusal{401, QStringLiteral("this server needs a token: Authorization: Bearer <token>")};
    if (header.size() <= kScheme.size() ||
        header.first(kScheme.size()).compare(kScheme, Qt::CaseInsensitive) != 0)
        return Refusal{401, QStringLiteral("the Authorization header is not a Bearer token")};
    const QByteArrayView given = QByteArrayView(header).sliced(kScheme.size()).trimmed();
    bool known = false;
    for (const QByteArray& token : m_tokens)
        known = SameSecret(given, token) || known;  // every token compared, whichever matches
    if (!known)
        return Refusal{403, QStringLiteral("the token is not one this server takes")};
    return std::nullopt;
}

std::optional<AccessCheck::Refusal> AccessCheck::checkSignature(QByteArrayView rawQuery) const {
    if (m_key.isEmpty())
        return std::nullopt;
    constexpr QByteArrayView kSig = "sig=";
    const QByteArray query = rawQuery.toByteArray();
    qsizetype at = -1;
    if (query.startsWith(kSig))
        at = 0;
    else if (const qsizetype last = query.lastIndexOf("&sig="); last >= 0)
        at = last + 1;
    if (at < 0)
        return Refusal{403,
                       QStringLiteral("this server needs a signed address: &sig= as the last parameter")};
    const QByteArrayView given = QByteArrayView(query).sliced(at + kSig.size());
    if (given.contains('&'))
        return Refusal{403, QStringLiteral("sig must be the last parameter")};
    const QByteArrayView signedPart = QByteArrayView(query).first(at == 0 ? 0 : at - 1);
    if (!SameSecret(given, sign(m_key, signedPart)))
        return Refusal{403, QStringLiteral("the signature does not match the address")};
    return std::nullopt;
}

QByteArray AccessCheck::sign(QByteArrayView key, QByteArrayView query) {
    return QMessageAuthenticationCode::hash(query.toByteArray(), key.toByteArray(),
                                            QCryptographicHash::Sha256)
        .toHex();
}

}  // namespace lumiclip
