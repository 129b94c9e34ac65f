#include "core/capture/page_snapshot.h"

#include "core/cdp/cdp_session.h"
#include "core/image/image_writer.h"

#include <memory>

namespace lumiclip {

void TakePageSnapshot(CdpSession& session, QObject* context, int timeoutMs, SnapshotDone done) {
    struct State {
        SnapshotDone done;
        PageSnapshot snapshot;
        int parts = 2;
        bool over = false;
    };
    auto state = std::make_shared<State>();
    state->done = std::move(done);
    const auto partDone = [state](const CdpReply& reply,
                                  const std::function<void(const QJsonObject&)>& take) {
        if (state->over) {
            return;
        }
        if (!reply.ok) {
            state->over = true;
            state->done(false, reply.error, {});
            return;
        }
        take(reply.result);
        if (--state->parts == 0) {
            state->over = true;
            state->done(true, {}, state->snapshot);
        }
    };
    session.call(
        QStringLiteral("Runtime.terminateExecution"), {}, context, [](const CdpReply&) {}, timeoutMs);
    session.call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"),
          QStringLiteral("({body: document.body !== null, url: location.href, title: document.title})")},
         {QStringLiteral("returnByValue"), true}},
        context,
        [state, partDone](const CdpReply& reply) {
            partDone(reply, [state](const QJsonObject& result) {
                const QJsonObject value = result.value(QStringLiteral("result"))
                                              .toObject()
                                              .value(QStringLiteral("value"))
                                              .toObject();
                state->snapshot.hasBody = value.value(QStringLiteral("body")).toBool();
                state->snapshot.url = value.value(QStringLiteral("url")).toString();
                state->snapshot.title = value.value(QStringLiteral("title")).toString();
            });
        },
        timeoutMs);
    session.call(
        QStringLiteral("Page.captureScreenshot"),
        {{QStringLiteral("format"), QStringLiteral("png")},
         {QStringLiteral("fromSurface"), true},
         {QStringLiteral("captureBeyondViewport"), false},
         {QStringLiteral("optimizeForSpeed"), true}},
        context,
        [state, partDone](const CdpReply& reply) {
            partDone(reply, [state](const QJsonObject& result) {
                state->snapshot.png =
                    QByteArray::fromBase64(result.value(QStringLiteral("data")).toString().toLatin1());
            });
        },
        timeoutMs);
}

bool WriteSnapshotImage(const PageSnapshot& snapshot, const CaptureOptions& options, const EncoderId& encoder,
                        QString* error) {
    if (!snapshot.hasBody) {
        *error = QStringLiteral("the document has no body to draw");
        return false;
    }
    return WriteViewImage(snapshot.png, options, encoder, error);
}

}  // namespace lumiclip
