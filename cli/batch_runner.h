#pragma once

#include "cli/browser_endpoints.h"
#include "core/capture/capture_options.h"
#include "core/capture/ready_watcher.h"
#include "core/capture/snapshot_writer.h"
#include "core/capture/target_pool.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdio>
#include <memory>
#include <vector>

namespace lumiclip {

class PageCapture;
struct PageCaptureOutcome;

// One address and where its image goes.
struct BatchItem {
    // As given (reported back as such).
    QString url;
    QString output;
    // The program made the output's name in a folder: a link there is replaced, never followed.
    bool outputNameMade = false;
    // What the browser loads: the address completed; empty means url.
    QString address;
    // Why the address is not loaded at all; empty when it is.
    QString refusal;
};

struct BatchSettings {
    // Every page's capture: its address and output path are each item's own.
    CaptureOptions capture;
    // Pages at once on each browser.
    int jobs = 2;
    // How often a page lost with its browser (it died, or its connection dropped) is tried again, on
    // the browser started anew or on another endpoint.
    int retries = 1;
    bool json = false;
    bool progress = false;
    // An item whose output file exists is reported as skipped, not loaded.
    bool skipExisting = false;
};

struct BatchResult {
    QString url;
    QString output;
    bool ok = false;
    QString error;
    qint64 bytes = 0;
    qint64 milliseconds = 0;
    // The image's size: the one written, else the one asked for (a side of 0: in proportion).
    int width = 0;
    int height = 0;
    // Not loaded: the output file was already there (ok, with that file's byte count).
    bool skipped = false;
    // What the page itself said: its address after redirects (empty when it never loaded), the HTTP
    // status of its document (0 when there was none), its title and how the wait for it ended.
    QString finalUrl;
    int status = 0;
    QString title;
    WaitEnd waitEnd = WaitEnd::None;
    // The endpoint of the last try, as given; empty for the local browser or no try at all.
    QString endpoint;
};

// Captures a list of pages on the batch's browsers, several at once on each, each page in its own
// context. A page that fails is reported and the others go on; one lost with its browser is tried
// again, up to the retries. Results are printed as they come (stdout, or one JSON
// line each), failures named on stderr; finished() once every page is done.
class BatchRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRunner)

public:
    BatchRunner(const QList<BrowserEndpoints::Endpoint>& browsers, QList<BatchItem> items,
                BatchSettings settings, QObject* parent = nullptr);

    void start();
    // Ends the batch at once (a termination signal): no page starts any more, the pages in flight are
    // dropped with their browser contexts, and every address without a result is reported as
    // interrupted. finished() is not emitted.
    void interrupt();
    const QList<BatchResult>& results() const { return m_results; }
    bool allSucceeded() const;
    // A --browser was given up without ever answering (a wrong address, or nothing there).
    bool anEndpointNeverAnswered() const { return m_endpoints.anyNeverAnswered(); }

signals:
    void finished();

private:
    struct Running {
        PageCapture* capture = nullptr;
        int endpoint = -1;
        int lossesAtStart = 0;
        int startsAtStart = 0;
        // Until the page's wait is over: it loads, and a context set up beside it would slow it down.
        bool loading = true;
    };

    void launchMore();
    void prepareTargets();
    // Whether pages run on the endpoint and every one of them is still in its wait.
    bool allLoading(int endpoint) const;
    void startCapture(qsizetype index, int endpoint);
    void onCaptureFinished(qsizetype index);
    bool wasLost(const Running& running, const PageCaptureOutcome& outcome) const;
    void complete(qsizetype index, BatchResult result);
    void report(const BatchResult& result);
    void drawProgress();

    BrowserEndpoints m_endpoints;
    QList<BatchItem> m_items;
    BatchSettings m_settings;
    QList<BatchResult> m_results;
    QList<bool> m_reported;
    QHash<qsizetype, Running> m_running;
    // Pages lost with their browser, to be tried again before the rest of the list.
    QList<qsizetype> m_again;
    QList<int> m_losses;
    // Each browser's next context, prepared while the pages before it load.
    std::vector<std::unique_ptr<TargetPool>> m_targets;
    // The image steps, off the thread that drives the browsers; m_writing of them under way.
    SnapshotWriter m_writer;
    int m_writing = 0;
    bool m_interrupted = false;
    qsizetype m_next = 0;
    int m_done = 0;
};

}  // namespace lumiclip
