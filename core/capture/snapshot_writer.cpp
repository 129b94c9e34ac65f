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
        SnapshotWriteResult result;
        try {
            if (options.output.to == CaptureOutput::Bytes) {
                result.bytes = EncodeSnapshotImage(snapshot, options, encoder, &result.error, &result.size);
                result.ok = !result.bytes.isEmpty();
                result.errorKind = result.ok ? ErrorKind::None : ErrorKind::Image;
            } else {
                result.ok = WriteSnapshotImage(snapshot, options, encoder, &result.error, &result.size,
                                               &result.errorKind);
            }
        } catch (const std::exception& e) {
            // The image library's own errors come back as values; this is memory and the like.
            result.ok = false;
            result.error = QStringLiteral("image step failed: %1").arg(QString::fromLocal8Bit(e.what()));
            result.errorKind = ErrorKind::Image;
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
