// The WebSocket transport against a peer of our own: framing, order, size, closing and time-outs.
#include "core/cdp/websocket_transport.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

class Peer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QWebSocketServer::newConnection, &server, [this] {
            // The server does not own what it hands out; the fixture's server does from here.
            client = server.nextPendingConnection();
            client->setParent(&server);
            QObject::connect(client, &QWebSocket::textMessageReceived, client,
                             [this](const QString& message) { received.append(message); });
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(server.serverPort()));
    }

    QWebSocketServer server{QStringLiteral("peer"), QWebSocketServer::NonSecureMode};
    QWebSocket* client = nullptr;
    QStringList received;
};

}  // namespace

TEST_F(Peer, WhatIsSentWhileConnectingGoesOutInOrderAndLargeAnswersArriveWhole) {
    WebSocketTransport transport(url(), 5000);
    QList<QByteArray> messages;
    QObject::connect(&transport, &CdpTransport::messageReceived, &transport,
                     [&](const QByteArray& message) { messages.append(message); });
    EXPECT_TRUE(transport.isOpen());
    EXPECT_FALSE(transport.isConnected());
    for (const char* message : {R"({"id":1})", R"({"id":2})", R"({"id":3})"}) {
        EXPECT_TRUE(transport.send(message));
    }
    ASSERT_TRUE(waitUntil([&] { return received.size() == 3; }, 5000));
    EXPECT_EQ(received, (QStringList{QStringLiteral(R"({"id":1})"), QStringLiteral(R"({"id":2})"),
                                     QStringLiteral(R"({"id":3})")}));
    EXPECT_TRUE(transport.isConnected());

    // A screenshot's worth: far beyond one frame.
    const QString large = QStringLiteral(R"({"id":4,"result":{"data":")") +
                          QString(20 * 1024 * 1024, QLatin1Char('A')) + QStringLiteral(R"("}})");
    client->sendTextMessage(QStringLiteral("{\"method\":\"e\",\"params\":{\"t\":\"\u00e9\"}}"));
    client->sendTextMessage(large);
    ASSERT_TRUE(waitUntil([&] { return messages.size() == 2; }, 20000));
    EXPECT_EQ(QString::fromUtf8(messages[0]),
              QStringLiteral("{\"method\":\"e\",\"params\":{\"t\":\"\u00e9\"}}"));
    EXPECT_EQ(messages[1].size(), large.size());
    EXPECT_TRUE(messages[1].endsWith(R"("}})"));
}

TEST_F(Peer, ThePeerClosingClosesTheTransportOnceWithItsReason) {
    WebSocketTransport transport(url(), 5000);
    QStringList reasons;
    QObject::connect(&transport, &CdpTransport::closed, &transport,
                     [&](const QString& reason) { reasons.append(reason); });
    transport.send(R"({"id":1})");
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }, 5000));
    client->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("shutting down"));
    ASSERT_TRUE(waitUntil([&] { return !reasons.isEmpty(); }, 5000));
    waitUntil([] { return false; }, 100);
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_TRUE(reasons[0].contains(url().toString())) << reasons[0].toStdString();
    EXPECT_TRUE(reasons[0].contains(QStringLiteral("shutting down"))) << reasons[0].toStdString();
    EXPECT_FALSE(transport.isOpen());
    EXPECT_FALSE(transport.send(R"({"id":2})"));
    transport.close(QStringLiteral("again"));
    EXPECT_EQ(reasons.size(), 1);
}

TEST_F(Peer, ClosingOurSideEndsTheConnection) {
    WebSocketTransport transport(url(), 5000);
    transport.send(R"({"id":1})");
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }, 5000));
    bool gone = false;
    QObject::connect(client, &QWebSocket::disconnected, client, [&] { gone = true; });
    int closes = 0;
    QObject::connect(&transport, &CdpTransport::closed, &transport, [&] { ++closes; });
    transport.close(QStringLiteral("done"));
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(waitUntil([&] { return gone; }, 5000));
}

TEST(WebSocketTransport, AServerThatNeverFinishesTheHandshakeTimesOut) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/").arg(silent.serverPort()));
    WebSocketTransport transport(url, 300);
    QString reason;
    QObject::connect(&transport, &CdpTransport::closed, &transport,
                     [&](const QString& why) { reason = why; });
    transport.send(R"({"id":1})");
    ASSERT_TRUE(waitUntil([&] { return !reason.isEmpty(); }, 3000));
    EXPECT_EQ(reason, url.toString() + QStringLiteral(" did not open a DevTools connection within 0.3 s"));
}

TEST(WebSocketTransport, APeerThatGoesSilentAfterTheHandshakeIsClosedAfterTheSilenceAllowed) {
    // Upgrades the connection, then never says a word (no pong): a machine that went away.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    QByteArray request;
    QObject::connect(&mute, &QTcpServer::newConnection, &mute, [&] {
        QTcpSocket* socket = mute.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&request, socket] {
            request += socket->readAll();
            if (!request.contains("\r\n\r\n") || request.isEmpty()) {
                return;
            }
            QByteArray key;
            for (const QByteArray& line : request.split('\n')) {
                if (line.toLower().startsWith("sec-websocket-key:")) {
                    key = line.mid(line.indexOf(':') + 1).trimmed();
                }
            }
            const QByteArray accept = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                                               QCryptographicHash::Sha1)
                                          .toBase64();
            socket->write(
                "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Accept: " +
                accept + "\r\n\r\n");
            request = "done";
        });
    });
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(mute.serverPort()));
    WebSocketTransport transport(url, 5000);
    transport.setKeepAlive(50, 400);
    QString reason;
    QObject::connect(&transport, &CdpTransport::closed, &transport,
                     [&](const QString& why) { reason = why; });
    ASSERT_TRUE(waitUntil([&] { return transport.isConnected(); }, 3000));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return !reason.isEmpty(); }, 3000));
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(reason, url.toString() + QStringLiteral(" stopped answering: nothing heard for 0.4 s"));
}

TEST_F(Peer, APeerThatAnswersPingsStaysOpen) {
    WebSocketTransport transport(url(), 5000);
    transport.setKeepAlive(50, 300);
    bool closed = false;
    QObject::connect(&transport, &CdpTransport::closed, &transport, [&] { closed = true; });
    transport.send(R"({"id":1})");
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }, 5000));
    waitUntil([] { return false; }, 800);
    EXPECT_FALSE(closed) << "the server's pongs keep it open";
}

TEST(WebSocketTransport, AnAddressOfAnotherKindIsRefusedOnTheNextTurn) {
    WebSocketTransport transport(QUrl(QStringLiteral("ftp://127.0.0.1:21/")), 5000);
    QString reason;
    QObject::connect(&transport, &CdpTransport::closed, &transport,
                     [&](const QString& why) { reason = why; });
    EXPECT_TRUE(reason.isEmpty()) << "the caller connects first";
    ASSERT_TRUE(waitUntil([&] { return !reason.isEmpty(); }, 1000));
    EXPECT_TRUE(reason.contains(QStringLiteral("is not a ws://, wss://, http:// or https:// address")));
}

TEST(WebSocketTransport, TheVersionAnswerNamesTheSocketAtTheAddressAsked) {
    QString error;
    const QByteArray answer =
        R"({"Browser":"HeadlessChrome/120","webSocketDebuggerUrl":"ws://0.0.0.0:9222/devtools/browser/abc"})";
    EXPECT_EQ(WebSocketTransport::SocketFromVersionAnswer(
                  answer, QUrl(QStringLiteral("http://shots.example:9333")), &error),
              QUrl(QStringLiteral("ws://shots.example:9333/devtools/browser/abc")));
    EXPECT_EQ(WebSocketTransport::SocketFromVersionAnswer(
                  answer, QUrl(QStringLiteral("https://pool.example")), &error),
              QUrl(QStringLiteral("wss://pool.example/devtools/browser/abc")));
    for (const QByteArray& wrong :
         {QByteArray("not json"), QByteArray(R"({"Browser":"x"})"), QByteArray(R"(["ws://a/b"])"),
          QByteArray(R"({"webSocketDebuggerUrl":"http://a:1/x"})"),
          QByteArray(R"({"webSocketDebuggerUrl":7})")}) {
        error.clear();
        EXPECT_TRUE(
            WebSocketTransport::SocketFromVersionAnswer(wrong, QUrl(QStringLiteral("http://h:1")), &error)
                .isEmpty())
            << wrong.toStdString();
        EXPECT_EQ(error,
                  QStringLiteral(
                      "http://h:1 is not a DevTools endpoint: its /json/version names no browser socket"));
    }
}

TEST_F(Peer, ABigMessageArrivesIntactInUtf8AndWhatCameBeforeTheCloseComesFirst) {
    WebSocketTransport transport(url(), 5000);
    QList<QByteArray> messages;
    QStringList order;
    QObject::connect(&transport, &CdpTransport::messageReceived, &transport, [&](const QByteArray& message) {
        messages.append(message);
        order.append(QStringLiteral("message"));
    });
    QObject::connect(&transport, &CdpTransport::closed, &transport,
                     [&](const QString&) { order.append(QStringLiteral("closed")); });
    transport.send(R"({"id":1})");
    ASSERT_TRUE(waitUntil([&] { return received.size() == 1; }, 5000));

    // 64 MB of one-, two-, three- and four-byte characters (the last a surrogate pair in UTF-16).
    const QByteArray piece = QStringLiteral("Ab\u00e9\u20ac\U0001F600 ").toUtf8();
    QByteArray big = R"({"id":1,"result":{"data":")";
    big.reserve(64 * 1024 * 1024 + 64);
    while (big.size() < 64 * 1024 * 1024) {
        big += piece;
    }
    big += R"("}})";
    // In one frame, as a browser sends it (Qt's own sender, splitting, can cut a surrogate pair in two).
    client->setOutgoingFrameSize(big.size());
    client->sendTextMessage(QString::fromUtf8(big));
    client->sendBinaryMessage(R"({"id":2})");
    ASSERT_TRUE(waitUntil([&] { return client->bytesToWrite() == 0; }, 30000));
    client->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("done"));
    ASSERT_TRUE(waitUntil([&] { return order.contains(QStringLiteral("closed")); }, 30000));
    EXPECT_EQ(order,
              (QStringList{QStringLiteral("message"), QStringLiteral("message"), QStringLiteral("closed")}));
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].size(), big.size());
    EXPECT_TRUE(messages[0] == big) << "the text arrives as the same UTF-8";
    EXPECT_EQ(messages[1], QByteArray(R"({"id":2})"));
}
