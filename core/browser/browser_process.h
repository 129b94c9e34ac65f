#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace lumiclip {

// Where the browser program is and how it must be started.
struct BrowserExecutable {
    QString path;
    // The headless shell lays out targets at their created size; the full browser in headless mode
    // needs the viewport set explicitly and its targets in windows of their own.
    bool isHeadlessShell = true;
};

// Finds the browser: $LUMICLIP_BROWSER when set, else the headless shell, else the full browser.
// The /usr/bin launchers are shell scripts that do not exec, so the real programs are started.
BrowserExecutable FindBrowserExecutable();

// One browser process speaking the debugging protocol over two pipes (it reads fd 3 and writes fd 4),
// in a process group of its own, with a fresh profile folder. It dies with this process (parent-death
// signal). Stopping it kills the whole group and removes the profile.
class BrowserProcess final {
public:
    BrowserProcess() = default;
    ~BrowserProcess();
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    // On success our pipe ends are available from takeWriteFd()/takeReadFd(). From the first start on,
    // SIGPIPE is ignored in this process: a write to a dead browser fails with EPIPE instead.
    // extraArguments go after our own (switches the program that starts it wants for all its pages).
    bool start(const BrowserExecutable& executable, QString* error, const QStringList& extraArguments = {});
    int takeWriteFd();
    int takeReadFd();
    pid_t pid() const { return m_pid; }
    bool isRunning();
    // Kills the process group, reaps the process and removes the profile folder. Safe to call more
    // than once.
    void stop();
    // Removes profile folders left by earlier runs that were killed: only real folders of ours named
    // <prefix><pid>-XXXXXX whose pid no longer runs. Links are never followed.
    static void RemoveStaleProfiles();
    static QString ProfilePrefix();
    // The folder that holds the profile folders, private to this user: $XDG_RUNTIME_DIR when it is
    // ours and nobody else may write in it, else lumiclip/ in the user's cache folder, made with mode
    // 0700. Never the shared temporary folder. Empty, with *error set, when there is none to be had.
    static QString ProfileParent(QString* error = nullptr);

private:
    pid_t m_pid = -1;
    int m_writeFd = -1;
    int m_readFd = -1;
    bool m_reaped = true;
    QString m_profileDir;
};

}  // namespace lumiclip
