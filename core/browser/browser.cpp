#include "core/browser/browser.h"

#include "core/cdp/cdp_connection.h"
#include "core/cdp/pipe_transport.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdlib>

namespace lumiclip {

namespace {

// Read by the exit hook, which may run when Qt is already gone.
volatile pid_t g_browserGroup = -1;

void killBrowserAtExit() {
    if (g_browserGroup > 0) {
        ::kill(-g_browserGroup, SIGKILL);
    }
}

void shutdownBeforeQtEnds() {
    Browser::shared().shutdown();
}

}  // namespace

void Browser::EmergencyKill() {
    killBrowserAtExit();
}

Browser& Browser::shared() {
    // Deliberately never destroyed: it is shut down explicitly, before Qt's own teardown.
    static Browser* browser = new Browser;
    return *browser;
}

Browser::Browser() = default;
Browser::~Browser() {
    shutdown();
}

bool Browser::ensureStarted(QString* error) {
    if (m_connection && m_connection->isOpen() && m_process && m_process->isRunning()) {
        return true;
    }
    if (m_connection || m_process) {
        shutdown();
    }
    if (!m_hooksInstalled) {
        m_hooksInstalled = true;
        std::atexit(killBrowserAtExit);
        qAddPostRoutine(shutdownBeforeQtEnds);
    }
    m_executable = FindBrowserExecutable();
    auto process = std::make_unique<BrowserProcess>();
    if (!process->start(m_executable, error)) {
        return false;
    }
    g_browserGroup = process->pid();
    auto* transport = new PipeTransport(process->takeWriteFd(), process->takeReadFd());
    m_connection = new CdpConnection(transport, this);
    connect(m_connection, &CdpConnection::closed, this, &Browser::onConnectionClosed);
    m_process = std::move(process);
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
    if (m_connection && m_connection->isOpen()) {
        // Best effort: the message fits the pipe, so it goes out without the event loop.
        m_connection->call(QStringLiteral("Browser.close"), {}, {}, 1000, this, [](const CdpReply&) {});
    }
    if (m_process) {
        m_process->stop(m_connection && m_connection->isOpen() ? 3000 : 500);
    }
    if (m_connection) {
        CdpConnection* connection = m_connection;
        m_connection = nullptr;
        connection->disconnect(this);
        connection->close(QStringLiteral("browser closed"));
        connection->deleteLater();
    }
    m_process.reset();
    g_browserGroup = -1;
}

}  // namespace lumiclip
