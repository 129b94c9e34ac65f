#include "core/browser/browser.h"

#include "core/browser/local_browser_launcher.h"
#include "core/cdp/cdp_connection.h"

#include <QTimer>

namespace lumiclip {

void Browser::EmergencyKill() {
    LocalBrowserLauncher::KillAll();
}

Browser::Browser(std::unique_ptr<BrowserLauncher> launcher, QObject* parent)
    : QObject(parent),
      m_launcher(launcher ? std::move(launcher) : std::make_unique<LocalBrowserLauncher>()) {}

Browser::~Browser() {
    shutdown();
}

bool Browser::ensureStarted(QString* error) {
    if (m_connection && m_connection->isOpen() && m_launcher->isRunning()) {
        return true;
    }
    shutdown();
    CdpTransport* transport = m_launcher->launch(error);
    if (!transport) {
        return false;
    }
    ++m_starts;
    m_connection = new CdpConnection(transport, this);
    connect(m_connection, &CdpConnection::closed, this, &Browser::onConnectionClosed);
    return true;
}

void Browser::onConnectionClosed(const QString& reason) {
    // The browser died or closed its pipe. Reap it on the next turn of the loop (the pending calls of
    // the connection are being failed right now); the next capture starts a new one.
    QTimer::singleShot(0, this, [this] {
        if (m_connection && !m_connection->isOpen()) {
            shutdown();
        }
    });
    emit died(reason);
}

void Browser::shutdown() {
    // A browser of ours is ended at once with all its processes: its profile is thrown away with it, so
    // an orderly close would only save state nobody reads, at the cost of a wait at every exit. One
    // elsewhere is only let go.
    m_launcher->stop();
    if (m_connection) {
        CdpConnection* connection = m_connection;
        m_connection = nullptr;
        connection->disconnect(this);
        connection->close(QStringLiteral("browser closed"));
        connection->deleteLater();
    }
}

}  // namespace lumiclip
