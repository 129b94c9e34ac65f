#include "support/remote_shell.h"

#include "core/browser/browser_process.h"
#include "support/test_util.h"

#include <QDir>
#include <QFile>

#include <unistd.h>
#include <csignal>

namespace lumiclip::test {

RemoteShell::RemoteShell() {
    // A group of its own, so that kill() takes the renderers with it.
    m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

RemoteShell::~RemoteShell() {
    kill();
}

bool RemoteShell::start() {
    const BrowserExecutable shell = FindBrowserExecutable();
    if (shell.path.isEmpty()) {
        return false;
    }
    QStringList args{QStringLiteral("--remote-debugging-address=127.0.0.1"),
                     QStringLiteral("--remote-debugging-port=0"),
                     QStringLiteral("--user-data-dir=") + m_profile.path(),
                     QStringLiteral("--no-first-run"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"),
                     QStringLiteral("--disable-gpu"),
                     QStringLiteral("--hide-scrollbars")};
    if (!shell.isHeadlessShell) {
        args.prepend(QStringLiteral("--headless=new"));
    }
    if (::geteuid() == 0) {
        args.append(QStringLiteral("--no-sandbox"));
    }
    args.append(QStringLiteral("about:blank"));
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(shell.path, args);
    if (!m_process.waitForStarted()) {
        return false;
    }
    const QString portFile = QDir(m_profile.path()).filePath(QStringLiteral("DevToolsActivePort"));
    const bool written = waitUntil(
        [&] {
            const QList<QByteArray> lines = readFile(portFile).split('\n');
            return lines.size() >= 2 && lines[0].toInt() > 0 && lines[1].startsWith("/devtools/browser/");
        },
        20000);
    if (!written) {
        return false;
    }
    const QList<QByteArray> lines = readFile(portFile).split('\n');
    m_port = lines[0].toInt();
    m_socketUrl =
        QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(QString::fromLatin1(lines[1].trimmed()));
    return true;
}

void RemoteShell::kill() {
    const qint64 pid = m_process.processId();
    if (pid > 0 && m_process.state() != QProcess::NotRunning) {
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
        m_process.waitForFinished(5000);
    }
}

}  // namespace lumiclip::test
