#pragma once

#include "core/browser/browser_launcher.h"
#include "core/cdp/cdp_transport.h"

#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

namespace lumiclip::test {

// A browser played by a script, right below the connection: every message sent to it is recorded and
// handed to the script, which answers (or not) with reply(), error() and event(). Whatever it sends
// arrives from the event loop, as a real peer's messages would.
class ScriptedBrowser final : public CdpTransport {
    Q_OBJECT

public:
    using Script = std::function<void(ScriptedBrowser& peer, const QJsonObject& call)>;

    explicit ScriptedBrowser(QObject* parent = nullptr) : CdpTransport(parent) {}

    bool send(const QByteArray& message) override;
    bool isOpen() const override { return m_open; }
    void close(const QString& reason) override;

    void setScript(Script script) { m_script = std::move(script); }
    void reply(const QJsonObject& call, const QJsonObject& result = {});
    void error(const QJsonObject& call, const QString& message);
    // An event; with a session id, of that session.
    void event(const QString& method, const QJsonObject& params, const QString& sessionId = {});
    // The peer hangs up, as a browser that died.
    void hangUp(const QString& reason);

    // The calls seen so far, in order.
    const QList<QJsonObject>& calls() const { return m_calls; }
    // The calls of one method.
    QList<QJsonObject> callsOf(const QString& method) const;

private:
    void deliver(const QJsonObject& message);

    bool m_open = true;
    Script m_script;
    QList<QJsonObject> m_calls;
};

// Launches a scripted browser (a new one each time, with the same script), as the local launcher
// launches the headless shell.
class ScriptedLauncher final : public BrowserLauncher {
public:
    explicit ScriptedLauncher(ScriptedBrowser::Script script) : m_script(std::move(script)) {}
    CdpTransport* launch(QString*) override {
        peer = new ScriptedBrowser;
        peer->setScript(m_script);
        return peer;
    }
    bool isRunning() override { return peer && peer->isOpen(); }
    void stop() override {}
    bool isHeadlessShell() const override { return true; }
    pid_t pid() const override { return -1; }

    QPointer<ScriptedBrowser> peer;

private:
    ScriptedBrowser::Script m_script;
};

}  // namespace lumiclip::test
