#include "core/capture/address_policy.h"

#include <algorithm>
#include <array>

namespace lumiclip {

namespace {

// One part of an IPv4 host as the browser reads it: decimal, octal after a leading 0, hex after 0x;
// nullopt when it is not a number. Values beyond 32 bits are clamped: they are refused either way.
std::optional<quint64> Ipv4Number(QStringView text) {
    int radix = 10;
    if (text.size() >= 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        radix = 16;
        text = text.mid(2);
    } else if (text.size() >= 2 && text[0] == u'0') {
        radix = 8;
        text = text.mid(1);
    }
    constexpr quint64 kBeyond = quint64{1} << 33;
    quint64 value = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9') {
            digit = u - u'0';
        } else if (u >= u'a' && u <= u'f') {
            digit = u - u'a' + 10;
        } else if (u >= u'A' && u <= u'F') {
            digit = u - u'A' + 10;
        }
        if (digit < 0 || digit >= radix) {
            return std::nullopt;
        }
        value = std::min(value * static_cast<quint64>(radix) + static_cast<quint64>(digit), kBeyond);
    }
    return value;  // "0x" alone is 0, as the browser has it
}

bool InBlock(quint32 address, quint32 block, int bits) {
    const quint32 mask = bits == 0 ? 0 : ~quint32{0} << (32 - bits);
    return (address & mask) == (block & mask);
}

constexpr quint32 Ip(quint32 a, quint32 b, quint32 c, quint32 d) {
    return a << 24 | b << 16 | c << 8 | d;
}

bool IsPrivateIpv4(quint32 a) {
    struct Block {
        quint32 base;
        int bits;
    };
    static constexpr std::array kBlocks{
        Block{Ip(0, 0, 0, 0), 8},        // "this network", 0.0.0.0 included
        Block{Ip(10, 0, 0, 0), 8},       // private
        Block{Ip(100, 64, 0, 0), 10},    // shared address space (carrier-grade NAT)
        Block{Ip(127, 0, 0, 0), 8},      // loopback
        Block{Ip(169, 254, 0, 0), 16},   // link-local, where clouds keep their metadata service
        Block{Ip(172, 16, 0, 0), 12},    // private
        Block{Ip(192, 0, 0, 0), 24},     // protocol assignments (NAT64 discovery, DS-Lite, ...)
        Block{Ip(192, 0, 2, 0), 24},     // documentation
        Block{Ip(192, 88, 99, 0), 24},   // 6to4 relays, withdrawn
        Block{Ip(192, 168, 0, 0), 16},   // private
        Block{Ip(198, 18, 0, 0), 15},    // benchmarking
        Block{Ip(198, 51, 100, 0), 24},  // documentation
        Block{Ip(203, 0, 113, 0), 24},   // documentation
        Block{Ip(224, 0, 0, 0), 4},      // multicast
        Block{Ip(240, 0, 0, 0), 4},      // reserved, the broadcast address included
    };
    for (const Block& block : kBlocks) {
        if (InBlock(a, block.base, block.bits)) {
            return true;
        }
    }
    return false;
}

quint32 Ipv4At(const Q_IPV6ADDR& a, int at) {
    return quint32{a[at]} << 24 | quint32{a[at + 1]} << 16 | quint32{a[at + 2]} << 8 | quint32{a[at + 3]};
}

bool HasPrefix(const Q_IPV6ADDR& a, std::initializer_list<quint8> bytes, int bits) {
    int index = 0;
    for (const quint8 byte : bytes) {
        const int left = bits - index * 8;
        if (left <= 0) {
            break;
        }
        const quint8 mask = left >= 8 ? 0xff : static_cast<quint8>(0xff << (8 - left));
        if ((a[index] & mask) != (byte & mask)) {
            return false;
        }
        ++index;
    }
    return true;
}

bool IsPrivateIpv6(const Q_IPV6ADDR& a) {
    bool zeroFirst96 = true;
    for (int i = 0; i < 12; ++i) {
        zeroFirst96 = zeroFirst96 && a[i] == 0;
    }
    // ::, ::1 and the IPv4-compatible ::a.b.c.d: the first two are "this network" and loopback within
    // the IPv4 judged below.
    if (zeroFirst96) {
        const quint32 v4 = Ipv4At(a, 12);
        return v4 <= 1 || IsPrivateIpv4(v4);
    }
    if (HasPrefix(a, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff}, 96) ||        // IPv4-mapped
        HasPrefix(a, {0x00, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}, 96)) {  // NAT64
        return IsPrivateIpv4(Ipv4At(a, 12));
    }
    if (HasPrefix(a, {0x20, 0x02}, 16)) {  // 6to4: the IPv4 address follows the prefix
        return IsPrivateIpv4(Ipv4At(a, 2));
    }
    struct Block {
        std::initializer_list<quint8> prefix;
        int bits = 0;
    };
    const std::array blocks{
        Block{{0x00, 0x64, 0xff, 0x9b, 0x00, 0x01}, 48},  // NAT64 for local use
        Block{{0x01, 0x00, 0, 0, 0, 0, 0, 0}, 64},        // discard-only
        Block{{0x20, 0x01, 0x00, 0x00}, 32},              // Teredo: it tunnels to an IPv4 address
        Block{{0x20, 0x01, 0x00, 0x02, 0x00, 0x00}, 48},  // benchmarking
        Block{{0x20, 0x01, 0x0d, 0xb8}, 32},              // documentation
        Block{{0x3f, 0xff}, 20},                          // documentation
        Block{{0xfc}, 7},                                 // unique local
        Block{{0xfe, 0x80}, 10},                          // link-local
        Block{{0xfe, 0xc0}, 10},                          // site-local, withdrawn but still routed so
        Block{{0xff}, 8},                                 // multicast
    };
    for (const Block& block : blocks) {
        if (HasPrefix(a, block.prefix, block.bits)) {
            return true;
        }
    }
    return false;
}

int DefaultPort(const QString& scheme) {
    return scheme == QStringLiteral("https") ? 443 : 80;
}

// The browser resolves these itself, to loopback, whatever DNS says.
bool IsLocalhostName(const QString& name) {
    return name == QStringLiteral("localhost") || name.endsWith(QStringLiteral(".localhost"));
}

QString Canonical(const QHostAddress& address) {
    QHostAddress bare = address;
    bare.setScopeId({});
    return bare.toString();
}

}  // namespace

bool IsPrivateAddress(const QHostAddress& address) {
    switch (address.protocol()) {
        case QAbstractSocket::IPv4Protocol:
            return IsPrivateIpv4(address.toIPv4Address());
        case QAbstractSocket::IPv6Protocol:
            return IsPrivateIpv6(address.toIPv6Address());
        default:
            return true;  // not an address one can tell anything of
    }
}

UrlHost ParseUrlHost(const QString& host) {
    UrlHost parsed;
    QString text = host.toLower();
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'))) {
        text = text.mid(1, text.size() - 2);
    }
    if (text.contains(QLatin1Char(':'))) {
        text.replace(QStringLiteral("%25"), QStringLiteral("%"));  // a zone, as a URL spells it
        if (parsed.address.setAddress(text) && parsed.address.protocol() == QAbstractSocket::IPv6Protocol) {
            parsed.kind = UrlHost::Kind::Address;
        }
        return parsed;
    }
    if (text.isEmpty()) {
        return parsed;
    }
    QList<QStringView> parts = QStringView(text).split(QLatin1Char('.'));
    if (parts.size() > 1 && parts.last().isEmpty()) {
        parts.removeLast();  // a trailing dot changes nothing
    }
    // Whether the browser takes it for an IPv4 address: when its last part is a number. It is then one,
    // or the address is invalid.
    const QStringView last = parts.last();
    const bool digits = !last.isEmpty() &&
                        std::all_of(last.begin(), last.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!digits && !Ipv4Number(last)) {
        parsed.kind = UrlHost::Kind::Name;
        parsed.name = text.endsWith(QLatin1Char('.')) ? text.chopped(1) : text;
        return parsed;
    }
    if (parts.size() > 4) {
        return parsed;
    }
    quint64 address = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const std::optional<quint64> number = parts[i].isEmpty() ? std::nullopt : Ipv4Number(parts[i]);
        if (!number) {
            return parsed;
        }
        const bool isLast = i == parts.size() - 1;
        // The last part fills the bytes the others leave: 127.1 is 127.0.0.1.
        const int bytes = isLast ? static_cast<int>(5 - parts.size()) : 1;
        if (*number >= (quint64{1} << (8 * bytes))) {
            return parsed;
        }
        address += isLast ? *number : *number << (8 * (3 - i));
    }
    parsed.kind = UrlHost::Kind::Address;
    parsed.address = QHostAddress(static_cast<quint32>(address));
    return parsed;
}

std::optional<AllowedHost> ParseAllowedHost(const QString& text, QString* error) {
    const auto refuse = [&](const QString& why) -> std::optional<AllowedHost> {
        if (error) {
            *error = QStringLiteral("--allow: %1 %2").arg(text, why);
        }
        return std::nullopt;
    };
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return refuse(QStringLiteral("has no closing ]"));
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':'))) {
            return refuse(QStringLiteral("is not a host, HOST or HOST:PORT"));
        }
        port = rest.mid(1);
        if (rest == QStringLiteral(":")) {
            return refuse(QStringLiteral("has no port after the colon"));
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        host = text.section(QLatin1Char(':'), 0, 0);
        port = text.section(QLatin1Char(':'), 1);
        if (port.isEmpty()) {
            return refuse(QStringLiteral("has no port after the colon"));
        }
    }
    AllowedHost allowed;
    if (!port.isEmpty()) {
        bool ok = false;
        allowed.port = port.toInt(&ok);
        const bool digitsOnly =
            std::all_of(port.begin(), port.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!ok || !digitsOnly || allowed.port < 1 || allowed.port > 65535) {
            return refuse(QStringLiteral("has no port from 1 to 65535"));
        }
    }
    // The host as a URL would hold it: decoded names in their ASCII form, lowercase.
    static const QString kNotInHosts = QStringLiteral("/?#@\\%[] \t");
    const bool bracketed = text.startsWith(QLatin1Char('['));
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host, QUrl::StrictMode);
    if (host.isEmpty() || !url.isValid() || url.host().isEmpty() ||
        std::any_of(host.begin(), host.end(),
                    [](QChar c) { return kNotInHosts.contains(c) || c.unicode() < 0x20; })) {
        return refuse(QStringLiteral("is not a host, HOST or HOST:PORT"));
    }
    const UrlHost parsed = ParseUrlHost(url.host(QUrl::FullyEncoded));
    if (parsed.kind == UrlHost::Kind::Invalid || (bracketed && parsed.kind != UrlHost::Kind::Address)) {
        return refuse(QStringLiteral("is not a host, HOST or HOST:PORT"));
    }
    allowed.host = parsed.kind == UrlHost::Kind::Address ? Canonical(parsed.address) : parsed.name;
    return allowed;
}

std::optional<QString> CheckLiteral(const QUrl& url, const AddressPolicy& policy, QString* lookup) {
    if (lookup) {
        lookup->clear();
    }
    if (!policy.guarded) {
        return std::nullopt;
    }
    const QString scheme = url.scheme().toLower();
    // Addresses that never leave the browser: what they hold came from the page or the browser itself.
    if (scheme == QStringLiteral("data") || scheme == QStringLiteral("blob") ||
        scheme == QStringLiteral("about")) {
        return std::nullopt;
    }
    if (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) {
        return QStringLiteral("%1 addresses are refused: only http and https are loaded")
            .arg(scheme.isEmpty() ? QStringLiteral("scheme-less") : scheme + QLatin1Char(':'));
    }
    const QString encoded = url.host(QUrl::FullyEncoded);
    if (!url.isValid() || encoded.isEmpty()) {
        return QStringLiteral("the address has no valid host");
    }
    const UrlHost host = ParseUrlHost(encoded);
    if (host.kind == UrlHost::Kind::Invalid) {
        return QStringLiteral("%1 is not a valid host").arg(encoded);
    }
    if (policy.allowPrivate) {
        return std::nullopt;
    }
    const QString written = host.kind == UrlHost::Kind::Address ? Canonical(host.address) : host.name;
    const int port = url.port(DefaultPort(scheme));
    for (const AllowedHost& allowed : policy.allowed) {
        if (allowed.host == written && (allowed.port == 0 || allowed.port == port)) {
            return std::nullopt;
        }
    }
    if (host.kind == UrlHost::Kind::Address) {
        if (IsPrivateAddress(host.address)) {
            return PrivateAddressRefusal(written, host.address);
        }
        return std::nullopt;
    }
    if (IsLocalhostName(host.name)) {
        return PrivateAddressRefusal(host.name, QHostAddress(QHostAddress::LocalHost));
    }
    if (lookup) {
        *lookup = host.name;
    }
    return std::nullopt;
}

QString PrivateAddressRefusal(const QString& host, const QHostAddress& address) {
    const QString canonical = Canonical(address);
    if (host == canonical) {
        return QStringLiteral("%1 is a private address").arg(host);
    }
    return QStringLiteral("%1 resolves to %2, a private address").arg(host, canonical);
}

}  // namespace lumiclip
