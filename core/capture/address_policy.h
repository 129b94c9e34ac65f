#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace lumiclip {

// A host a guarded page may reach whatever its address: the service's --allow HOST[:PORT].
struct AllowedHost {
    // Lowercase, in its ASCII form, no trailing dot; an IP literal in its canonical form ("127.0.0.1",
    // "::1", without brackets).
    QString host;
    // 0: any port.
    int port = 0;

    bool operator==(const AllowedHost&) const = default;
};

// "example.org", "example.org:8080", "10.0.0.7:80", "[fd00::1]:8080" (a bare "fd00::1" too). nullopt with
// *error naming the value when it is not a host with an optional port from 1 to 65535.
std::optional<AllowedHost> ParseAllowedHost(const QString& text, QString* error);

// Which addresses a page may reach. Unguarded, nothing is checked: the desktop program and the
// command-line tool load what their user asks for, local servers included. Guarded, a page reaches no
// private address (IsPrivateAddress) with any of its requests, and nothing but http and https.
struct AddressPolicy {
    bool guarded = false;
    // Guarded, yet private addresses too: only the scheme is checked.
    bool allowPrivate = false;
    // Hosts reached without any check of their addresses.
    QList<AllowedHost> allowed;

    bool operator==(const AddressPolicy&) const = default;
};

// Whether a connection to the address could reach something that is not the public Internet: loopback,
// the private ranges, link-local (the cloud metadata service included), shared address space,
// multicast, unspecified, reserved and special-purpose blocks, and IPv6 forms that carry an IPv4 address,
// judged by that address.
bool IsPrivateAddress(const QHostAddress& address);

// A URL host as the browser reads it: an IPv4 address in any spelling it accepts (2130706433, 0x7f.1,
// 0177.0.0.1, 127.1, a trailing dot), an IPv6 literal, or a name. An IPv4-looking host the browser
// refuses (1.2.3.4.5, 09, 256.1.1.1) is invalid.
struct UrlHost {
    enum class Kind { Invalid, Address, Name };
    Kind kind = Kind::Invalid;
    QHostAddress address;
    // Kind::Name: lowercase ASCII, trailing dot removed.
    QString name;
};
UrlHost ParseUrlHost(const QString& host);

// What can be told without asking DNS. A refusal's message when the policy refuses the address for its
// scheme, its host (not valid, a private IP literal, a localhost name) or its lack of one; nullopt when
// it is allowed, or when it depends on what a name resolves to: *lookup is then that name (else it is
// cleared). Unguarded policies allow everything.
std::optional<QString> CheckLiteral(const QUrl& url, const AddressPolicy& policy, QString* lookup = nullptr);

// The refusal of a host for one of its addresses: "localhost resolves to 127.0.0.1, a private address".
QString PrivateAddressRefusal(const QString& host, const QHostAddress& address);

}  // namespace lumiclip
