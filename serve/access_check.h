#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace lumiclip {

// Who may ask the service: with a token file, every request carries "Authorization: Bearer <token>"
// (one of the file's lines, so a token can be rotated without a gap); with a signing key, a capture's
// query ends in "&sig=<hex>", the HMAC-SHA256 under the key of everything before it, so that an <img>
// address can be public while the key is not. Neither: everyone may.
class AccessCheck final {
public:
    struct Refusal {
        int status = 0;  // 401 (no credentials), 403 (wrong ones)
        QString message;
    };

    // Reads the files named (either may be empty: that check is off). nullopt with *error naming the
    // file and the fault when one cannot be read, is empty, or is larger than a key has any need to be.
    static std::optional<AccessCheck> load(const QString& tokenFile, const QString& signingKeyFile,
                                           QString* error);

    bool needsToken() const { return !m_tokens.isEmpty(); }
    bool needsSignature() const { return !m_key.isEmpty(); }

    // The request's Authorization header (empty when it has none) against the tokens.
    std::optional<Refusal> checkToken(QByteArrayView authorization) const;
    // A capture's raw query string, as it came (still percent-encoded), against the signing key.
    std::optional<Refusal> checkSignature(QByteArrayView rawQuery) const;

    // The signature of a query under a key, as a client computes it: lowercase hex.
    static QByteArray sign(QByteArrayView key, QByteArrayView query);

private:
    QList<QByteArray> m_tokens;
    QByteArray m_key;
};

}  // namespace lumiclip
