#include "core/capture/address_guard.h"

#include <QHostInfo>

namespace lumiclip {

AddressGuard::AddressGuard(AddressPolicy policy, QObject* parent)
    : QObject(parent), m_policy(std::move(policy)) {
    m_clock.start();
    setResolver({});
}

AddressGuard::~AddressGuard() = default;

void AddressGuard::setResolver(Resolver resolver) {
    if (!resolver) {
        resolver = [](const QString& name, QObject* context, std::function<void(const QHostInfo&)> resolved) {
            QHostInfo::lookupHost(name, context, std::move(resolved));
        };
    }
    m_resolver = std::move(resolver);
    m_cache.clear();
}

void AddressGuard::check(const QUrl& url, QObject* context, Verdict done) {
    QString name;
    if (std::optional<QString> refusal = CheckLiteral(url, m_policy, &name); refusal || name.isEmpty()) {
        done(refusal);
        return;
    }
    const auto cached = m_cache.constFind(name);
    if (cached != m_cache.cend() && cached->expiresAt > m_clock.elapsed()) {
        done(judge(name, *cached));
        return;
    }
    QList<Waiter>& waiting = m_pending[name];
    waiting.append(Waiter{context, std::move(done)});
    if (waiting.size() == 1) {
        m_resolver(name, this, [this, name](const QHostInfo& info) { resolved(name, info); });
    }
}

void AddressGuard::resolved(const QString& name, const QHostInfo& info) {
    Resolution resolution;
    resolution.addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || resolution.addresses.isEmpty()) {
        resolution.addresses.clear();
        resolution.error = info.errorString();
    }
    resolution.expiresAt = m_clock.elapsed() + kCacheMs;
    if (m_cache.size() >= kCacheEntries) {
        m_cache.removeIf(
            [now = m_clock.elapsed()](const auto& entry) { return entry.value().expiresAt <= now; });
        if (m_cache.size() >= kCacheEntries) {
            m_cache.clear();
        }
    }
    m_cache.insert(name, resolution);
    const std::optional<QString> verdict = judge(name, resolution);
    const QList<Waiter> waiting = m_pending.take(name);
    for (const Waiter& waiter : waiting) {
        if (waiter.context) {
            waiter.done(verdict);
        }
    }
}

std::optional<QString> AddressGuard::judge(const QString& name, const Resolution& resolution) {
    if (resolution.addresses.isEmpty()) {
        return resolution.error.isEmpty()
                   ? QStringLiteral("%1 does not resolve to any address").arg(name)
                   : QStringLiteral("%1 does not resolve to any address (%2)").arg(name, resolution.error);
    }
    for (const QHostAddress& address : resolution.addresses) {
        if (IsPrivateAddress(address)) {
            return PrivateAddressRefusal(name, address);
        }
    }
    return std::nullopt;
}

}  // namespace lumiclip
