#include "core/capture/user_address.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace lumiclip;

TEST(UserAddress, CompletesWhatPeopleTypeTheWayAnAddressBarDoes) {
    const struct {
        const char* typed;
        const char* loaded;
    } cases[] = {
        {"127.0.0.1:8080/page", "http://127.0.0.1:8080/page"},
        {"www.example.org", "http://www.example.org"},
        {"  example.org/a b  ", "http://example.org/a%20b"},
        {"localhost:3000", "http://localhost:3000"},
        {"ftp.example.org", "http://ftp.example.org"},
        // With a scheme, it goes as typed.
        {"http://example.org/a b", "http://example.org/a b"},
        {"HTTPS://example.org/", "HTTPS://example.org/"},
        {"file:///tmp/x.html", "file:///tmp/x.html"},
        {"chrome://crash", "chrome://crash"},
        {"about:blank", "about:blank"},
        {"/tmp/some page.html", "file:///tmp/some%20page.html"},
        // Nothing an address could be made of: the browser gives its own reason.
        {"", ""},
        {"not a url%20at all", "not a url%20at all"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressFromUserInput(QString::fromUtf8(c.typed)), QString::fromUtf8(c.loaded)) << c.typed;
    }
}
