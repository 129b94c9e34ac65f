#pragma once

#include "core/capture/capture_error.h"
#include "core/capture/capture_request.h"
#include "core/capture/ready_watcher.h"
#include "core/capture/snapshot_writer.h"
#include "core/capture/target_pool.h"
#include "core/engine/browser_endpoints.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

namespace lumiclip {

class PageCapture;
struct PageCaptureOutcome;

// What one capture came to.
struct CaptureResult {
    bool ok = false;
    CaptureError error;
    // The image: its bytes for CaptureOutput::Bytes, its size in bytes either way.
    QByteArray bytes;
    qint64 byteCount = 0;
    // The size of the image made.
    QSize size;
    qint64 milliseconds = 0;
    // What the page itself said: its address after redirects (empty when it never loaded), the HTTP
    // status of its document (0 when there was none), its title and how the wait for it ended.
    QString finalUrl;
    int status = 0;
    QString title;
    WaitEnd waitEnd = WaitEnd::None;
    // The endpoint of the last try, as given; empty for the local browser.
    QString endpoint;
    // The images of the request's further sizes, in their order, each with its own outcome, bytes and
    // size (the page's fields are the first image's); empty when the page itself failed.
    std::vector<CaptureResult> more;
};

struct CaptureServiceSettings {
    // Pages at once on each browser.
    int jobs = 2;
    // How often a page lost with its browser (it died, or its connection dropped) is tried again, on the
    // browser started anew or on another endpoint.
    int retries = 1;
    EndpointRetryPolicy endpointPolicy;
};

// Captures pages on a set of browsers (the local one, or endpoints elsewhere), several at once on each,
// each page in a browser context of its own: the engine every front end drives. Requests may come at
// any time; each gets a ticket and, once, finished() with its result, failures included (a page that
// failed is reported and the others go on). A page lost with its browser is tried again up to the
// retries. Contexts for the next pages are prepared while pages load, image steps run on threads of
// their own, and no more images wait to be written than there are pages at once plus one. Browser events
// are signals for the front end to tell or not; the service prints nothing.
class CaptureService final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CaptureService)

public:
    using Ticket = quint64;

    // Contexts are prepared ahead for pages set up as usualSetUp says (view, scale factor, agent, headers,
    // colour scheme); a request set up otherwise opens its own.
    CaptureService(const QList<BrowserEndpoints::Endpoint>& browsers, CaptureServiceSettings settings,
                   const CaptureRequest& usualSetUp, QObject* parent = nullptr);
    ~CaptureService() override;

    // Queues a capture; its result comes with finished(ticket, ...). The first request starts the
    // endpoints' checks.
    Ticket submit(CaptureRequest request);
    // Drops a capture that has not finished: its context is disposed and finished() comes with an
    // Interrupted error.
    void cancel(Ticket ticket);
    // Ends everything at once (a termination signal): no page starts any more, the pages in flight are
    // dropped with their contexts, the images being written are finished and reported as what they came
    // to, and every other ticket finishes Interrupted. The service takes no request after it.
    void interrupt();
    // No more checks or tries of the endpoints (the front end has nothing more to ask).
    void stop();

    // Tickets not finished yet.
    int pending() const;
    // Pages whose browser context is open.
    int running() const { return static_cast<int>(m_running.size()); }
    // Requests waiting for a browser.
    int queued() const { return static_cast<int>(m_queue.size()); }
    // A --browser endpoint was given up without ever answering (a wrong address, or nothing there).
    bool anEndpointNeverAnswered() const { return m_endpoints.anyNeverAnswered(); }
    // Every endpoint was given up: every request fails at once.
    bool exhausted() const { return m_endpoints.exhausted(); }

signals:
    void finished(lumiclip::CaptureService::Ticket ticket, const lumiclip::CaptureResult& result);
    // Every ticket so far has finished.
    void idle();
    // A remote endpoint was lost (its pages go to the others, or wait), is tried again after delayMs,
    // answers again, was given up, or never answered before stop(). reason names the endpoint.
    void endpointLost(const QString& reason, bool othersTakeOver);
    void endpointRetrying(const QString& reason, int delayMs);
    void endpointAnswersAgain(const QString& name);
    void endpointGivenUp(const QString& reason);
    void endpointNeverAnswered(const QString& name);

private:
    struct Job {
        CaptureRequest request;
        // Tries lost with their browser so far.
        int losses = 0;
    };
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
    void startCapture(Ticket ticket, int endpoint);
    void onCaptureFinished(Ticket ticket);
    bool wasLost(const Running& running, const PageCaptureOutcome& outcome) const;
    void complete(Ticket ticket, CaptureResult result);
    void checkIdle();

    BrowserEndpoints m_endpoints;
    CaptureServiceSettings m_settings;
    QHash<Ticket, Job> m_jobs;
    // Tickets waiting for a browser, in order; those lost with their browser go first.
    QList<Ticket> m_queue;
    QHash<Ticket, Running> m_running;
    // Each browser's next context, prepared while the pages before it load.
    std::vector<std::unique_ptr<TargetPool>> m_targets;
    // The image steps, off the thread that drives the browsers; m_writing of them under way.
    SnapshotWriter m_writer;
    int m_writing = 0;
    Ticket m_nextTicket = 1;
    bool m_started = false;
    bool m_interrupted = false;
};

}  // namespace lumiclip
