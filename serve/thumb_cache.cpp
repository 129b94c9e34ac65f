#include "serve/thumb_cache.h"

#include "core/image/image_writer.h"
#include "serve/cache_files.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace lumiclip {

using namespace cache_files;

std::unique_ptr<ThumbCache> ThumbCache::open(const QString& folder, qint64 maxBytes, qint64 ttlSeconds,
                                             QString* error, Clock clock) {
    if (folder.isEmpty()) {
        *error = QStringLiteral("no cache folder given");
        return nullptr;
    }
    if (maxBytes <= 0 || ttlSeconds <= 0) {
        *error = QStringLiteral("the cache in %1 needs a size and a time to live above 0").arg(folder);
        return nullptr;
    }
    const QByteArray top = QFile::encodeName(QDir::cleanPath(folder));
    if (const int code = makeFolders(top); code != 0) {
        *error = QStringLiteral("cannot create the cache folder %1: %2").arg(folder, errnoText(code));
        return nullptr;
    }
    const QByteArray entries = top + '/' + kEntriesFolderName;
    const QString entriesPath = QFile::decodeName(entries);
    if (::mkdir(entries.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create the cache folder %1: %2").arg(entriesPath, errnoText(errno));
        return nullptr;
    }
    const int dirFd = ::open(entries.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        const int code = errno;
        struct stat link {};
        const bool isLink = ::lstat(entries.constData(), &link) == 0 && S_ISLNK(link.st_mode);
        *error =
            isLink ? QStringLiteral("the cache folder %1 is a symbolic link").arg(entriesPath)
                   : QStringLiteral("cannot open the cache folder %1: %2").arg(entriesPath, errnoText(code));
        return nullptr;
    }
    // In a folder that others may write (--cache /tmp), somebody could have made the subfolder first and
    // would then choose what the service sends.
    struct stat info {};
    QString refusal;
    if (::fstat(dirFd, &info) != 0)
        refusal = QStringLiteral("cannot open the cache folder %1: %2").arg(entriesPath, errnoText(errno));
    else if (info.st_uid != ::geteuid())
        refusal = QStringLiteral("the cache folder %1 belongs to another user").arg(entriesPath);
    else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        refusal = QStringLiteral("the cache folder %1 may be written by other users").arg(entriesPath);
    if (!refusal.isEmpty()) {
        ::close(dirFd);
        *error = refusal;
        return nullptr;
    }
    // flock, not a lock file's presence: the kernel lets go when the process dies, so a crash never
    // leaves the folder locked. Locks of two open() calls exclude each other even in one process. The
    // file is never deleted: whoever waits on a deleted lock file holds a lock on nothing.
    const int lockFd = ::openat(dirFd, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (lockFd >= 0)
            ::close(lockFd);
        ::close(dirFd);
        *error =
            code == EWOULDBLOCK
                ? QStringLiteral("the cache folder %1 is in use by another server").arg(folder)
                : QStringLiteral("cannot lock the cache folder %1: %2").arg(entriesPath, errnoText(code));
        return nullptr;
    }
    if (!clock)
        clock = [] { return QDateTime::currentSecsSinceEpoch(); };
    std::unique_ptr<ThumbCache> cache(
        new ThumbCache(entriesPath, dirFd, lockFd, maxBytes, ttlSeconds, std::move(clock)));
    cache->indexFolder();
    return cache;
}

ThumbCache::ThumbCache(QString entriesPath, int dirFd, int lockFd, qint64 maxBytes, qint64 ttlSeconds,
                       Clock clock)
    : m_entriesPath(std::move(entriesPath)),
      m_dirFd(dirFd),
      m_lockFd(lockFd),
      m_maxBytes(maxBytes),
      m_ttlSeconds(ttlSeconds),
      m_clock(std::move(clock)) {}

ThumbCache::~ThumbCache() {
    ::close(m_dirFd);
    ::close(m_lockFd);  // lets the next server have the folder
}

bool ThumbCache::isValidKey(QByteArrayView key) {
    return isLowerHex(view(key), kKeyLength);
}

bool ThumbCache::isValidExtension(QByteArrayView extension) {
    return isLowerAlnum(view(extension), kMaxExtensionLength);
}

// Only this process uses the folder now (it holds the lock), so a temporary file is what a store left
// when the process died, and goes. Recency is not kept on disk: the index starts ordered by the time
// each image was stored.
void ThumbCache::indexFolder() {
    struct Found {
        EntryName name;
        qint64 size = 0;
        qint64 storedAt = 0;
    };
    std::vector<Found> found;
    const int listFd = ::dup(m_dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (dir == nullptr) {
        if (listFd >= 0)
            ::close(listFd);
        return;  // an empty index: what cannot be listed is not served
    }
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name(item->d_name);
        struct stat info {};
        if (::fstatat(m_dirFd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;  // links, folders, devices: not the cache's, whatever their names
        if (isTemporaryName(name)) {
            ::unlinkat(m_dirFd, item->d_name, 0);
        } else if (std::optional<EntryName> entry = parseEntryName(name)) {
            found.push_back(Found{std::move(*entry), static_cast<qint64>(info.st_size),
                                  static_cast<qint64>(info.st_mtim.tv_sec)});
        }
    }
    ::closedir(dir);

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.storedAt != b.storedAt ? a.storedAt < b.storedAt : a.name.etag < b.name.etag;
    });
    const qint64 now = m_clock();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Found& file : found) {
        const std::string fileName = entryFileName(file.name.key, file.name.etag, file.name.extension);
        // A store never renames an empty file into place, so an empty one is a file system's loss.
        if (file.size == 0) {
            ::unlinkat(m_dirFd, fileName.c_str(), 0);
            continue;
        }
        Entry entry;
        entry.etag = std::move(file.name.etag);
        entry.extension = std::move(file.name.extension);
        entry.size = file.size;
        entry.storedAt = file.storedAt;
        if (isExpired(entry, now)) {
            ::unlinkat(m_dirFd, fileName.c_str(), 0);
            ++m_stats.expirations;
            continue;
        }
        // Two images of one key: the process died between renaming the new one into place and removing
        // the old. Sorted by age, the later one wins.
        if (auto older = m_entries.find(file.name.key); older != m_entries.end())
            removeLocked(older);
        entry.recency = m_recency.insert(m_recency.end(), file.name.key);
        m_stats.bytes += entry.size;
        ++m_stats.entries;
        m_entries.emplace(std::move(file.name.key), std::move(entry));
    }
    evictToBoundLocked();
}

void ThumbCache::forgetLocked(std::unordered_map<std::string, Entry>::iterator entry) {
    m_stats.bytes -= entry->second.size;
    --m_stats.entries;
    m_recency.erase(entry->second.recency);
    m_entries.erase(entry);
}

// A response may still be sending the file from a descriptor; unlinking leaves it readable to the end.
void ThumbCache::removeLocked(std::unordered_map<std::string, Entry>::iterator entry) {
    const std::string fileName = entryFileName(entry->first, entry->second.etag, entry->second.extension);
    ::unlinkat(m_dirFd, fileName.c_str(), 0);
    forgetLocked(entry);
}

// The entry just stored is the most recent and fits the bound alone, so it is never the one evicted. A
// file that cannot be unlinked leaves the index all the same: kept there, it would hold the total over
// the bound for good; the next start counts it again.
void ThumbCache::evictToBoundLocked() {
    while (m_stats.bytes > m_maxBytes && !m_recency.empty()) {
        removeLocked(m_entries.find(m_recency.front()));
        ++m_stats.evictions;
    }
}

bool ThumbCache::store(QByteArrayView key, const QByteArray& bytes, QByteArrayView extension,
                       QString* error) {
    const auto refuse = [error](const QString& text) {
        if (error != nullptr)
            *error = text;
        return false;
    };
    if (!isValidKey(key))
        return refuse(QStringLiteral("a cache key is 64 lowercase hex digits"));
    if (!isValidExtension(extension))
        return refuse(QStringLiteral("a cached image's extension is 1 to 8 lowercase letters and digits"));
    if (bytes.isEmpty())
        return refuse(QStringLiteral("an empty image is not cached"));
    if (bytes.size() > m_maxBytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_stats.tooLarge;
        return refuse(QStringLiteral("an image of %1 bytes is larger than the cache (%2 bytes)")
                          .arg(QString::number(bytes.size()), QString::number(m_maxBytes)));
    }
    const auto failed = [this, &refuse](int code) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_stats.storeFailures;
        }
        return refuse(QStringLiteral("cannot store an image in %1: %2").arg(m_entriesPath, errnoText(code)));
    };

    // The slow part, outside the lock: the whole image into a file of its own, on the disk before the
    // rename, so that a crash never leaves a name in place over a file with less than the image in it.
    const qint64 now = m_clock();
    const std::string etag = etagHex(bytes);
    std::string temporary;
    const int fd = openTemporary(m_dirFd, view(key), &temporary);
    if (fd < 0)
        return failed(errno);
    int code = 0;
    // The file's modification time is when it was stored, by the cache's clock: after a restart it is
    // the entry's age without reading the file.
    const timespec times[2] = {{static_cast<time_t>(now), 0}, {static_cast<time_t>(now), 0}};
    if (!WriteAllBytes(fd, bytes.constData(), bytes.size()) || ::futimens(fd, times) != 0 || ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code != 0) {
        ::unlinkat(m_dirFd, temporary.c_str(), 0);
        return failed(code);
    }

    // The names on disk and the index change together, so that a store of the same key or an eviction
    // on another thread sees both before or both after.
    const std::string keyText(view(key));
    const std::string fileName = entryFileName(keyText, etag, view(extension));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (::renameat(m_dirFd, temporary.c_str(), m_dirFd, fileName.c_str()) != 0) {
        code = errno;
        ::unlinkat(m_dirFd, temporary.c_str(), 0);
        ++m_stats.storeFailures;
        return refuse(QStringLiteral("cannot store an image in %1: %2").arg(m_entriesPath, errnoText(code)));
    }
    if (auto previous = m_entries.find(keyText); previous != m_entries.end()) {
        // The same content under the same extension has the same name, and the rename replaced it.
        if (previous->second.etag == etag && previous->second.extension == view(extension))
            forgetLocked(previous);
        else
            removeLocked(previous);
    }
    Entry entry;
    entry.etag = etag;
    entry.extension = std::string(view(extension));
    entry.size = bytes.size();
    entry.storedAt = now;
    entry.recency = m_recency.insert(m_recency.end(), keyText);
    m_entries.emplace(keyText, std::move(entry));
    m_stats.bytes += bytes.size();
    ++m_stats.entries;
    ++m_stats.stores;
    evictToBoundLocked();
    return true;
}

std::optional<ThumbCache::CachedImage> ThumbCache::lookup(QByteArrayView key) {
    if (!isValidKey(key))
        return std::nullopt;
    const qint64 now = m_clock();
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(std::string(view(key)));
    if (found == m_entries.end()) {
        ++m_stats.misses;
        return std::nullopt;
    }
    Entry& entry = found->second;
    if (isExpired(entry, now)) {
        removeLocked(found);
        ++m_stats.expirations;
        ++m_stats.misses;
        return std::nullopt;
    }
    // Opened under the lock, so that no eviction or replacement comes between the index and the name.
    // O_NONBLOCK: a FIFO put in the file's place would otherwise hold the lock, and every request, until
    // somebody wrote to it; on a regular file it changes nothing.
    const std::string fileName = entryFileName(found->first, entry.etag, entry.extension);
    const int fd =
        ::openat(m_dirFd, fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != entry.size) {
        // Gone, or no longer what the cache wrote there: not served, and not deleted either, since the
        // cache cannot tell what it is.
        if (fd >= 0)
            ::close(fd);
        forgetLocked(found);
        ++m_stats.lost;
        ++m_stats.misses;
        return std::nullopt;
    }
    m_recency.splice(m_recency.end(), m_recency, entry.recency);
    ++m_stats.hits;
    CachedImage image;
    image.fd = fd;
    image.size = entry.size;
    image.extension = QByteArray::fromStdString(entry.extension);
    image.etag = '"' + QByteArray::fromStdString(entry.etag) + '"';
    image.ageSeconds = std::max<qint64>(0, now - entry.storedAt);
    image.freshSeconds = m_ttlSeconds - image.ageSeconds;
    return image;
}

int ThumbCache::removeExpired() {
    const qint64 now = m_clock();
    std::lock_guard<std::mutex> lock(m_mutex);
    int removed = 0;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const auto next = std::next(it);
        if (isExpired(it->second, now)) {
            removeLocked(it);
            ++m_stats.expirations;
            ++removed;
        }
        it = next;
    }
    return removed;
}

ThumbCache::Stats ThumbCache::stats() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

QByteArray ThumbCache::etagFor(const QByteArray& bytes) {
    return '"' + QByteArray::fromStdString(etagHex(bytes)) + '"';
}

}  // namespace lumiclip
