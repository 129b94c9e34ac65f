#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace lumiclip::test {

// A headless shell of its own, serving DevTools on 127.0.0.1 at a port it picks, as a browser on
// another machine would; killed with its profile when this goes.
class RemoteShell {
public:
    RemoteShell();
    ~RemoteShell();
    RemoteShell(const RemoteShell&) = delete;
    RemoteShell& operator=(const RemoteShell&) = delete;

    // Starts the shell and waits for its DevToolsActivePort; false when it did not come up.
    bool start();
    // ws://127.0.0.1:PORT/devtools/browser/ID
    QString socketUrl() const { return m_socketUrl; }
    // http://127.0.0.1:PORT
    QString httpUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // Kills the shell and every process of it at once.
    void kill();
    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    int m_port = 0;
    QString m_socketUrl;
};

}  // namespace lumiclip::test
