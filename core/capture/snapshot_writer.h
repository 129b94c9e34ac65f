#pragma once

#include "core/capture/capture_request.h"
#include "core/capture/page_snapshot.h"
#include "core/image/encoder_table.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <vector>

namespace lumiclip {

// What the image step of one snapshot came to.
struct SnapshotWriteResult {
    bool ok = false;
    QString error;
    // Image (it could not be made) or Write (it could not be written).
    ErrorKind errorKind = ErrorKind::None;
    // The size of the image made; its bytes when they were asked for instead of a file.
    QSize size;
    QByteArray bytes;
    // The images of the options' further sizes, in their order.
    std::vector<SnapshotWriteResult> more;
};

// Runs the image step of snapshots (WriteSnapshotImage) on a few threads of its own, so that the thread
// that drives the browser goes on with the next pages meanwhile. Each result is handed to its callback on
// the thread that asked, from its event loop, unless the callback's context went first. When the writer
// goes it waits for the steps that have begun; a step that has not begun by then is dropped, and so is
// its callback.
class SnapshotWriter final : public QObject {
    Q_DISABLE_COPY_MOVE(SnapshotWriter)

public:
    using Done = std::function<void(const SnapshotWriteResult& result)>;

    // threads: at most this many images at once (at least 1).
    explicit SnapshotWriter(int threads = 2, QObject* parent = nullptr);
    ~SnapshotWriter() override;

    // For CaptureOutput::Bytes the image is handed back in the result, and no file is written.
    void write(PageSnapshot snapshot, CaptureRequest options, EncoderId encoder, QObject* context, Done done);
    // Drops the steps that have not begun, waits for those that have, and hands their results to their
    // callbacks now (an interrupted batch reports an image that was written as written).
    void settle();
    // Steps asked for whose results have not been handed over yet.
    int pending() const { return static_cast<int>(m_askers.size()); }

private:
    struct Asker {
        QPointer<QObject> context;
        Done done;
    };

    void deliver(quint64 id, const SnapshotWriteResult& result);

    QHash<quint64, Asker> m_askers;
    quint64 m_nextId = 1;
    QThreadPool m_threads;
};

}  // namespace lumiclip
