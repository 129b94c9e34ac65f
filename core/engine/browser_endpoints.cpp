#include "core/engine/browser_endpoints.h"

#include "core/browser/browser.h"
#include "core/cdp/cdp_connection.h"

#include <QTimer>

#include <algorithm>

namespace lumiclip {

namespace {

// The reason, naming the endpoint once.
QString withName(const QString& name, const QString& reason) {
    return reason.contains(name) ? reason : QStringLiteral("%1: %2").arg(name, reason);
}

}  // namespace

BrowserEndpoints::BrowserEndpoints(QList<Endpoint> endpoints, int jobs, EndpointRetryPolicy policy,
                                   QObject* parent)
    : QObject(parent), m_jobs(jobs), m_policy(policy) {
    for (qsizetype index = 0; index < endpoints.size(); ++index) {
        Slot slot;
        slot.endpoint = endpoints[index];
        slot.state = slot.endpoint.name.isEmpty() ? State::Up : State::Checking;
        slot.retry = new QTimer(this);
        slot.retry->setSingleShot(true);
        const int at = static_cast<int>(index);
        connect(slot.retry, &QTimer::timeout, this, [this, at] { check(at); });
        connect(slot.endpoint.browser, &Browser::died, this, [this, at](const QString& reason) {
            if (m_slots[at].state == State::Up) {
                onLost(at, reason);
            }
        });
        m_slots.append(slot);
    }
}

BrowserEndpoints::~BrowserEndpoints() = default;

void BrowserEndpoints::start() {
    for (int index = 0; index < m_slots.size(); ++index) {
        if (isRemote(index)) {
            check(index);
        }
    }
}

void BrowserEndpoints::stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    for (Slot& slot : m_slots) {
        slot.retry->stop();
        if (!slot.endpoint.name.isEmpty() && !slot.answered && slot.state != State::GivenUp) {
            emit neverAnswered(slot.endpoint.name);
        }
    }
}

int BrowserEndpoints::acquire() {
    int best = -1;
    for (int index = 0; index < m_slots.size(); ++index) {
        if (m_slots[index].state != State::Up || m_slots[index].running >= m_jobs) {
            continue;
        }
        if (isRemote(index) && isDown(index)) {
            // Its connection closed a moment ago, before the browser said so.
            const CdpConnection* connection = m_slots[index].endpoint.browser->connection();
            onLost(index, connection && !connection->closeReason().isEmpty()
                              ? connection->closeReason()
                              : QStringLiteral("the connection closed"));
            continue;
        }
        if (best < 0 || m_slots[index].running < m_slots[best].running) {
            best = index;
        }
    }
    if (best >= 0) {
        ++m_slots[best].running;
    }
    return best;
}

void BrowserEndpoints::release(int index) {
    m_slots[index].running = std::max(0, m_slots[index].running - 1);
}

bool BrowserEndpoints::isDown(int index) const {
    const CdpConnection* connection = m_slots[index].endpoint.browser->connection();
    if (!isRemote(index)) {
        // Not started yet is not down: the next page starts it.
        return connection != nullptr && !connection->isOpen();
    }
    return m_slots[index].state != State::Up || connection == nullptr || !connection->isOpen();
}

bool BrowserEndpoints::exhausted() const {
    return std::all_of(m_slots.cbegin(), m_slots.cend(),
                       [](const Slot& slot) { return slot.state == State::GivenUp; });
}

QString BrowserEndpoints::exhaustedReason() const {
    QStringList reasons;
    for (const Slot& slot : m_slots) {
        reasons.append(slot.lastError);
    }
    return QStringLiteral("no browser is left to capture on (%1)").arg(reasons.join(QStringLiteral("; ")));
}

bool BrowserEndpoints::anyNeverAnswered() const {
    return std::any_of(m_slots.cbegin(), m_slots.cend(),
                       [](const Slot& slot) { return !slot.endpoint.name.isEmpty() && !slot.answered; });
}

void BrowserEndpoints::check(int index) {
    if (m_stopped) {
        return;
    }
    Slot& slot = m_slots[index];
    slot.state = State::Checking;
    Browser& browser = *slot.endpoint.browser;
    QString error;
    if (!browser.ensureStarted(&error)) {
        QTimer::singleShot(0, this, [this, index, error] { onCheckFailed(index, error); });
        return;
    }
    CdpConnection* connection = browser.connection();
    const QString method = QStringLiteral("Browser.getVersion");
    connection->call(method, {}, {}, m_policy.checkMs, this, [this, index, method](const CdpReply& reply) {
        if (reply.ok) {
            onAnswered(index);
        } else if (reply.failure == CdpFailure::Closed &&
                   reply.error.startsWith(method + QStringLiteral(": "))) {
            // The connection's own reason (refused, not a browser, …) says more than the call.
            onCheckFailed(index, reply.error.mid(method.size() + 2));
        } else {
            onCheckFailed(index, reply.error);
        }
    });
}

void BrowserEndpoints::onAnswered(int index) {
    Slot& slot = m_slots[index];
    if (m_stopped || slot.state != State::Checking) {
        return;
    }
    if (slot.failedTries > 0 && slot.answered) {
        emit answersAgain(slot.endpoint.name);
    }
    slot.state = State::Up;
    slot.answered = true;
    slot.failedTries = 0;
    emit changed();
}

void BrowserEndpoints::onCheckFailed(int index, const QString& reason) {
    Slot& slot = m_slots[index];
    if (m_stopped || slot.state != State::Checking) {
        return;
    }
    slot.lastError = withName(slot.endpoint.name, reason);
    ++slot.failedTries;
    const bool noneAnswered = std::none_of(m_slots.cbegin(), m_slots.cend(), [](const Slot& other) {
        return other.answered || (other.state == State::Checking && other.failedTries == 0);
    });
    if (noneAnswered) {
        // Nothing has worked yet: every address is wrong or every browser missing. Say so at once.
        for (int other = 0; other < m_slots.size(); ++other) {
            if (isRemote(other) && m_slots[other].state != State::GivenUp) {
                giveUp(other);
            }
        }
        emit changed();
        return;
    }
    if (slot.failedTries >= m_policy.tries) {
        giveUp(index);
        emit changed();
        return;
    }
    const int delay =
        std::min(m_policy.longestBackOffMs, m_policy.firstBackOffMs << std::min(slot.failedTries - 1, 16));
    emit retrying(slot.lastError, delay);
    slot.state = State::Waiting;
    slot.retry->start(delay);
}

void BrowserEndpoints::onLost(int index, const QString& reason) {
    Slot& slot = m_slots[index];
    ++slot.losses;
    if (!isRemote(index)) {
        return;
    }
    slot.lastError = withName(slot.endpoint.name, reason);
    // With no other browser, the pages wait for this one to come back (or fail once it is given up).
    emit lost(slot.lastError, m_slots.size() > 1);
    slot.state = State::Waiting;
    slot.failedTries = 1;
    if (!m_stopped) {
        slot.retry->start(m_policy.firstBackOffMs);
    }
}

void BrowserEndpoints::giveUp(int index) {
    Slot& slot = m_slots[index];
    slot.state = State::GivenUp;
    slot.retry->stop();
    if (slot.lastError.isEmpty()) {
        slot.lastError = QStringLiteral("%1: does not answer").arg(slot.endpoint.name);
    }
    emit givenUp(slot.lastError);
}

}  // namespace lumiclip
