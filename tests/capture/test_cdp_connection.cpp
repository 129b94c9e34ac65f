#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"
#include "core/cdp/pipe_transport.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>
#include <functional>

using namespace lumiclip;
using lumiclip::test::waitUntil;

namespace {

// A scripted browser on the far end of the pipes: it sees every message and answers as told.
class FakePeer {
public:
    FakePeer() {
        int toConnection[2];
        int toPeer[2];
        EXPECT_EQ(::pipe(toConnection), 0);
        EXPECT_EQ(::pipe(toPeer), 0);
        connection = new CdpConnection(new PipeTransport(toPeer[1], toConnection[0]));
        peer = new PipeTransport(toConnection[1], toPeer[0]);
        QObject::connect(peer, &PipeTransport::messageReceived, peer, [this](const QByteArray& bytes) {
            const QJsonObject message = QJsonDocument::fromJson(bytes).object();
            seen.append(message);
            if (script) {
                script(message);
            }
        });
    }
    ~FakePeer() {
        delete connection;
        delete peer;
    }
    void send(const QJsonObject& message) {
        peer->send(QJsonDocument(message).toJson(QJsonDocument::Compact));
    }
    void reply(const QJsonObject& call, const QJsonObject& result) {
        send({{QStringLiteral("id"), call.value(QStringLiteral("id"))}, {QStringLiteral("result"), result}});
    }

    CdpConnection* connection;
    PipeTransport* peer;
    QList<QJsonObject> seen;
    std::function<void(const QJsonObject&)> script;
};

}  // namespace

TEST(CdpConnection, MatchesAnswersToCallsByIdWhateverTheirOrder) {
    FakePeer fake;
    QList<QJsonObject> held;
    fake.script = [&](const QJsonObject& m) {
        held.append(m);
        if (held.size() == 2) {  // answer the second call first
            fake.reply(held[1], {{QStringLiteral("n"), 2}});
            fake.reply(held[0], {{QStringLiteral("n"), 1}});
        }
    };
    QObject context;
    int first = 0;
    int second = 0;
    fake.connection->call(QStringLiteral("A.one"), {}, {}, 5000, &context,
                          [&](const CdpReply& r) { first = r.result.value(QStringLiteral("n")).toInt(); });
    fake.connection->call(QStringLiteral("A.two"), {{QStringLiteral("x"), 1}}, QStringLiteral("S1"), 5000,
                          &context,
                          [&](const CdpReply& r) { second = r.result.value(QStringLiteral("n")).toInt(); });
    ASSERT_TRUE(waitUntil([&] { return first && second; }, 3000));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(fake.seen[1].value(QStringLiteral("sessionId")).toString(), QStringLiteral("S1"));
    EXPECT_EQ(fake.seen[1].value(QStringLiteral("params")).toObject().value(QStringLiteral("x")).toInt(), 1);
    EXPECT_NE(fake.seen[0].value(QStringLiteral("id")), fake.seen[1].value(QStringLiteral("id")));
}

TEST(CdpConnection, ErrorsAndTimeoutsNameTheMethod) {
    FakePeer fake;
    fake.script = [&](const QJsonObject& m) {
        if (m.value(QStringLiteral("method")).toString() == QStringLiteral("Page.navigate")) {
            fake.send(
                {{QStringLiteral("id"), m.value(QStringLiteral("id"))},
                 {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), -32000},
                                                       {QStringLiteral("message"),
                                                        QStringLiteral("Cannot navigate to invalid URL")}}}});
        }
    };
    QObject context;
    CdpReply navigate;
    CdpReply silent;
    bool navigateDone = false;
    bool silentDone = false;
    fake.connection->call(QStringLiteral("Page.navigate"), {}, {}, 5000, &context, [&](const CdpReply& r) {
        navigate = r;
        navigateDone = true;
    });
    fake.connection->call(QStringLiteral("Page.captureScreenshot"), {}, {}, 100, &context,
                          [&](const CdpReply& r) {
                              silent = r;
                              silentDone = true;
                          });
    ASSERT_TRUE(waitUntil([&] { return navigateDone && silentDone; }, 3000));
    EXPECT_FALSE(navigate.ok);
    EXPECT_EQ(navigate.error, QStringLiteral("Page.navigate: Cannot navigate to invalid URL"));
    EXPECT_FALSE(silent.ok);
    EXPECT_TRUE(silent.error.startsWith(QStringLiteral("Page.captureScreenshot: no answer")));
    EXPECT_EQ(fake.connection->pendingCount(), 0);
}

TEST(CdpConnection, AClosedPipeFailsEveryPendingCallAtOnceAndLaterCallsToo) {
    FakePeer fake;
    QObject context;
    QStringList errors;
    for (const char* method : {"Target.createTarget", "Page.enable", "Network.enable"}) {
        fake.connection->call(QString::fromLatin1(method), {}, {}, 60000, &context,
                              [&](const CdpReply& r) { errors.append(r.error); });
    }
    ASSERT_TRUE(waitUntil([&] { return fake.seen.size() == 3; }, 2000));
    fake.peer->close(QStringLiteral("gone"));
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 3; }, 2000));
    EXPECT_TRUE(errors[0].endsWith(QStringLiteral("browser pipe closed")));
    EXPECT_EQ(fake.connection->pendingCount(), 0);
    EXPECT_FALSE(fake.connection->isOpen());

    fake.connection->call(QStringLiteral("Page.reload"), {}, {}, 60000, &context,
                          [&](const CdpReply& r) { errors.append(r.error); });
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 4; }, 2000));
    EXPECT_TRUE(errors[3].startsWith(QStringLiteral("Page.reload: ")));
}

TEST(CdpConnection, RoutesEventsBySessionAndKeepsBrowserEventsApart) {
    FakePeer fake;
    CdpSession one(fake.connection, QStringLiteral("S1"));
    CdpSession two(fake.connection, QStringLiteral("S2"));
    QStringList oneGot;
    QStringList twoGot;
    QStringList browserGot;
    QObject::connect(&one, &CdpSession::eventReceived, &one,
                     [&](const QString& m, const QJsonObject&) { oneGot.append(m); });
    QObject::connect(&two, &CdpSession::eventReceived, &two,
                     [&](const QString& m, const QJsonObject&) { twoGot.append(m); });
    QObject::connect(fake.connection, &CdpConnection::browserEvent, fake.connection,
                     [&](const QString& m, const QJsonObject&) { browserGot.append(m); });
    fake.send({{QStringLiteral("method"), QStringLiteral("Page.loadEventFired")},
               {QStringLiteral("sessionId"), QStringLiteral("S2")}});
    fake.send({{QStringLiteral("method"), QStringLiteral("Target.targetCrashed")}});
    fake.send({{QStringLiteral("method"), QStringLiteral("Page.frameNavigated")},
               {QStringLiteral("sessionId"), QStringLiteral("S1")}});
    fake.send({{QStringLiteral("method"), QStringLiteral("Page.x")},
               {QStringLiteral("sessionId"), QStringLiteral("unknown")}});
    ASSERT_TRUE(waitUntil([&] { return oneGot.size() + twoGot.size() + browserGot.size() == 3; }, 2000));
    EXPECT_EQ(oneGot, QStringList{QStringLiteral("Page.frameNavigated")});
    EXPECT_EQ(twoGot, QStringList{QStringLiteral("Page.loadEventFired")});
    EXPECT_EQ(browserGot, QStringList{QStringLiteral("Target.targetCrashed")});
}

TEST(CdpConnection, NeverCallsAHandlerWhoseContextIsGone) {
    FakePeer fake;
    fake.script = [&](const QJsonObject& m) { fake.reply(m, {}); };
    bool called = false;
    {
        QObject context;
        fake.connection->call(QStringLiteral("Page.enable"), {}, {}, 5000, &context,
                              [&](const CdpReply&) { called = true; });
    }
    waitUntil([&] { return fake.connection->pendingCount() == 0; }, 2000);
    waitUntil([] { return false; }, 50);
    EXPECT_FALSE(called);
}

TEST(CdpConnection, GarbageFromThePeerClosesTheConnection) {
    FakePeer fake;
    QObject context;
    QString error;
    fake.connection->call(QStringLiteral("Page.enable"), {}, {}, 5000, &context,
                          [&](const CdpReply& r) { error = r.error; });
    fake.peer->send("this is not json");
    ASSERT_TRUE(waitUntil([&] { return !error.isEmpty(); }, 2000));
    EXPECT_TRUE(error.contains(QStringLiteral("unreadable message")));

    // JSON that is no object has no parse error to give: the reason says what it is instead.
    FakePeer array;
    QString arrayError;
    array.connection->call(QStringLiteral("Page.enable"), {}, {}, 5000, &context,
                           [&](const CdpReply& r) { arrayError = r.error; });
    array.peer->send("[1, 2]");
    ASSERT_TRUE(waitUntil([&] { return !arrayError.isEmpty(); }, 2000));
    EXPECT_TRUE(arrayError.contains(QStringLiteral("not a JSON object"))) << arrayError.toStdString();
    EXPECT_FALSE(arrayError.contains(QStringLiteral("no error"))) << arrayError.toStdString();
}

TEST(CdpConnection, WhatThePeerSaidBeforeItClosedIsHeardBeforeTheClose) {
    FakePeer fake;
    fake.script = [&](const QJsonObject& m) {
        fake.reply(m, {{QStringLiteral("n"), 1}});
        fake.send({{QStringLiteral("method"), QStringLiteral("Target.targetDestroyed")}});
        fake.peer->close(QStringLiteral("gone"));
    };
    QObject context;
    QStringList heard;
    QObject::connect(fake.connection, &CdpConnection::browserEvent, &context,
                     [&](const QString& method, const QJsonObject&) { heard.append(method); });
    QObject::connect(fake.connection, &CdpConnection::closed, &context,
                     [&](const QString& reason) { heard.append(QStringLiteral("closed: ") + reason); });
    fake.connection->call(
        QStringLiteral("Target.createTarget"), {}, {}, 5000, &context, [&](const CdpReply& r) {
            heard.append(r.ok ? QStringLiteral("answer %1").arg(r.result.value(QStringLiteral("n")).toInt())
                              : r.error);
        });
    ASSERT_TRUE(waitUntil([&] { return heard.size() == 3; }, 3000));
    EXPECT_EQ(heard, (QStringList{QStringLiteral("answer 1"), QStringLiteral("Target.targetDestroyed"),
                                  QStringLiteral("closed: browser pipe closed")}));
}

TEST(CdpConnection, ABrowsersErrorIsQuotedOnlyInPartAndAnIdentifierOnlyWhenShort) {
    FakePeer fake;
    const QString huge(CdpConnection::kMaxQuotedChars * 1000, QLatin1Char('z'));
    fake.script = [&](const QJsonObject& m) {
        fake.send({{QStringLiteral("id"), m.value(QStringLiteral("id"))},
                   {QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), huge}}}});
    };
    QObject context;
    QString error;
    fake.connection->call(QStringLiteral("Page.navigate"), {}, {}, 5000, &context,
                          [&](const CdpReply& r) { error = r.error; });
    ASSERT_TRUE(waitUntil([&] { return !error.isEmpty(); }, 3000));
    EXPECT_EQ(error, QStringLiteral("Page.navigate: ") + huge.left(CdpConnection::kMaxQuotedChars) +
                         QStringLiteral("... (%1 characters in all)").arg(huge.size()));
    EXPECT_EQ(CdpConnection::Quote(QStringLiteral("short")), QStringLiteral("short"));

    QString refused;
    const QString longest(CdpConnection::kMaxIdChars, QLatin1Char('i'));
    EXPECT_EQ(CdpConnection::IdFrom({{QStringLiteral("targetId"), longest}}, QStringLiteral("targetId"),
                                    QStringLiteral("Target.createTarget"), &refused),
              longest);
    EXPECT_TRUE(refused.isEmpty());
    EXPECT_TRUE(CdpConnection::IdFrom({{QStringLiteral("targetId"), longest + QLatin1Char('i')}},
                                      QStringLiteral("targetId"), QStringLiteral("Target.createTarget"),
                                      &refused)
                    .isEmpty());
    EXPECT_TRUE(
        refused.startsWith(QStringLiteral("Target.createTarget: the browser sent a targetId of 1025")))
        << refused.toStdString();
}

namespace {

QStringList* g_traced = nullptr;

void recordTrace(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (g_traced && QByteArray(context.category) == "lumiclip.protocol") {
        g_traced->append(text);
    }
}

}  // namespace

TEST(CdpConnection, TheProtocolTraceShowsEveryMessageOnlyWhenEnabled) {
    QStringList traced;
    g_traced = &traced;
    const QtMessageHandler previous = qInstallMessageHandler(recordTrace);
    const auto roundTrip = [](const char* method) {
        FakePeer fake;
        fake.script = [&fake](const QJsonObject& m) { fake.reply(m, {{QStringLiteral("answer"), 42}}); };
        QObject context;
        bool answered = false;
        fake.connection->call(QString::fromLatin1(method), {}, {}, 5000, &context,
                              [&answered](const CdpReply&) { answered = true; });
        EXPECT_TRUE(waitUntil([&answered] { return answered; }, 2000));
    };
    roundTrip("Browser.getVersion");
    EXPECT_TRUE(traced.isEmpty()) << traced.join(QLatin1Char('\n')).toStdString();

    QLoggingCategory::setFilterRules(QStringLiteral("lumiclip.protocol.debug=true"));
    roundTrip("Page.enable");
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    g_traced = nullptr;
    ASSERT_EQ(traced.size(), 2) << traced.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(traced[0].startsWith(QStringLiteral("-> ")) &&
                traced[0].contains(QStringLiteral("Page.enable")));
    EXPECT_TRUE(traced[1].startsWith(QStringLiteral("<- ")) && traced[1].contains(QStringLiteral("42")));
}
