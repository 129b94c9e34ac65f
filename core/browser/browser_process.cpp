#include "core/browser/browser_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

namespace lumiclip {

namespace {

constexpr const char* kShellPath = "/usr/lib/chromium/chromium-headless-shell";
constexpr const char* kBrowserPath = "/usr/lib/chromium/chromium";

bool isExecutable(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A folder of this user that nobody else may write in. The runtime folder is the user's own setting
// and may be reached through a link of theirs, so stat follows it.
bool isPrivateFolder(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

BrowserExecutable FindBrowserExecutable() {
    const QString custom = qEnvironmentVariable("LUMICLIP_BROWSER");
    if (!custom.isEmpty()) {
        return {custom, custom.endsWith(QStringLiteral("headless-shell"))};
    }
    if (isExecutable(QString::fromLatin1(kShellPath))) {
        return {QString::fromLatin1(kShellPath), true};
    }
    if (isExecutable(QString::fromLatin1(kBrowserPath))) {
        return {QString::fromLatin1(kBrowserPath), false};
    }
    return {};
}

QString BrowserProcess::ProfilePrefix() {
    return QStringLiteral("lumiclip-browser-");
}

QString BrowserProcess::ProfileParent(QString* error) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime)) {
        return QDir::cleanPath(runtime);
    }
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache)) {
        cache = QDir::homePath() + QStringLiteral("/.cache");
    }
    QString folder = QDir::cleanPath(cache + QStringLiteral("/lumiclip"));
    const QByteArray path = QFile::encodeName(folder);
    const auto fail = [&](const QString& reason) {
        if (error != nullptr) {
            *error = QStringLiteral("no private folder for the browser profile: %1").arg(reason);
        }
        return QString();
    };
    QDir().mkpath(cache);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return fail(QStringLiteral("cannot create %1: %2").arg(folder, systemError()));
    }
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) {
        return fail(QStringLiteral("%1: %2").arg(folder, systemError()));
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        return fail(QStringLiteral("%1 is not a folder of this user").arg(folder));
    }
    if ((info.st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0) {
        return fail(QStringLiteral("cannot make %1 private: %2").arg(folder, systemError()));
    }
    return folder;
}

void BrowserProcess::RemoveStaleProfiles() {
    const QString parent = ProfileParent();
    if (parent.isEmpty()) {
        return;
    }
    // <prefix><pid>-XXXXXX as mkdtemp makes it, and nothing that merely starts the same way.
    static const QRegularExpression pattern(
        QStringLiteral("^%1([1-9][0-9]*)-[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(ProfilePrefix())));
    const QDir folder(parent);
    const QStringList entries =
        folder.entryList({ProfilePrefix() + QStringLiteral("*")},
                         QDir::Dirs | QDir::NoSymLinks | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        bool isNumber = false;
        const int owner = match.captured(1).toInt(&isNumber);
        if (!isNumber) {
            continue;
        }
        // Stale once its owner is gone. A live pid is left alone even if it was reused: removing a
        // folder that a running browser uses would be worse than leaving one.
        if (owner == ::getpid() || ::kill(owner, 0) == 0 || errno == EPERM) {
            continue;
        }
        // Only a real folder of ours: a link, or anything another user made, is never ours to empty.
        // The removal itself does not follow the links it meets inside.
        const QString path = folder.filePath(name);
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid()) {
            continue;
        }
        QDir(path).removeRecursively();
    }
}

BrowserProcess::~BrowserProcess() {
    stop();
}

bool BrowserProcess::start(const BrowserExecutable& executable, QString* error,
                           const QStringList& extraArguments) {
    if (executable.path.isEmpty()) {
        *error = QStringLiteral("no browser found: install chromium-headless-shell (or chromium)");
        return false;
    }
    // A write to a browser that has just died must fail with EPIPE, which closes its connection like
    // any other closed pipe, rather than end this process without a word.
    ::signal(SIGPIPE, SIG_IGN);
    // The profile holds the browser's state while it runs: kept out of the shared temporary folder,
    // where another user could plant a name of ours for us to use or to sweep.
    const QString profileParent = ProfileParent(error);
    if (profileParent.isEmpty()) {
        return false;
    }
    RemoveStaleProfiles();
    QByteArray profileTemplate = QFile::encodeName(
        QDir(profileParent)
            .filePath(ProfilePrefix() + QString::number(::getpid()) + QStringLiteral("-XXXXXX")));
    if (::mkdtemp(profileTemplate.data()) == nullptr) {
        *error = QStringLiteral("cannot create a browser profile folder in %1: %2")
                     .arg(profileParent, systemError());
        return false;
    }
    m_profileDir = QFile::decodeName(profileTemplate);

    QStringList args{
        QStringLiteral("--remote-debugging-pipe"),
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-gpu"),
        QStringLiteral("--disable-extensions"),
        QStringLiteral("--disable-breakpad"),
        QStringLiteral("--mute-audio"),
        QStringLiteral("--hide-scrollbars"),
        QStringLiteral("--password-store=basic"),
        // Several pages load at once, each in a target of its own: none of them may be treated as a
        // background tab, whose timers and renderer the browser would slow down.
        QStringLiteral("--disable-background-timer-throttling"),
        QStringLiteral("--disable-renderer-backgrounding"),
        QStringLiteral("--disable-backgrounding-occluded-windows"),
        QStringLiteral("--user-data-dir=") + m_profileDir,
    };
    args += extraArguments;
    if (!executable.isHeadlessShell) {
        args.prepend(QStringLiteral("--headless=new"));
    }
    // The browser refuses to run as root with its sandbox; a normal user keeps it.
    if (::geteuid() == 0) {
        args.append(QStringLiteral("--no-sandbox"));
    }
    // Every capture opens a target of its own. Given no address while it is driven over the pipe, the
    // headless shell opens no start page at all, which spares a renderer that would idle for the
    // browser's whole life. The full browser keeps its blank start page.
    if (!executable.isHeadlessShell) {
        args.append(QStringLiteral("about:blank"));
    }

    // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
    std::vector<std::string> argStrings;
    argStrings.push_back(executable.path.toStdString());
    for (const QString& arg : args) {
        argStrings.push_back(arg.toStdString());
    }
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (std::string& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    const bool keepLog = qEnvironmentVariableIsSet("LUMICLIP_BROWSER_LOG");

    int toBrowser[2];
    int fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(toBrowser[0]);
        ::close(toBrowser[1]);
        return false;
    }
    // The child reports a failed exec through this pipe; a successful exec closes it empty.
    int execStatus[2];
    if (::pipe2(execStatus, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        for (int fd : {toBrowser[0], toBrowser[1], fromBrowser[0], fromBrowser[1]}) {
            ::close(fd);
        }
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = QStringLiteral("fork: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        for (int fd :
             {toBrowser[0], toBrowser[1], fromBrowser[0], fromBrowser[1], execStatus[0], execStatus[1]}) {
            ::close(fd);
        }
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        // Move the browser's ends out of the way of 3 and 4 first, then into place.
        const int in = ::fcntl(toBrowser[0], F_DUPFD, 10);
        const int out = ::fcntl(fromBrowser[1], F_DUPFD, 10);
        if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0) {
            ::_exit(127);
        }
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            if (!keepLog) {
                ::dup2(devnull, 2);
            }
        }
        // Everything above 4 goes, but the status pipe, which closes itself on exec.
        const int status = ::fcntl(execStatus[1], F_DUPFD_CLOEXEC, 5);
        if (status < 0) {
            ::_exit(127);
        }
        if (status > 5) {
            ::close_range(5, static_cast<unsigned>(status) - 1, 0);
        }
        ::close_range(static_cast<unsigned>(status) + 1, ~0U, 0);
        ::execv(argv[0], argv.data());
        const int reason = errno;
        [[maybe_unused]] const ssize_t written = ::write(status, &reason, sizeof reason);
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(toBrowser[0]);
    ::close(fromBrowser[1]);
    ::close(execStatus[1]);
    int execError = 0;
    ssize_t got = 0;
    do {
        got = ::read(execStatus[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    ::close(execStatus[0]);
    if (got == static_cast<ssize_t>(sizeof execError)) {
        *error = QStringLiteral("cannot start the browser %1: %2")
                     .arg(executable.path, QString::fromLocal8Bit(std::strerror(execError)));
        ::waitpid(pid, nullptr, 0);
        ::close(toBrowser[1]);
        ::close(fromBrowser[0]);
        QDir(m_profileDir).removeRecursively();
        m_profileDir.clear();
        return false;
    }
    m_pid = pid;
    m_reaped = false;
    m_writeFd = toBrowser[1];
    m_readFd = fromBrowser[0];
    return true;
}

int BrowserProcess::takeWriteFd() {
    return std::exchange(m_writeFd, -1);
}
int BrowserProcess::takeReadFd() {
    return std::exchange(m_readFd, -1);
}

bool BrowserProcess::isRunning() {
    if (m_pid <= 0 || m_reaped) {
        return false;
    }
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_reaped = true;
        return false;
    }
    return true;
}

void BrowserProcess::stop() {
    for (int* fd : {&m_writeFd, &m_readFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    if (m_pid > 0) {
        // The renderers and helpers share the group: all of it goes now.
        ::kill(-m_pid, SIGKILL);
        if (!m_reaped) {
            ::waitpid(m_pid, nullptr, 0);
            m_reaped = true;
        }
        m_pid = -1;
    }
    if (!m_profileDir.isEmpty()) {
        QDir(m_profileDir).removeRecursively();
        m_profileDir.clear();
    }
}

}  // namespace lumiclip
