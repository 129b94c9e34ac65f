// Which addresses a guarded page may reach, decided without the browser: the ranges, the spellings of
// hosts, --allow, and the guard's lookups with a resolver played by the test.
#include "core/capture/address_guard.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QHostInfo>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

AddressPolicy Guarded(QList<AllowedHost> allowed = {}) {
    AddressPolicy policy;
    policy.guarded = true;
    policy.allowed = std::move(allowed);
    return policy;
}

QString Refusal(const char* url, const AddressPolicy& policy = Guarded(), QString* lookup = nullptr) {
    return CheckLiteral(QUrl(QString::fromUtf8(url)), policy, lookup).value_or(QString());
}

}  // namespace

TEST(AddressPolicy, PrivateAndSpecialPurposeRangesAreToldFromPublicOnes) {
    const struct {
        const char* address;
        bool isPrivate;
    } cases[] = {
        {"127.0.0.1", true},
        {"127.255.255.254", true},
        {"10.1.2.3", true},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.32.0.1", false},
        {"172.15.255.255", false},
        {"192.168.1.1", true},
        {"169.254.169.254", true},
        {"100.64.0.1", true},
        {"100.127.255.255", true},
        {"100.128.0.1", false},
        {"0.0.0.0", true},
        {"0.1.2.3", true},
        {"255.255.255.255", true},
        {"240.0.0.1", true},
        {"224.0.0.251", true},
        {"239.255.255.250", true},
        {"192.0.0.170", true},
        {"192.0.2.1", true},
        {"198.51.100.7", true},
        {"203.0.113.9", true},
        {"198.18.0.1", true},
        {"198.19.255.255", true},
        {"198.20.0.1", false},
        {"192.88.99.1", true},
        {"8.8.8.8", false},
        {"1.1.1.1", false},
        {"93.184.216.34", false},
        {"223.255.255.255", false},
        {"::1", true},
        {"::", true},
        {"fe80::1", true},
        {"febf::1", true},
        {"fec0::1", true},
        {"fc00::1", true},
        {"fd12:3456::1", true},
        {"ff02::1", true},
        {"2001:db8::1", true},
        {"100::1", true},
        {"2001::1", true},
        {"64:ff9b:1::1", true},
        {"2606:4700::1111", false},
        {"2a00:1450:4001::200e", false},
        // IPv6 that carries IPv4: the IPv4 inside decides.
        {"::ffff:127.0.0.1", true},
        {"::ffff:7f00:1", true},
        {"::ffff:169.254.169.254", true},
        {"::ffff:8.8.8.8", false},
        {"::127.0.0.1", true},
        {"::10.0.0.1", true},
        {"::8.8.8.8", false},
        {"64:ff9b::10.0.0.1", true},
        {"64:ff9b::8.8.8.8", false},
        {"2002:7f00:1::", true},
        {"2002:a9fe:a9fe::1", true},
        {"2002:808:808::1", false},
    };
    for (const auto& c : cases) {
        const QHostAddress address(QString::fromLatin1(c.address));
        ASSERT_FALSE(address.isNull()) << c.address;
        EXPECT_EQ(IsPrivateAddress(address), c.isPrivate) << c.address;
    }
    EXPECT_TRUE(IsPrivateAddress(QHostAddress()));  // nothing to judge is nothing to allow
}

TEST(AddressPolicy, HostsAreReadAsTheBrowserReadsThemWhateverTheirSpelling) {
    const struct {
        const char* host;
        UrlHost::Kind kind;
        const char* value;  // the address, or the name
    } cases[] = {
        {"2130706433", UrlHost::Kind::Address, "127.0.0.1"},
        {"0x7f.1", UrlHost::Kind::Address, "127.0.0.1"},
        {"0177.0.0.1", UrlHost::Kind::Address, "127.0.0.1"},
        {"127.1", UrlHost::Kind::Address, "127.0.0.1"},
        {"127.0.0.1.", UrlHost::Kind::Address, "127.0.0.1"},
        {"2130706433.", UrlHost::Kind::Address, "127.0.0.1"},
        {"0x7F000001", UrlHost::Kind::Address, "127.0.0.1"},
        {"0xA9.0376.43518", UrlHost::Kind::Address, "169.254.169.254"},
        {"0x0000000000a9.254.169.254", UrlHost::Kind::Address, "169.254.169.254"},
        {"0", UrlHost::Kind::Address, "0.0.0.0"},
        {"0x", UrlHost::Kind::Address, "0.0.0.0"},
        {"1.2.3", UrlHost::Kind::Address, "1.2.0.3"},
        {"[::ffff:7f00:1]", UrlHost::Kind::Address, "::ffff:127.0.0.1"},
        {"::1", UrlHost::Kind::Address, "::1"},
        {"LOCALHOST.", UrlHost::Kind::Name, "localhost"},
        {"Example.ORG", UrlHost::Kind::Name, "example.org"},
        {"1.2.3.x", UrlHost::Kind::Name, "1.2.3.x"},
        {"0x7f.example", UrlHost::Kind::Name, "0x7f.example"},
        // Numbers the browser refuses to read as an address: such a URL is no URL to it.
        {"1.2.3.4.5", UrlHost::Kind::Invalid, ""},
        {"256.0.0.1", UrlHost::Kind::Invalid, ""},
        {"1.2.65536", UrlHost::Kind::Invalid, ""},
        {"4294967296", UrlHost::Kind::Invalid, ""},
        {"09", UrlHost::Kind::Invalid, ""},
        {"1..1", UrlHost::Kind::Invalid, ""},
        {"::zz", UrlHost::Kind::Invalid, ""},
        {"", UrlHost::Kind::Invalid, ""},
    };
    for (const auto& c : cases) {
        const UrlHost host = ParseUrlHost(QString::fromLatin1(c.host));
        EXPECT_EQ(host.kind, c.kind) << c.host;
        if (c.kind == UrlHost::Kind::Address) {
            EXPECT_EQ(host.address, QHostAddress(QString::fromLatin1(c.value))) << c.host;
        } else if (c.kind == UrlHost::Kind::Name) {
            EXPECT_EQ(host.name, QString::fromLatin1(c.value)) << c.host;
        }
    }
}

TEST(AddressPolicy, OddSpellingsOfPrivateAddressesAreRefusedWithoutDns) {
    const char* urls[] = {
        "http://2130706433/",
        "http://0x7f.1/",
        "http://0177.0.0.1/",
        "http://127.1/",
        "http://[::ffff:127.0.0.1]/",
        "http://[::ffff:7f00:1]/",
        "http://127.0.0.1./",
        "HTTP://127.0.0.1:8080/",
        "http://[::1]:80/",
        "http://%31%32%37.0.0.1/",
        "http://169.254.169.254/latest/meta-data/",
        "https://0xa9fea9fe/",
        "http://0/",
        "http://[fe80::1%25eth0]/",
        "http://user:pw@10.0.0.1/",
        "http://localhost/",
        "http://LocalHost.:9/",
        "http://api.localhost/",
    };
    for (const char* url : urls) {
        QString lookup = QStringLiteral("stale");
        EXPECT_TRUE(Refusal(url, Guarded(), &lookup).contains(QStringLiteral("a private address"))) << url;
        EXPECT_TRUE(lookup.isEmpty()) << url;
    }
    EXPECT_EQ(Refusal("http://0x7f.1/"), QStringLiteral("127.0.0.1 is a private address"));
    EXPECT_EQ(Refusal("http://localhost:8080/"),
              QStringLiteral("localhost resolves to 127.0.0.1, a private address"));
    // What the browser would not load is not loaded either, whatever it would have been.
    EXPECT_EQ(Refusal("http://1.2.3.4.5/"), QStringLiteral("1.2.3.4.5 is not a valid host"));
}

TEST(AddressPolicy, OnlyWebAddressesLeaveTheBrowserAndNamesAreLeftToTheLookup) {
    for (const char* url :
         {"file:///etc/passwd", "ftp://example.org/", "ws://example.org/", "wss://example.org/",
          "chrome://version/", "chrome-extension://abc/x.js", "devtools://devtools/x",
          "filesystem:http://example.org/temporary/x", "gopher://example.org/", "x"}) {
        EXPECT_TRUE(Refusal(url).contains(QStringLiteral("only http and https"))) << url;
    }
    EXPECT_EQ(Refusal("file:///etc/passwd"),
              QStringLiteral("file: addresses are refused: only http and https are loaded"));
    for (const char* url : {"data:text/plain,hi", "blob:http://127.0.0.1/1b3c", "about:blank", "about:srcdoc",
                            "https://93.184.216.34/", "http://[2606:4700::1111]/"}) {
        QString lookup;
        EXPECT_EQ(Refusal(url, Guarded(), &lookup), QString()) << url;
        EXPECT_TRUE(lookup.isEmpty()) << url;
    }
    QString lookup;
    EXPECT_EQ(Refusal("https://Example.ORG./page", Guarded(), &lookup), QString());
    EXPECT_EQ(lookup, QStringLiteral("example.org"));
    EXPECT_EQ(Refusal("http://bücher.example/", Guarded(), &lookup), QString());
    EXPECT_EQ(lookup, QStringLiteral("xn--bcher-kva.example"));

    // Unguarded, nothing is checked; private addresses allowed, only the scheme is.
    EXPECT_EQ(Refusal("file:///etc/passwd", AddressPolicy{}), QString());
    AddressPolicy open = Guarded();
    open.allowPrivate = true;
    EXPECT_EQ(Refusal("http://127.0.0.1/", open, &lookup), QString());
    EXPECT_TRUE(lookup.isEmpty());
    EXPECT_FALSE(Refusal("file:///etc/passwd", open).isEmpty());
}

TEST(AddressPolicy, AllowOpensOneHostAtItsPortAsWrittenOrAsTheSameLiteral) {
    QString error;
    const struct {
        const char* text;
        const char* host;
        int port;
    } good[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080},
        {"Intranet.Example.", "intranet.example", 0},
        {"localhost:3000", "localhost", 3000},
        {"[::1]:8080", "::1", 8080},
        {"[::FFFF:7f00:1]", "::ffff:127.0.0.1", 0},
        {"fd00::7", "fd00::7", 0},
        {"0x7f.1:80", "127.0.0.1", 80},
        {"bücher.example:443", "xn--bcher-kva.example", 443},
    };
    for (const auto& c : good) {
        const std::optional<AllowedHost> allowed = ParseAllowedHost(QString::fromUtf8(c.text), &error);
        ASSERT_TRUE(allowed) << c.text << ": " << error.toStdString();
        EXPECT_EQ(*allowed, (AllowedHost{QString::fromUtf8(c.host), c.port})) << c.text;
    }
    for (const char* bad :
         {"", ":80", "host:", "host:0", "host:65536", "host:8o", "host:+80", "http://host", "host/path",
          "user@host", "[::1", "[::1]x", "[example.org]:80", "ho st", "1.2.3.4.5", "[::1]:"}) {
        error.clear();
        EXPECT_FALSE(ParseAllowedHost(QString::fromUtf8(bad), &error)) << bad;
        EXPECT_TRUE(error.startsWith(QStringLiteral("--allow: %1 ").arg(QString::fromUtf8(bad))))
            << error.toStdString();
    }

    const AddressPolicy policy = Guarded({{QStringLiteral("127.0.0.1"), 8080},
                                          {QStringLiteral("localhost"), 0},
                                          {QStringLiteral("::1"), 443}});
    QString lookup;
    for (const char* allowed :
         {"http://127.0.0.1:8080/", "http://2130706433:8080/x", "http://127.1.:8080/", "http://localhost/",
          "http://LOCALHOST.:1234/", "https://[::1]/", "http://[::1]:443/"}) {
        EXPECT_EQ(Refusal(allowed, policy, &lookup), QString()) << allowed;
        EXPECT_TRUE(lookup.isEmpty()) << allowed;  // allowed without a lookup
    }
    for (const char* refused :
         {"http://127.0.0.1/", "https://127.0.0.1:8080.example/", "http://127.0.0.2:8080/", "http://[::1]/",
          "http://sub.localhost/", "ftp://127.0.0.1:8080/"}) {
        EXPECT_FALSE(Refusal(refused, policy).isEmpty()) << refused;
    }
}

namespace {

// A resolver whose answers the test gives, when it likes.
struct FakeDns {
    struct Lookup {
        QString name;
        std::function<void(const QHostInfo&)> resolved;
    };
    QList<Lookup> lookups;

    AddressGuard::Resolver resolver() {
        return [this](const QString& name, QObject*, std::function<void(const QHostInfo&)> resolved) {
            lookups.append({name, std::move(resolved)});
        };
    }
    // Answers the first lookup of name with these addresses (none: the name does not resolve).
    void answer(const QString& name, const QStringList& addresses) {
        for (qsizetype i = 0; i < lookups.size(); ++i) {
            if (lookups[i].name == name) {
                QHostInfo info;
                QList<QHostAddress> list;
                for (const QString& a : addresses) {
                    list.append(QHostAddress(a));
                }
                info.setAddresses(list);
                if (list.isEmpty()) {
                    info.setError(QHostInfo::HostNotFound);
                    info.setErrorString(QStringLiteral("Host not found"));
                }
                lookups.takeAt(i).resolved(info);
                return;
            }
        }
        ADD_FAILURE() << "no lookup of " << name.toStdString();
    }
};

struct Verdicts {
    QList<std::optional<QString>> got;
    AddressGuard::Verdict sink() {
        return [this](const std::optional<QString>& refusal) { got.append(refusal); };
    }
};

}  // namespace

TEST(AddressGuard, ANameIsRefusedWhenAnyOfItsAddressesIsPrivateOrItResolvesToNone) {
    AddressGuard guard(Guarded());
    FakeDns dns;
    guard.setResolver(dns.resolver());
    QObject context;
    Verdicts verdicts;
    guard.check(QUrl(QStringLiteral("http://public.example/")), &context, verdicts.sink());
    guard.check(QUrl(QStringLiteral("http://mixed.example/")), &context, verdicts.sink());
    guard.check(QUrl(QStringLiteral("http://nowhere.example/")), &context, verdicts.sink());
    guard.check(QUrl(QStringLiteral("http://127.0.0.1/")), &context, verdicts.sink());  // no lookup
    ASSERT_EQ(verdicts.got.size(), 1);
    EXPECT_EQ(verdicts.got[0], QStringLiteral("127.0.0.1 is a private address"));
    ASSERT_EQ(dns.lookups.size(), 3);

    dns.answer(QStringLiteral("mixed.example"),
               {QStringLiteral("93.184.216.34"), QStringLiteral("::ffff:10.0.0.5")});
    dns.answer(QStringLiteral("public.example"),
               {QStringLiteral("93.184.216.34"), QStringLiteral("2606:4700::1")});
    dns.answer(QStringLiteral("nowhere.example"), {});
    ASSERT_EQ(verdicts.got.size(), 4);
    EXPECT_EQ(verdicts.got[1],
              QStringLiteral("mixed.example resolves to ::ffff:10.0.0.5, a private address"));
    EXPECT_EQ(verdicts.got[2], std::nullopt);
    EXPECT_EQ(verdicts.got[3],
              QStringLiteral("nowhere.example does not resolve to any address (Host not found)"));
}

TEST(AddressGuard, OneLookupServesEveryRequestForANameAndASlowNameHoldsNoOther) {
    AddressGuard guard(Guarded());
    FakeDns dns;
    guard.setResolver(dns.resolver());
    QObject context;
    Verdicts slow;
    Verdicts images;
    guard.check(QUrl(QStringLiteral("http://slow.example/")), &context, slow.sink());
    for (int i = 0; i < 100; ++i) {
        guard.check(QUrl(QStringLiteral("http://img.example/%1.png").arg(i)), &context, images.sink());
    }
    ASSERT_EQ(dns.lookups.size(), 2);  // one for each name, side by side
    dns.answer(QStringLiteral("img.example"), {QStringLiteral("93.184.216.34")});
    EXPECT_EQ(images.got.size(), 100);
    EXPECT_TRUE(slow.got.isEmpty());
    // Answered from what was kept: no new lookup.
    guard.check(QUrl(QStringLiteral("https://img.example/late.png")), &context, images.sink());
    EXPECT_EQ(images.got.size(), 101);
    EXPECT_EQ(dns.lookups.size(), 1);
    // A check whose context has gone is never answered.
    {
        QObject gone;
        guard.check(QUrl(QStringLiteral("http://slow.example/again")), &gone, slow.sink());
    }
    dns.answer(QStringLiteral("slow.example"), {QStringLiteral("192.168.0.9")});
    ASSERT_EQ(slow.got.size(), 1);
    EXPECT_EQ(slow.got[0], QStringLiteral("slow.example resolves to 192.168.0.9, a private address"));
}

TEST(AddressGuard, AnswersAreKeptOnlyBriefly) {
    AddressGuard guard(Guarded());
    FakeDns dns;
    guard.setResolver(dns.resolver());
    QObject context;
    Verdicts verdicts;
    guard.check(QUrl(QStringLiteral("http://moving.example/")), &context, verdicts.sink());
    dns.answer(QStringLiteral("moving.example"), {QStringLiteral("93.184.216.34")});
    waitUntil([] { return false; }, AddressGuard::kCacheMs + 200);
    guard.check(QUrl(QStringLiteral("http://moving.example/")), &context, verdicts.sink());
    ASSERT_EQ(dns.lookups.size(), 1);  // asked again: the name now points inside
    dns.answer(QStringLiteral("moving.example"), {QStringLiteral("10.0.0.1")});
    ASSERT_EQ(verdicts.got.size(), 2);
    EXPECT_EQ(verdicts.got[0], std::nullopt);
    EXPECT_TRUE(verdicts.got[1].has_value());
}

TEST(AddressGuard, TheSystemResolverIsAskedWithoutHoldingTheEventLoop) {
    // The machine's own name: its hosts file gives it a loopback address, or it does not resolve.
    const QString name = QHostInfo::localHostName().toLower();
    ASSERT_FALSE(name.isEmpty());
    AddressGuard guard(Guarded());
    QObject context;
    Verdicts verdicts;
    guard.check(QUrl(QStringLiteral("http://%1/").arg(name)), &context, verdicts.sink());
    EXPECT_TRUE(verdicts.got.isEmpty());  // the answer comes later, through the event loop
    ASSERT_TRUE(waitUntil([&verdicts] { return !verdicts.got.isEmpty(); }, 20000));
    ASSERT_TRUE(verdicts.got[0].has_value());
    EXPECT_TRUE(verdicts.got[0]->startsWith(name + QLatin1Char(' '))) << verdicts.got[0]->toStdString();
}
