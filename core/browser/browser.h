#pragma once

#include "core/browser/browser_launcher.h"

#include <QObject>
#include <QString>

#include <memory>

namespace lumiclip {

class CdpConnection;

// One browser and the one connection to it, whatever carries it: started on first use, kept warm for
// later captures, started anew after it died, and closed when this object goes (or by shutdown()).
// Made by the program that captures (the application, the command-line tool) and passed down.
class Browser final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Browser)

public:
    // Without a launcher, the local headless shell.
    explicit Browser(std::unique_ptr<BrowserLauncher> launcher = {}, QObject* parent = nullptr);
    ~Browser() override;

    // Starts the browser if it does not run. The connection is usable right away: the browser reads
    // it once it is up, so the first call simply takes longer.
    bool ensureStarted(QString* error);
    // The connection of the running browser, or null.
    CdpConnection* connection() const { return m_connection; }
    bool isHeadlessShell() const { return m_launcher->isHeadlessShell(); }
    pid_t pid() const { return m_launcher->pid(); }
    // How many browsers (or connections to one elsewhere) were started so far: a page that failed while
    // another one was started had lost its browser.
    int starts() const { return m_starts; }
    // Ends a browser of ours with all its processes and removes its profile; lets go of one elsewhere.
    void shutdown();

    // Kills every local browser of this process at once; safe to call from a signal handler.
    static void EmergencyKill();

signals:
    void died(const QString& reason);

private:
    void onConnectionClosed(const QString& reason);

    std::unique_ptr<BrowserLauncher> m_launcher;
    CdpConnection* m_connection = nullptr;
    int m_starts = 0;
};

}  // namespace lumiclip
