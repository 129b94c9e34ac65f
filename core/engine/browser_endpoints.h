#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QTimer;

namespace lumiclip {

class Browser;

// How a remote endpoint is checked and tried again.
struct EndpointRetryPolicy {
    // Failed tries in a row after which an endpoint is given up.
    int tries = 5;
    int firstBackOffMs = 500;
    int longestBackOffMs = 8000;
    // Longest wait for a browser's answer to the check.
    int checkMs = 10000;
};

// The browsers one batch runs on: the local one, or the endpoints given with --browser, each taking up
// to `jobs` pages at once. A remote endpoint is checked (connected, asked for its version) before pages
// go to it. One that drops is tried again after 0.5 s, 1 s, 2 s, … and given up after five failed
// tries in a row (EndpointRetryPolicy); one that never answered is given up at once when no endpoint has
// answered yet, so a wrong address fails the batch at once instead of after the back-off. The local browser
// is never checked or given up: it is started anew by the next page.
class BrowserEndpoints final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserEndpoints)

public:
    struct Endpoint {
        Browser* browser = nullptr;
        // As the user gave it; empty for the local browser.
        QString name;
    };

    BrowserEndpoints(QList<Endpoint> endpoints, int jobs, EndpointRetryPolicy policy = {},
                     QObject* parent = nullptr);
    ~BrowserEndpoints() override;

    // Starts checking the remote endpoints.
    void start();
    // No more checks or tries (the batch is over or interrupted); names the endpoints that never answered.
    void stop();

    // An endpoint that can take a page now (the one with the fewest pages), counted as busy until
    // release(); -1 when none can now.
    int acquire();
    void release(int index);

    int count() const { return static_cast<int>(m_slots.size()); }
    Browser& browser(int index) const { return *m_slots[index].endpoint.browser; }
    const QString& name(int index) const { return m_slots[index].endpoint.name; }
    // How often the endpoint was lost so far: a page that ended at another count than it started at
    // was lost with its browser.
    int losses(int index) const { return m_slots[index].losses; }
    // Whether the endpoint's browser is gone right now (a page that failed may have failed with it).
    bool isDown(int index) const;
    // Every endpoint was given up: no page can be captured any more.
    bool exhausted() const;
    // Why: each endpoint's last error.
    QString exhaustedReason() const;
    // Some endpoint never answered in this batch: a wrong address, or a browser that is not there.
    bool anyNeverAnswered() const;

signals:
    // An endpoint came up, or one was given up: pages may start, or must fail.
    void changed();
    // What happened to a remote endpoint, for the front end to tell or not. reason names the endpoint.
    void lost(const QString& reason, bool othersTakeOver);
    void retrying(const QString& reason, int delayMs);
    void answersAgain(const QString& name);
    void givenUp(const QString& reason);
    // At stop(): an endpoint that never answered in this run.
    void neverAnswered(const QString& name);

private:
    enum class State { Checking, Up, Waiting, GivenUp };
    struct Slot {
        Endpoint endpoint;
        State state = State::Up;
        int running = 0;
        int losses = 0;
        int failedTries = 0;
        bool answered = false;
        QString lastError;
        QTimer* retry = nullptr;
    };

    bool isRemote(int index) const { return !m_slots[index].endpoint.name.isEmpty(); }
    void check(int index);
    void onAnswered(int index);
    void onCheckFailed(int index, const QString& reason);
    void onLost(int index, const QString& reason);
    void giveUp(int index);

    QList<Slot> m_slots;
    int m_jobs;
    EndpointRetryPolicy m_policy;
    bool m_stopped = false;
};

}  // namespace lumiclip
