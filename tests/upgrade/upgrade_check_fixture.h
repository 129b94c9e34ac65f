#pragma once

#include "core/upgrade/upgrade_checker.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace lumiclip::test {

// A version check against the local server: no proxy of the machine running the tests counts, and the
// current folder, where the check makes its temporary file, is a fresh one.
class UpgradeCheckFixture : public ::testing::Test {
protected:
    static constexpr const char* kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                      "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};

    void SetUp() override {
        // The local server is reached directly.
        qputenv("no_proxy", "*");
        for (const char* name : kProxyVariables) {
            if (qEnvironmentVariableIsSet(name)) {
                m_proxies.emplace_back(name, qgetenv(name));
            }
            qunsetenv(name);
        }
        m_previousDir = QDir::currentPath();
        ASSERT_TRUE(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
    }
    void TearDown() override {
        for (const char* name : kProxyVariables) {
            qunsetenv(name);
        }
        for (const auto& [name, value] : m_proxies) {
            qputenv(name, value);
        }
        QDir::setCurrent(m_previousDir);
    }

    UpgradeCheckerOptions options() const {
        UpgradeCheckerOptions o;
        o.connectionTest = [] { return true; };
        o.connectTimeoutMs = 1000;
        o.totalTimeoutMs = 1500;
        return o;
    }

    QStringList cuaFiles() const {
        return QDir(m_dir.path()).entryList({QStringLiteral("CUA*")}, QDir::Files);
    }

    TestHttpServer m_server;
    QTemporaryDir m_dir;
    QString m_previousDir;
    std::vector<std::pair<const char*, QByteArray>> m_proxies;
};

}  // namespace lumiclip::test
