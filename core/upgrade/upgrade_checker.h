#pragma once

#include "core/upgrade/upgrade_check_result.h"
#include "core/upgrade/version_file_info.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace lumiclip {

struct UpgradeCheckerOptions {
    // The HTTP client library, loaded by name when the checker is made.
    QByteArray libraryName = "libcurl.so.4";
    // Whether the machine is on the Internet; null means: a non-loopback interface with a default route.
    // Not asked when the environment names a proxy.
    std::function<bool()> connectionTest;
    // Limits of the download; on either, the check reports that it cannot reach the address.
    int connectTimeoutMs = 15000;
    int totalTimeoutMs = 60000;
};

// One check for a newer version: downloads the version file into a temporary "CUA" file in the current
// folder, reads its "Version:" value and compares it with the running version. What the user is to be
// told is recorded in Results() for the caller to show; every failure records an error and ends the
// check. One checker serves one check.
class CUpgradeChecker final {
public:
    explicit CUpgradeChecker(UpgradeCheckerOptions options = {});
    ~CUpgradeChecker();
    CUpgradeChecker(const CUpgradeChecker&) = delete;
    CUpgradeChecker& operator=(const CUpgradeChecker&) = delete;

    // True exactly when a newer version was announced.
    bool CheckVersion(const QString& agent, const QString& baseUrl, const QString& fileName,
                      const QString& currentVersion);

    bool IsUnavailable() const { return m_bUnavailable; }
    // What the user is to be told, in order: an error of the constructor (the HTTP library cannot be
    // loaded), then the check's own error or its answer.
    const std::vector<UpgradeCheckResult>& Results() const { return m_results; }
    // The values read from the last version file.
    const VersionFileInfo* Latest() const { return m_pLatest.get(); }

    struct Curl;

private:
    bool Connect(const QByteArray& agent);
    bool DownloadVersionFile(const QByteArray& baseUrl, const QByteArray& fileName);
    bool ReadVersionFile(const char* path);
    bool IsNewerVersion() const;
    void AddError(const QString& text);

    UpgradeCheckerOptions m_options;
    std::unique_ptr<VersionFileInfo> m_pInstalled;
    std::unique_ptr<VersionFileInfo> m_pLatest;
    void* m_hInternet = nullptr;
    char m_szTempPath[260] = {};
    std::unique_ptr<Curl> m_curl;
    bool m_bUnavailable = false;
    bool m_bVersionFound = false;
    std::vector<UpgradeCheckResult> m_results;
};

}  // namespace lumiclip
