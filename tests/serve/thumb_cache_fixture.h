#pragma once

// The disk cache under test: a cache on a folder of the test's own, with a clock the test moves.
#include "serve/thumb_cache.h"

#include "support/test_util.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace lumiclip {

inline QByteArray keyOf(int n) {
    return QCryptographicHash::hash(QByteArray::number(n), QCryptographicHash::Sha256).toHex();
}

inline QByteArray etagOf(const QByteArray& bytes) {
    return '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).first(16).toHex() + '"';
}

// Reads the descriptor from its start to its end and closes it.
inline QByteArray readAndClose(int fd) {
    QByteArray bytes;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
        at += n;
    }
    ::close(fd);
    return bytes;
}

class ThumbCacheTest : public ::testing::Test {
protected:
    std::unique_ptr<ThumbCache> open(qint64 maxBytes = 1 << 20, qint64 ttl = 3600) {
        QString error;
        std::unique_ptr<ThumbCache> cache =
            ThumbCache::open(m_dir.path(), maxBytes, ttl, &error, [this] { return m_now.load(); });
        EXPECT_TRUE(cache) << error.toStdString();
        return cache;
    }
    QString entriesPath() const {
        return m_dir.filePath(QString::fromLatin1(ThumbCache::kEntriesFolderName));
    }
    QString entriesPath(const QByteArray& name) const {
        return entriesPath() + QLatin1Char('/') + QString::fromLatin1(name);
    }
    // What the cache keeps in its folder, the lock file aside.
    QStringList entryFiles() const {
        QStringList names =
            QDir(entriesPath())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        names.removeAll(QStringLiteral("lock"));
        return names;
    }
    QByteArray fetch(ThumbCache& cache, const QByteArray& key) {
        const std::optional<ThumbCache::CachedImage> image = cache.lookup(key);
        return image ? readAndClose(image->fd) : QByteArray();
    }

    QTemporaryDir m_dir;
    std::atomic<qint64> m_now{1'700'000'000};
};

}  // namespace lumiclip
