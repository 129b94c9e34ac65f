#pragma once

#include "cli/batch_result.h"
#include "cli/result_printer.h"
#include "core/engine/capture_service.h"

#include <QHash>
#include <QList>
#include <QObject>

namespace lumiclip {

// lumiclip-cli's batch: the planned list fed to the capture service a little ahead of the pages it is
// capturing (a list of any length costs memory for what is under way, not for all of it), the
// addresses refused or already captured reported without loading, every result printed as it comes;
// finished() once every address has its result.
class BatchRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRunner)

public:
    BatchRunner(const QList<BrowserEndpoints::Endpoint>& browsers, QList<BatchItem> items,
                BatchSettings settings, QObject* parent = nullptr);

    void start();
    // Ends the batch at once (a termination signal): see CaptureService::interrupt(); every address
    // without a result is reported as interrupted. finished() is not emitted.
    void interrupt();
    const QList<BatchResult>& results() const { return m_results; }
    bool allSucceeded() const;
    // A --browser was given up without ever answering (a wrong address, or nothing there).
    bool anEndpointNeverAnswered() const { return m_service.anEndpointNeverAnswered(); }

signals:
    void finished();

private:
    // Hands the service the next items, up to a few more than it can capture at once.
    void feed();
    // One image's result, from the capture that made it.
    void report(qsizetype index, const CaptureResult& captured);
    void onFinished(CaptureService::Ticket ticket, const CaptureResult& captured);
    void complete(qsizetype index, BatchResult result);

    QList<BatchItem> m_items;
    BatchSettings m_settings;
    CaptureService m_service;
    ResultPrinter m_printer;
    QList<BatchResult> m_results;
    QList<bool> m_reported;
    // The items a capture makes: its first image's, then its further sizes'.
    QHash<CaptureService::Ticket, QList<qsizetype>> m_tickets;
    qsizetype m_next = 0;
    qsizetype m_done = 0;
    int m_browsers = 1;
    bool m_interrupted = false;
    bool m_over = false;
};

}  // namespace lumiclip
