#pragma once

#include <QByteArrayView>
#include <QProcessEnvironment>

#include <functional>

namespace lumiclip {

// True when a routing table (/proc/net/route or /proc/net/ipv6_route text) has a default route that is
// up, not a reject route, on an interface other than loopback that interfaceUp accepts.
bool HasDefaultRoute(QByteArrayView ipv4Table, QByteArrayView ipv6Table,
                     const std::function<bool(QByteArrayView)>& interfaceUp);

// The machine's answer: reads the kernel's tables and asks getifaddrs which interfaces are up.
bool MachineHasInternetRoute();

// True when the environment names a proxy for the download: http_proxy, https_proxy or all_proxy, in
// lower or upper case, set and not empty. The proxy then reaches the Internet, so the machine itself may
// well have no default route.
bool ProxyConfigured(const QProcessEnvironment& environment);

}  // namespace lumiclip
