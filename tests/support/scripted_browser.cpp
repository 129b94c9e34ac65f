#include "support/scripted_browser.h"

#include <QJsonDocument>
#include <QTimer>

namespace lumiclip::test {

bool ScriptedBrowser::send(const QByteArray& message) {
    if (!m_open) {
        return false;
    }
    const QJsonObject call = QJsonDocument::fromJson(message).object();
    m_calls.append(call);
    if (m_script) {
        m_script(*this, call);
    }
    return true;
}

void ScriptedBrowser::close(const QString& reason) {
    if (!m_open) {
        return;
    }
    m_open = false;
    emit closed(reason);
}

void ScriptedBrowser::deliver(const QJsonObject& message) {
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QTimer::singleShot(0, this, [this, bytes] {
        if (m_open) {
            emit messageReceived(bytes);
        }
    });
}

void ScriptedBrowser::reply(const QJsonObject& call, const QJsonObject& result) {
    QJsonObject message{{QStringLiteral("id"), call.value(QStringLiteral("id"))},
                        {QStringLiteral("result"), result}};
    if (call.contains(QStringLiteral("sessionId"))) {
        message.insert(QStringLiteral("sessionId"), call.value(QStringLiteral("sessionId")));
    }
    deliver(message);
}

void ScriptedBrowser::error(const QJsonObject& call, const QString& text) {
    deliver({{QStringLiteral("id"), call.value(QStringLiteral("id"))},
             {QStringLiteral("error"),
              QJsonObject{{QStringLiteral("code"), -32000}, {QStringLiteral("message"), text}}}});
}

void ScriptedBrowser::event(const QString& method, const QJsonObject& params, const QString& sessionId) {
    QJsonObject message{{QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty()) {
        message.insert(QStringLiteral("sessionId"), sessionId);
    }
    deliver(message);
}

void ScriptedBrowser::hangUp(const QString& reason) {
    QTimer::singleShot(0, this, [this, reason] { close(reason); });
}

QList<QJsonObject> ScriptedBrowser::callsOf(const QString& method) const {
    QList<QJsonObject> of;
    for (const QJsonObject& call : m_calls) {
        if (call.value(QStringLiteral("method")).toString() == method) {
            of.append(call);
        }
    }
    return of;
}

}  // namespace lumiclip::test
