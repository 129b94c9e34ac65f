#include "core/browser/remote_browser_launcher.h"

#include "core/cdp/websocket_transport.h"

#include <QHostAddress>

namespace lumiclip {

CdpTransport* RemoteBrowserLauncher::launch(QString* /*error*/) {
    // Failures to connect come as the transport's close, with their reason.
    return new WebSocketTransport(m_endpoint, m_connectTimeoutMs);
}

bool RemoteBrowserLauncher::IsLoopbackOrEncrypted(const QUrl& endpoint) {
    if (endpoint.scheme() == QStringLiteral("wss") || endpoint.scheme() == QStringLiteral("https")) {
        return true;
    }
    const QString host = endpoint.host();
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace lumiclip
