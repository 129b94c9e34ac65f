#include "core/capture/target_pool.h"

#include "core/browser/browser.h"
#include "core/capture/page_target.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

namespace lumiclip {

TargetPool::TargetPool(Browser& browser, CaptureRequest options, QObject* parent)
    : QObject(parent), m_browser(browser), m_options(std::move(options)) {}

TargetPool::~TargetPool() {
    clear();
}

void TargetPool::forgetStaleTargets() {
    // Targets of a browser (or connection) that is gone: their failure may not have reached us yet, but
    // they can serve no page on the one started since.
    if (m_browser.starts() != m_starts) {
        m_starts = m_browser.starts();
        while (!m_waiting.isEmpty()) {
            PageTarget* target = m_waiting.takeLast();
            target->disconnect(this);
            target->deleteLater();
        }
    }
}

void TargetPool::prepare(int count) {
    forgetStaleTargets();
    while (m_waiting.size() > std::max(count, 0)) {
        delete m_waiting.takeLast();  // disposes of its context
    }
    CdpConnection* connection = m_browser.connection();
    if (!connection || !connection->isOpen()) {
        return;
    }
    while (m_waiting.size() < count) {
        // A set-up gets the page's time limit; the first call to a browser still starting, its start's.
        const int setUpMs = m_options.limits.pageMs;
        auto* target = new PageTarget(
            m_browser, [setUpMs] { return setUpMs; }, this);
        m_waiting.append(target);
        connect(target, &PageTarget::failed, this, [this, target] { drop(target); });
        target->open(m_options, connection->hasHeardFromPeer() ? setUpMs : m_options.limits.browserStartMs);
    }
}

PageTarget* TargetPool::take(const CaptureRequest& options, QObject* parent) {
    forgetStaleTargets();
    const CdpConnection* connection = m_browser.connection();
    if (m_waiting.isEmpty() || options.page != m_options.page || !connection || !connection->isOpen()) {
        return nullptr;
    }
    PageTarget* target = m_waiting.takeFirst();
    target->disconnect(this);
    target->setParent(parent);
    return target;
}

void TargetPool::clear() {
    prepare(0);
}

void TargetPool::drop(PageTarget* target) {
    if (m_waiting.removeOne(target)) {
        // Later: this runs inside the target's own signal.
        target->deleteLater();
    }
}

}  // namespace lumiclip
