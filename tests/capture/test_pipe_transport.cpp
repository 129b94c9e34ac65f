#include "core/cdp/pipe_transport.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QList>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

using namespace lumiclip;
using lumiclip::test::waitUntil;

namespace {

// A transport whose peer is the test: it writes peerWrite (which the transport reads) and reads
// peerRead (which the transport writes).
struct PipePair {
    int peerWrite = -1;
    int peerRead = -1;
    PipeTransport* transport = nullptr;
    QList<QByteArray> received;
    QString closedReason;
    int closedCount = 0;

    PipePair() {
        int toUs[2];
        int toPeer[2];
        EXPECT_EQ(::pipe(toUs), 0);
        EXPECT_EQ(::pipe(toPeer), 0);
        peerWrite = toUs[1];
        ::fcntl(peerWrite, F_SETFL, O_NONBLOCK);
        peerRead = toPeer[0];
        transport = new PipeTransport(toPeer[1], toUs[0]);
        QObject::connect(transport, &PipeTransport::messageReceived, transport,
                         [this](const QByteArray& m) { received.append(m); });
        QObject::connect(transport, &PipeTransport::closed, transport, [this](const QString& r) {
            closedReason = r;
            ++closedCount;
        });
    }
    ~PipePair() {
        delete transport;
        if (peerWrite >= 0) {
            ::close(peerWrite);
        }
        ::close(peerRead);
    }
    void peerSend(const QByteArray& bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            // Non-blocking: the reader is the transport on this very thread.
            const ssize_t n =
                ::write(peerWrite, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else {
                ASSERT_EQ(errno, EAGAIN);
            }
            QCoreApplication::processEvents();
        }
    }
    QByteArray peerReadAll(qsizetype expected) const {
        QByteArray out;
        char buf[65536];
        while (out.size() < expected) {
            QCoreApplication::processEvents();
            const ssize_t n = ::read(peerRead, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.append(buf, n);
        }
        return out;
    }
};

}  // namespace

TEST(PipeTransport, SplitsManyMessagesArrivingInOneRead) {
    PipePair pair;
    QByteArray burst;
    for (int i = 0; i < 500; ++i) {
        burst += "{\"id\":" + QByteArray::number(i) + "}" + '\0';
    }
    pair.peerSend(burst);
    ASSERT_TRUE(waitUntil([&] { return pair.received.size() == 500; }, 5000));
    EXPECT_EQ(pair.received.first(), "{\"id\":0}");
    EXPECT_EQ(pair.received.last(), "{\"id\":499}");
}

TEST(PipeTransport, JoinsAMessageArrivingInPieces) {
    PipePair pair;
    pair.peerSend("{\"a\":");
    waitUntil([] { return false; }, 30);
    EXPECT_TRUE(pair.received.isEmpty());
    pair.peerSend("1}");
    waitUntil([] { return false; }, 30);
    pair.peerSend(QByteArray("\0{\"b\":2}\0", 9));
    ASSERT_TRUE(waitUntil([&] { return pair.received.size() == 2; }, 2000));
    EXPECT_EQ(pair.received[0], "{\"a\":1}");
    EXPECT_EQ(pair.received[1], "{\"b\":2}");
}

TEST(PipeTransport, CarriesATenMegabyteMessageBothWays) {
    PipePair pair;
    const QByteArray big(10 * 1024 * 1024, 'x');
    // Our side sends while the peer reads: the transport must not block on a full pipe.
    ASSERT_TRUE(pair.transport->send(big));
    const QByteArray got = pair.peerReadAll(big.size() + 1);
    ASSERT_EQ(got.size(), big.size() + 1);
    EXPECT_EQ(got.back(), '\0');
    EXPECT_TRUE(got.startsWith(big.left(100)));

    pair.peerSend(big + '\0');
    ASSERT_TRUE(waitUntil([&] { return pair.received.size() == 1; }, 10000));
    EXPECT_EQ(pair.received[0].size(), big.size());
}

TEST(PipeTransport, CloseInTheMiddleOfAMessageDeliversWhatWasCompleteAndReportsOnce) {
    PipePair pair;
    pair.peerSend(QByteArray("{\"whole\":1}\0{\"half", 17));
    ::close(pair.peerWrite);
    pair.peerWrite = -1;
    ASSERT_TRUE(waitUntil([&] { return pair.closedCount == 1; }, 2000));
    ASSERT_EQ(pair.received.size(), 1);
    EXPECT_EQ(pair.received[0], "{\"whole\":1}");
    EXPECT_FALSE(pair.transport->isOpen());
    EXPECT_FALSE(pair.transport->send("late"));
    waitUntil([] { return false; }, 30);
    EXPECT_EQ(pair.closedCount, 1);
}
