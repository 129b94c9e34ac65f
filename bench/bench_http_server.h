#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>

namespace lumiclip::bench {

// Serves one HTML page at "/" from 127.0.0.1 on an ephemeral port, on a thread of its own so that it
// answers at once whatever the benchmark's thread is doing. Any other path is a 404. One request per
// connection: a fresh browser context opens its own connections anyway.
class BenchHttpServer final : public QThread {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BenchHttpServer)

public:
    explicit BenchHttpServer(QByteArray page);
    ~BenchHttpServer() override;

    // Starts the thread and waits until it listens; false (with the reason) when it cannot.
    bool begin(QString* error);
    QString url() const;
    int hits() const { return m_hits.load(); }

protected:
    void run() override;

private:
    const QByteArray m_page;
    std::atomic<int> m_hits{0};
    QSemaphore m_ready;
    // Written by run() before it releases m_ready, read after begin() acquired it.
    quint16 m_port = 0;
    QString m_error;
};

}  // namespace lumiclip::bench
