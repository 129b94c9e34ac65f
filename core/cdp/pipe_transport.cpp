#include "core/cdp/pipe_transport.h"

#include <QPointer>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <utility>

namespace lumiclip {

namespace {

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

PipeTransport::PipeTransport(int writeFd, int readFd, QObject* parent)
    : CdpTransport(parent), m_writeFd(writeFd), m_readFd(readFd) {
    setNonBlocking(m_writeFd);
    setNonBlocking(m_readFd);
    m_readNotifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PipeTransport::onReadable);
    m_writeNotifier = new QSocketNotifier(m_writeFd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PipeTransport::onWritable);
}

PipeTransport::~PipeTransport() {
    if (m_open) {
        m_open = false;
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(false);
        ::close(m_writeFd);
        ::close(m_readFd);
    }
}

bool PipeTransport::send(const QByteArray& message) {
    if (!m_open) {
        return false;
    }
    m_writeBuffer.append(message);
    m_writeBuffer.append('\0');
    flush();
    return m_open;
}

void PipeTransport::flush() {
    while (m_open && !m_writeBuffer.isEmpty()) {
        const ssize_t n =
            ::write(m_writeFd, m_writeBuffer.constData(), static_cast<size_t>(m_writeBuffer.size()));
        if (n > 0) {
            m_writeBuffer.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        close(QStringLiteral("write to browser pipe failed: %1")
                  .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    if (m_open) {
        m_writeNotifier->setEnabled(false);
    }
}

void PipeTransport::onWritable() {
    flush();
}

void PipeTransport::onReadable() {
    // The handlers of messageReceived may close or even delete this transport.
    QPointer<PipeTransport> self(this);
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_readFd, chunk, sizeof chunk);
        if (n > 0) {
            m_readBuffer.append(chunk, n);
            if (n < static_cast<ssize_t>(sizeof chunk)) {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        // End of file or a read error: the peer is gone. Deliver complete messages first.
        const QString reason = n == 0 ? QStringLiteral("browser pipe closed")
                                      : QStringLiteral("read from browser pipe failed: %1")
                                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_readNotifier->setEnabled(false);
        qsizetype start = 0;
        for (qsizetype end; (end = m_readBuffer.indexOf('\0', start)) >= 0; start = end + 1) {
            emit messageReceived(m_readBuffer.mid(start, end - start));
            if (!self || !m_open) {
                return;
            }
        }
        m_readBuffer.clear();
        close(reason);
        return;
    }

    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_readBuffer.indexOf('\0', std::max(start, m_scanFrom));
        if (end < 0) {
            break;
        }
        QByteArray message;
        if (start == 0 && end == m_readBuffer.size() - 1) {
            // The buffer holds this message alone, as it does whenever a large one has come in pieces:
            // handed on as it is rather than copied (a copy of 256 MB is 256 MB more).
            m_readBuffer.truncate(end);
            message = std::exchange(m_readBuffer, QByteArray());
            m_scanFrom = 0;
        } else {
            message = m_readBuffer.mid(start, end - start);
            start = end + 1;
            m_scanFrom = start;
        }
        emit messageReceived(message);
        if (!self || !m_open) {
            return;
        }
    }
    m_readBuffer.remove(0, start);
    // Nothing before m_scanFrom holds a terminator; don't search it again on the next read.
    m_scanFrom = m_readBuffer.size();
    if (m_readBuffer.size() > kMaxMessageBytes) {
        close(QStringLiteral("message from browser larger than %1 bytes").arg(kMaxMessageBytes));
    }
}

void PipeTransport::close(const QString& reason) {
    if (!m_open) {
        return;
    }
    m_open = false;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ::close(m_writeFd);
    ::close(m_readFd);
    m_readBuffer.clear();
    m_writeBuffer.clear();
    emit closed(reason);
}

}  // namespace lumiclip
