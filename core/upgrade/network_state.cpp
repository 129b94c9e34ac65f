#include "core/upgrade/network_state.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ifaddrs.h>
#include <net/if.h>

namespace lumiclip {

namespace {

constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kRouteReject = 0x0200;

bool usable(const QByteArray& iface, unsigned flags, const std::function<bool(QByteArrayView)>& up) {
    return (flags & kRouteUp) != 0 && (flags & kRouteReject) == 0 && iface != "lo" && up(iface);
}

QList<QByteArray> fields(const QByteArray& line) {
    return line.simplified().split(' ');
}

}  // namespace

bool HasDefaultRoute(QByteArrayView ipv4Table, QByteArrayView ipv6Table,
                     const std::function<bool(QByteArrayView)>& interfaceUp) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    const QList<QByteArray> v4 = ipv4Table.toByteArray().split('\n');
    for (qsizetype i = 1; i < v4.size(); ++i) {
        const QList<QByteArray> f = fields(v4[i]);
        if (f.size() < 8) {
            continue;
        }
        bool ok = false;
        const unsigned flags = f[3].toUInt(&ok, 16);
        if (ok && f[1].toUInt(nullptr, 16) == 0 && f[1] == "00000000" && f[7] == "00000000" &&
            usable(f[0], flags, interfaceUp)) {
            return true;
        }
    }
    // dest plen src plen nexthop metric refcnt use flags iface
    for (const QByteArray& line : ipv6Table.toByteArray().split('\n')) {
        const QList<QByteArray> f = fields(line);
        if (f.size() < 10) {
            continue;
        }
        bool ok = false;
        const unsigned flags = f[8].toUInt(&ok, 16);
        if (ok && f[0] == QByteArray(32, '0') && f[1] == "00" && usable(f[9], flags, interfaceUp)) {
            return true;
        }
    }
    return false;
}

bool MachineHasInternetRoute() {
    auto readAll = [](const char* path) {
        QFile file(QString::fromLatin1(path));
        return file.open(QIODevice::ReadOnly) ? file.read(1 << 20) : QByteArray();
    };
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    auto up = [list](QByteArrayView name) {
        for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
            if (a->ifa_name != nullptr && name == QByteArrayView(a->ifa_name) &&
                (a->ifa_flags & IFF_UP) != 0 && (a->ifa_flags & IFF_LOOPBACK) == 0) {
                return true;
            }
        }
        return false;
    };
    const bool result = HasDefaultRoute(readAll("/proc/net/route"), readAll("/proc/net/ipv6_route"), up);
    freeifaddrs(list);
    return result;
}

bool ProxyConfigured(const QProcessEnvironment& environment) {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy"}) {
        const QString lower = QString::fromLatin1(name);
        if (!environment.value(lower).isEmpty() || !environment.value(lower.toUpper()).isEmpty()) {
            return true;
        }
    }
    return false;
}

}  // namespace lumiclip
