#include "core/capture/snapshot_writer.h"

#include <QCoreApplication>

#include <QMetaObject>
#include <QPointer>

#include <exception>

namespace lumiclip {

SnapshotWriter::SnapshotWriter(int threads, QObject* parent) : QObject(parent) {
    m_threads.setMaxThreadCount(std::max(threads, 1));
}

SnapshotWriter::~SnapshotWriter() {
    // Steps not begun are dropped; a step that has begun finishes its file, whole or not at all.
    m_threads.clear();
    m_threads.waitForDone();
}

void SnapshotWriter::write(PageSnapshot snapshot, CaptureRequest options, EncoderId encoder, QObject* context,
                           Done done) {
    // What only this thread touches (the context's guard, the callback) stays here under an id; the
    // worker gets the data and hands back the id with the result.
    const quint64 id = m_nextId++;
    m_askers.insert(id, Asker{context, std::move(done)});
    m_threads.start([this, id, snapshot = std::move(snapshot), options = std::move(options),
                     encoder = std::move(encoder)] {
        const auto step = [&snapshot, &encoder](const CaptureRequest& asked) {
            SnapshotWriteResult made;
            try {
                if (asked.output.to == CaptureOutput::Bytes) {
                    made.bytes = EncodeSnapshotImage(snapshot, asked, encoder, &made.error, &made.size);
                    made.ok = !made.bytes.isEmpty();
                    made.errorKind = made.ok ? ErrorKind::None : ErrorKind::Image;
                } else {
                    made.ok = WriteSnapshotImage(snapshot, asked, encoder, &made.error, &made.size,
                                                 &made.errorKind);
                }
            } catch (const std::exception& e) {
                // The image library's own errors come back as values; this is memory and the like.
                made.ok = false;
                made.error = QStringLiteral("image step failed: %1").arg(QString::fromLocal8Bit(e.what()));
                made.errorKind = ErrorKind::Image;
            }
            return made;
        };
        SnapshotWriteResult result = step(options);
        // The further sizes of the same rendering, each whole or not at all like the first.
        for (qsizetype i = 0; i < options.image.moreSizes.size(); ++i) {
            CaptureRequest sized = options;
            sized.image.width = options.image.moreSizes[i].width();
            sized.image.height = options.image.moreSizes[i].height();
            sized.output.path = options.output.morePaths.value(i);
            result.more.push_back(step(sized));
        }
        // The writer outlives every step that has begun (its end waits for them).
        QMetaObject::invokeMethod(
            this, [this, id, result] { deliver(id, result); }, Qt::QueuedConnection);
    });
}

void SnapshotWriter::settle() {
    m_threads.clear();
    m_threads.waitForDone();
    // The results of the steps that ran wait as queued calls to this object.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void SnapshotWriter::deliver(quint64 id, const SnapshotWriteResult& result) {
    const Asker asker = m_askers.take(id);
    if (asker.context && asker.done) {
        asker.done(result);
    }
}

}  // namespace lumiclip
