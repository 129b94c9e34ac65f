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
    if (m_connection && m_connection->isOpen() && m_launcher->ownsBrowser()) {
        // Best effort: the message fits the pipe, so it goes out without the event loop.
        m_connection->call(QStringLiteral("Browser.close"), {}, {}, 1000, this, [](const CdpReply&) {});
    }
    m_launcher->stop(m_connection && m_connection->isOpen() ? 3000 : 500);
    if (m_connection) {
        CdpConnection* connection = m_connection;
        m_connection = nullptr;
        connection->disconnect(this);
        connection->close(QStringLiteral("browser closed"));
        connection->deleteLater();
    }
}

}  // namespace lumiclip
