#include "core/upgrade/upgrade_checker.h"

#include "core/upgrade/network_state.h"
#include "core/upgrade/site_addresses.h"
#include "core/upgrade/version_compare.h"
#include "core/upgrade/version_value.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumiclip {

namespace {

// The few libcurl constants the check needs; the library is loaded at run time, so its header is not
// a build dependency. Values are part of libcurl's stable ABI.
constexpr int kOptWriteData = 10001;
constexpr int kOptUrl = 10002;
constexpr int kOptUserAgent = 10018;
constexpr int kOptWriteFunction = 20011;
constexpr int kOptFollowLocation = 52;
constexpr int kOptMaxRedirs = 68;
constexpr int kOptBufferSize = 98;
constexpr int kOptNoSignal = 99;
constexpr int kOptTimeoutMs = 155;
constexpr int kOptConnectTimeoutMs = 156;
constexpr int kOptProtocolsStr = 10318;
constexpr int kOptRedirProtocolsStr = 10319;
constexpr long kGlobalDefault = 3;

// A version file is a few lines; anything larger is not one and is not kept.
constexpr size_t kMaxVersionFileBytes = 1 << 20;

struct WriteTarget {
    int fd = -1;
    size_t total = 0;
    bool failed = false;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Each piece libcurl delivers is at most 1024 bytes (the buffer size set below).
size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    auto* target = static_cast<WriteTarget*>(user);
    const size_t bytes = size * count;
    target->total += bytes;
    if (target->total > kMaxVersionFileBytes || !writeAll(target->fd, data, bytes)) {
        target->failed = true;
        return 0;
    }
    return bytes;
}

}  // namespace

struct CUpgradeChecker::Curl {
    void* module = nullptr;
    int (*globalInit)(long) = nullptr;
    void (*globalCleanup)() = nullptr;
    void* (*easyInit)() = nullptr;
    int (*easySetopt)(void*, int, ...) = nullptr;
    int (*easyPerform)(void*) = nullptr;
    void (*easyCleanup)(void*) = nullptr;
    bool globalDone = false;

    template <typename F>
    bool resolve(F& slot, const char* name) {
        slot = reinterpret_cast<F>(dlsym(module, name));
        return slot != nullptr;
    }
};

CUpgradeChecker::CUpgradeChecker(UpgradeCheckerOptions options)
    : m_options(std::move(options)), m_curl(std::make_unique<Curl>()) {
    Curl& c = *m_curl;
    c.module = dlopen(m_options.libraryName.constData(), RTLD_NOW | RTLD_LOCAL);
    if (c.module != nullptr) {
        bool all = c.resolve(c.globalInit, "curl_global_init");
        all = c.resolve(c.globalCleanup, "curl_global_cleanup") && all;
        all = c.resolve(c.easyInit, "curl_easy_init") && all;
        all = c.resolve(c.easySetopt, "curl_easy_setopt") && all;
        all = c.resolve(c.easyPerform, "curl_easy_perform") && all;
        all = c.resolve(c.easyCleanup, "curl_easy_cleanup") && all;
        m_bUnavailable = !all;
    } else {
        m_bUnavailable = true;
    }
    if (m_bUnavailable) {
        AddError(QStringLiteral(
            "Cannot load WinInet dynamic link library!  Please ensure that IE 4.0 or greater is installed!"));
    }
}

CUpgradeChecker::~CUpgradeChecker() {
    Curl& c = *m_curl;
    if (m_hInternet != nullptr) {
        c.easyCleanup(m_hInternet);
    }
    if (c.globalDone) {
        c.globalCleanup();
    }
    if (c.module != nullptr) {
        dlclose(c.module);
    }
}

bool CUpgradeChecker::CheckVersion(const QString& agent, const QString& baseUrl, const QString& fileName,
                                   const QString& currentVersion) {
    if (m_bUnavailable) {
        AddError(QStringLiteral("IE 4.0 or greater has to be installed to use auto-upgrading!"));
        return false;
    }
    m_pInstalled = std::make_unique<VersionFileInfo>();
    m_pInstalled->version = currentVersion.toUtf8();
    m_pLatest = std::make_unique<VersionFileInfo>();
    if (!Connect(agent.toUtf8())) {
        return false;
    }
    if (!DownloadVersionFile(baseUrl.toUtf8(), fileName.toUtf8())) {
        return false;
    }
    char path[260] = {};
    std::memcpy(path, m_szTempPath, sizeof(path) - 1);
    if (!ReadVersionFile(path)) {
        return false;
    }
    std::remove(m_szTempPath);
    if (!m_bVersionFound) {
        // A server's error page or an empty answer: never compare a value that is not there.
        AddError(QStringLiteral("The version file holds no version!"));
        return false;
    }
    if (IsNewerVersion()) {
        // The version is inserted as plain text: a "%" in it stays as it is.
        const QString text = QString::fromUtf8("检查到新版本为") + QString::fromUtf8(m_pLatest->version) +
                             QString::fromUtf8("，请登陆网站") + QString::fromLatin1(kProductSite) +
                             QString::fromUtf8("，下载新版本。");
        m_results.push_back({UpgradeCheckResult::Kind::Newer, text});
        return true;
    }
    m_results.push_back(
        {UpgradeCheckResult::Kind::UpToDate, QString::fromUtf8("你使用的已经是最新版本了。")});
    return false;
}

bool CUpgradeChecker::Connect(const QByteArray& agent) {
    // Behind a proxy the machine need not have a route of its own: the proxy reaches the Internet.
    const bool connected =
        ProxyConfigured(QProcessEnvironment::systemEnvironment()) ||
        (m_options.connectionTest ? m_options.connectionTest() : MachineHasInternetRoute());
    // Linux has no dial-up service to ask for a connection, so there is nothing to fall back on.
    if (!connected) {
        AddError(QStringLiteral("This application must connect to the Internet to be upgraded!"));
        return false;
    }
    Curl& c = *m_curl;
    if (!c.globalDone) {
        c.globalDone = c.globalInit(kGlobalDefault) == 0;
    }
    m_hInternet = c.globalDone ? c.easyInit() : nullptr;
    if (m_hInternet == nullptr) {
        AddError(QStringLiteral("Cannot connect to the Internet!"));
        return false;
    }
    // libcurl copies string options, so the agent need not outlive this call.
    c.easySetopt(m_hInternet, kOptUserAgent, agent.constData());
    return true;
}

bool CUpgradeChecker::DownloadVersionFile(const QByteArray& baseUrl, const QByteArray& fileName) {
    const size_t length = static_cast<size_t>(baseUrl.size() + fileName.size()) + 2;
    std::unique_ptr<char[]> url(new (std::nothrow) char[length]);
    if (!url) {
        AddError(QStringLiteral("Cannot allocate memory to buffer!"));
        return false;
    }
    std::snprintf(url.get(), length, "%s/%s", baseUrl.constData(), fileName.constData());

    // The file is made before the transfer starts, since libcurl delivers the body while it runs.
    std::strcpy(m_szTempPath, "./CUAXXXXXX");
    const int fd = mkostemp(m_szTempPath, O_CLOEXEC);
    if (fd < 0) {
        m_szTempPath[0] = '\0';
        AddError(QStringLiteral("Cannot create a temporary file!"));
        return false;
    }

    Curl& c = *m_curl;
    WriteTarget target;
    target.fd = fd;
    void* h = m_hInternet;
    c.easySetopt(h, kOptUrl, url.get());
    c.easySetopt(h, kOptWriteFunction, &writeToFile);
    c.easySetopt(h, kOptWriteData, static_cast<void*>(&target));
    c.easySetopt(h, kOptBufferSize, 1024L);
    c.easySetopt(h, kOptNoSignal, 1L);
    c.easySetopt(h, kOptFollowLocation, 1L);
    c.easySetopt(h, kOptMaxRedirs, 5L);
    c.easySetopt(h, kOptProtocolsStr, "http,https");
    c.easySetopt(h, kOptRedirProtocolsStr, "http,https");
    c.easySetopt(h, kOptConnectTimeoutMs, static_cast<long>(m_options.connectTimeoutMs));
    c.easySetopt(h, kOptTimeoutMs, static_cast<long>(m_options.totalTimeoutMs));
    // The status is not looked at: whatever body the server sends is the version file.
    const int result = c.easyPerform(h);
    ::close(fd);
    if (result != 0 || target.failed) {
        // A cut-off body would be read as a wrong version; the partial file is of no use to anyone.
        std::remove(m_szTempPath);
        AddError(QStringLiteral("Cannot connect to upgrade URL!"));
        return false;
    }
    return true;
}

bool CUpgradeChecker::ReadVersionFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        AddError(QStringLiteral("Cannot open downloaded version file!"));
        return false;
    }
    struct stat info {};
    const size_t size = ::fstat(fd, &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
    std::unique_ptr<char[]> content(new (std::nothrow) char[size > 0 ? size : 1]);
    if (!content) {
        ::close(fd);
        AddError(QStringLiteral("Cannot allocate memory for buffer!"));
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, content.get() + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            AddError(QStringLiteral("Cannot read from downloaded version file!"));
            return false;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    const QByteArrayView bytes(content.get(), static_cast<qsizetype>(done));
    const std::optional<QByteArray> version = FindVersionValue(bytes, "Version:");
    m_pLatest->version = version.value_or(QByteArray());
    m_pLatest->fileName = FindVersionValue(bytes, "Filename:").value_or(QByteArray());
    m_bVersionFound = version.has_value() && !version->isEmpty();
    return true;
}

bool CUpgradeChecker::IsNewerVersion() const {
    return CompareVersionText(m_pInstalled->version, m_pLatest->version) < 0;
}

void CUpgradeChecker::AddError(const QString& text) {
    m_results.push_back({UpgradeCheckResult::Kind::Error, text});
}

}  // namespace lumiclip
