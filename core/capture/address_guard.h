#pragma once

#include "core/capture/address_policy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QHostInfo;

namespace lumiclip {

// The policy's checks, DNS included, for the many requests of pages: a name is resolved (never blocking
// the event loop) and refused when any of its addresses is private or when it does not resolve. Answers
// are kept for a few seconds, and requests for a name being resolved wait for that one lookup, so a page
// with a hundred images from one host resolves it once; lookups of different names run side by side.
class AddressGuard final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddressGuard)

public:
    using Verdict = std::function<void(const std::optional<QString>& refusal)>;
    // Resolves a name and calls back with the outcome; QHostInfo::lookupHost unless replaced.
    using Resolver = std::function<void(const QString& name, QObject* context,
                                        std::function<void(const QHostInfo&)> resolved)>;

    explicit AddressGuard(AddressPolicy policy, QObject* parent = nullptr);
    ~AddressGuard() override;

    const AddressPolicy& policy() const { return m_policy; }
    // done gets nullopt when the url is allowed, else the refusal ("localhost resolves to 127.0.0.1, a
    // private address"). It is called exactly once, possibly before check returns (when nothing had to
    // be resolved), and never once context is gone.
    void check(const QUrl& url, QObject* context, Verdict done);

    // Replaces how names are resolved (tests); entries cached so far are forgotten.
    void setResolver(Resolver resolver);
    // How long an answer is kept, and how many are.
    static constexpr int kCacheMs = 5000;
    static constexpr int kCacheEntries = 256;

private:
    struct Resolution {
        QList<QHostAddress> addresses;
        QString error;
        qint64 expiresAt = 0;
    };
    struct Waiter {
        QPointer<QObject> context;
        Verdict done;
    };
    void resolved(const QString& name, const QHostInfo& info);
    static std::optional<QString> judge(const QString& name, const Resolution& resolution);

    AddressPolicy m_policy;
    Resolver m_resolver;
    QHash<QString, Resolution> m_cache;
    QHash<QString, QList<Waiter>> m_pending;
    QElapsedTimer m_clock;
};

}  // namespace lumiclip
