#pragma once

#include "core/capture/capture_request.h"

#include <QList>
#include <QObject>

namespace lumiclip {

class Browser;
class PageTarget;

// Browser contexts set up ahead of the captures that will use them, on one browser: each a fresh context
// with one page target prepared for the pool's options (PageTarget), made while earlier pages load, and
// handed to one capture, never back. Isolation is that of a context made on demand: no page ever ran in
// a context before its capture takes it. A target that fails while it waits (its renderer crashed, the
// browser went away) is dropped without a word; the capture that would have taken it opens a context of
// its own. Whatever still waits is disposed by prepare(0), clear() and the pool's end.
class TargetPool final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TargetPool)

public:
    // Targets are prepared for the options' page set-up (view, scale factor, agent, headers, colour scheme).
    TargetPool(Browser& browser, CaptureRequest options, QObject* parent = nullptr);
    ~TargetPool() override;

    // Keeps count targets waiting (prepared or in preparation) while the browser runs: starts what is
    // missing, disposes what is too many. Never starts the browser.
    void prepare(int count);
    // The oldest waiting target, now the caller's (and a child of parent), for a capture of options;
    // null when none waits or when options set a page up otherwise than the pool's.
    PageTarget* take(const CaptureRequest& options, QObject* parent);
    // Disposes every waiting target.
    void clear();
    int waiting() const { return static_cast<int>(m_waiting.size()); }

private:
    void drop(PageTarget* target);
    void forgetStaleTargets();

    Browser& m_browser;
    CaptureRequest m_options;
    QList<PageTarget*> m_waiting;
    // The browser's start count the waiting targets were made on.
    int m_starts = -1;
};

}  // namespace lumiclip
