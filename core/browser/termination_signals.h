#pragma once

#include <QObject>

class QSocketNotifier;

namespace lumiclip {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl+C in a terminal) into an orderly end: every
// running event loop is left, as if each had returned (a capture that is waiting takes its snapshot, a
// window closes), and the caller then shuts the browser down with its profile. A second signal before the
// program has ended kills the browser and ends the process at once. One object per process; the
// handlers go back to their defaults when it is destroyed.
class TerminationSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // The signal that ended the loops, or 0.
    int received() const { return m_received; }

private:
    void onSignal();

    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};

}  // namespace lumiclip
