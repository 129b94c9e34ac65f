#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumiclip {

// The images the service made, kept on disk so that the same request is answered without a browser.
//
// On disk: the folder given (created 0700 when missing) holds one subfolder of the cache's own,
// kEntriesFolderName, and nothing else of the cache's. In it, each image is a file named
// "<key>.<etag>.<extension>" (the key as given, the ETag's 32 hex digits, the extension), written to a
// temporary file "tmp.<key>.<6 letters or digits>" first and renamed into place, and a file "lock" that a
// running cache holds an flock on. The cache deletes only files of those two name patterns in its subfolder,
// and never follows a symbolic link there: whatever else an operator keeps in the folder, or even in the
// subfolder, stays as it is.
//
// A file once renamed into place is never written again, only replaced by another rename or unlinked.
// So the descriptor that lookup() hands out always reads one whole image, even when the entry is
// replaced or evicted while a response still streams it: the unlinked file lives on until the
// descriptor is closed.
//
// Every member may be called from any thread. Stores write the image outside the lock; the index and
// the names on disk change together under it.
class ThumbCache final {
public:
    // Seconds since the epoch.
    using Clock = std::function<qint64()>;

    static constexpr char kEntriesFolderName[] = "lumiclip-thumbnails";

    struct CachedImage {
        int fd = -1;  // read-only, close-on-exec; the caller closes it (or hands it on to be closed)
        qint64 size = 0;
        QByteArray extension;  // "png", "jpg", ...
        QByteArray etag;       // with its quotes, as the header carries it
        qint64 ageSeconds = 0;
        qint64 freshSeconds = 0;  // left before it expires; more than 0
    };

    struct Stats {
        quint64 hits = 0;
        quint64 misses = 0;
        quint64 evictions = 0;    // to stay within the size bound
        quint64 expirations = 0;  // older than the time to live
        quint64 stores = 0;
        quint64 storeFailures = 0;  // the disk refused
        quint64 tooLarge = 0;       // larger than the whole bound, so never kept
        quint64 lost = 0;           // the file was gone or changed when asked for (also a miss)
        qint64 entries = 0;
        qint64 bytes = 0;
    };

    // Takes the folder for this process (nullptr with *error naming the folder when another cache holds
    // it, or it cannot be made or used), removes what an interrupted store left, and indexes the images
    // found, less the expired ones and the least recent ones beyond maxBytes. The clock defaults to the
    // system's; a clock given is called from any thread.
    static std::unique_ptr<ThumbCache> open(const QString& folder, qint64 maxBytes, qint64 ttlSeconds,
                                            QString* error, Clock clock = {});
    ~ThumbCache();
    ThumbCache(const ThumbCache&) = delete;
    ThumbCache& operator=(const ThumbCache&) = delete;

    // 64 lowercase hex digits.
    static bool isValidKey(QByteArrayView key);
    // 1 to 8 lowercase letters and digits.
    static bool isValidExtension(QByteArrayView extension);
    // The ETag an image gets, with its quotes: that of a capture answered before (or without) its entry.
    static QByteArray etagFor(const QByteArray& bytes);

    // Keeps the image under the key, replacing what the key held, then evicts the least recently used
    // entries until the total fits the bound. False with *error (when given) when the image was not
    // kept: a key or extension not valid, an empty image, one larger than the bound, or the disk's
    // refusal (the reason as the system words it). The key's previous image then stays as it was, and
    // no part of the new one is left on disk.
    bool store(QByteArrayView key, const QByteArray& bytes, QByteArrayView extension,
               QString* error = nullptr);

    // The key's image when it is there and fresh, which makes it the most recently used. An expired
    // entry is removed; one whose file is gone or cannot be opened is forgotten: both are misses.
    std::optional<CachedImage> lookup(QByteArrayView key);

    // Removes every expired entry (lookup() removes them only as they are asked for). Returns how many.
    int removeExpired();

    Stats stats() const;
    QString entriesFolder() const { return m_entriesPath; }
    qint64 maxBytes() const { return m_maxBytes; }
    qint64 ttlSeconds() const { return m_ttlSeconds; }

private:
    struct Entry {
        std::string etag;  // 32 hex digits, no quotes
        std::string extension;
        qint64 size = 0;
        qint64 storedAt = 0;
        std::list<std::string>::iterator recency;  // its place in m_recency
    };

    ThumbCache(QString entriesPath, int dirFd, int lockFd, qint64 maxBytes, qint64 ttlSeconds, Clock clock);

    void indexFolder();
    // The callers hold m_mutex. forgetLocked() leaves the file where it is; removeLocked() deletes it.
    void forgetLocked(std::unordered_map<std::string, Entry>::iterator entry);
    void removeLocked(std::unordered_map<std::string, Entry>::iterator entry);
    void evictToBoundLocked();
    bool isExpired(const Entry& entry, qint64 now) const { return now - entry.storedAt >= m_ttlSeconds; }

    const QString m_entriesPath;
    const int m_dirFd;   // the entries folder, every name in it resolved from here
    const int m_lockFd;  // holds the flock while this cache lives
    const qint64 m_maxBytes;
    const qint64 m_ttlSeconds;
    const Clock m_clock;

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::list<std::string> m_recency;  // keys, the least recently used first
    Stats m_stats;
};

}  // namespace lumiclip
