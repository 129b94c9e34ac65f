#pragma once

#include "core/cdp/cdp_transport.h"

#include <QSocketNotifier>

namespace lumiclip {

// Carries NUL-terminated messages over a pair of pipe descriptors, inside Qt's event loop. Reads come
// in whatever pieces the pipe gives; a message may span many reads and one read may hold many messages.
// Writes never block: what the pipe does not take now is kept and sent when it is writable again.
// The transport owns both descriptors and closes them.
class PipeTransport final : public CdpTransport {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PipeTransport)

public:
    // writeFd: our end of the pipe the peer reads; readFd: our end of the pipe the peer writes.
    PipeTransport(int writeFd, int readFd, QObject* parent = nullptr);
    ~PipeTransport() override;

    // Queues one message (without its terminator). False once the transport is closed.
    bool send(const QByteArray& message) override;
    bool isOpen() const override { return m_open; }
    // Closes both descriptors; emits closed() once.
    void close(const QString& reason) override;
    // Largest message accepted from the peer; a longer one closes the transport.
    static constexpr qsizetype kMaxMessageBytes = qsizetype{256} * 1024 * 1024;

private:
    void onReadable();
    void onWritable();
    void flush();

    int m_writeFd;
    int m_readFd;
    bool m_open = true;
    QByteArray m_readBuffer;
    qsizetype m_scanFrom = 0;
    QByteArray m_writeBuffer;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
};

}  // namespace lumiclip
