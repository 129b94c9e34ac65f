// The disk cache of the service when things go wrong: files changed behind it, a disk that refuses, a
// folder that goes, and other threads storing, evicting and looking up at once.
#include "thumb_cache_fixture.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

namespace lumiclip {

TEST_F(ThumbCacheTest, FilesChangedBehindTheCacheAreMissesNotFaults) {
    std::unique_ptr<ThumbCache> cache = open();
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(cache->store(keyOf(i), "image " + QByteArray::number(i), "png"));
    const auto nameOf = [](int i) {
        const QByteArray bytes = "image " + QByteArray::number(i);
        return keyOf(i) + '.' + etagOf(bytes).mid(1, 32) + ".png";
    };
    ASSERT_TRUE(QFile::remove(entriesPath(nameOf(1))));
    ASSERT_TRUE(QFile::remove(entriesPath(nameOf(2))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(entriesPath(nameOf(2))).constData(), 0600), 0);
    ASSERT_TRUE(test::writeFile(entriesPath(nameOf(3)), "an image of another size"));

    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(cache->lookup(keyOf(i))) << i;  // the FIFO does not hold the lookup
    const ThumbCache::Stats stats = cache->stats();
    EXPECT_EQ(stats.misses, 3u);
    EXPECT_EQ(stats.lost, 3u);
    EXPECT_EQ(stats.entries, 0);
    EXPECT_EQ(stats.bytes, 0);
    EXPECT_TRUE(QFileInfo::exists(entriesPath(nameOf(2))));  // what the cache cannot explain, it keeps
    EXPECT_TRUE(QFileInfo::exists(entriesPath(nameOf(3))));
}

// A store the disk refuses part way: the write fails after some of the image went out.
TEST_F(ThumbCacheTest, AStoreTheDiskRefusesLeavesNothingAndKeepsThePreviousImage) {
    std::unique_ptr<ThumbCache> cache = open();
    ASSERT_TRUE(cache->store(keyOf(1), "the previous image", "png"));

    // A limit on the size of files this process writes makes write() fail with EFBIG, root or not.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool stored = cache->store(keyOf(1), QByteArray(20000, 'n'), "png", &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_FALSE(stored);
    EXPECT_TRUE(error.contains(cache->entriesFolder())) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
    EXPECT_EQ(entryFiles().size(), 1);
    EXPECT_EQ(fetch(*cache, keyOf(1)), "the previous image");
    EXPECT_EQ(cache->stats().storeFailures, 1u);
    EXPECT_EQ(cache->stats().stores, 1u);
}

TEST_F(ThumbCacheTest, AStoreIntoAFolderThatIsGoneFailsAndTheEntriesAreMisses) {
    std::unique_ptr<ThumbCache> cache = open();
    ASSERT_TRUE(cache->store(keyOf(1), "image", "png"));
    ASSERT_TRUE(QDir(entriesPath()).removeRecursively());
    ASSERT_TRUE(test::writeFile(entriesPath(), "a file where the folder was"));

    QString error;
    EXPECT_FALSE(cache->store(keyOf(2), "image", "png", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(cache->lookup(keyOf(1)));
    EXPECT_EQ(cache->stats().storeFailures, 1u);
    EXPECT_EQ(cache->stats().entries, 0);
    EXPECT_EQ(test::readFile(entriesPath()), "a file where the folder was");
}

// A folder this user may not write to. Root may write anywhere, so as root a child process drops to
// nobody, for whom the cache's private folder is closed.
TEST_F(ThumbCacheTest, AStoreIntoAFolderThatMayNotBeWrittenFails) {
    std::unique_ptr<ThumbCache> cache = open();
    ASSERT_TRUE(cache->store(keyOf(1), "image", "png"));
    const auto tryStore = [&cache] {
        QString error;
        return !cache->store(keyOf(2), "image", "png", &error) &&
               error.contains(QStringLiteral("Permission denied")) && cache->stats().storeFailures == 1;
    };
    if (::geteuid() == 0) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::_exit(dropped && tryStore() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(entriesPath()).constData(), 0500), 0);
        EXPECT_TRUE(tryStore());
        ::chmod(QFile::encodeName(entriesPath()).constData(), 0700);
    }
    EXPECT_EQ(entryFiles().size(), 1);
}

// Lookups on several threads while two others store the same keys, so that replacements race each
// other and evictions race the lookups.
TEST_F(ThumbCacheTest, ManyThreadsKeepTheIndexTheDiskAndTheCountersInAgreement) {
    // The bound holds the few hot keys, which are stored again before they could be evicted, and some of
    // the many cold ones, which are evicted in turn.
    constexpr int kHot = 8;
    constexpr int kCold = 40;
    constexpr int kKeys = kHot + kCold;
    constexpr int kRounds = 200;
    constexpr int kReaders = 4;
    constexpr int kLookups = 1500;
    constexpr qint64 kBound = 40 * 1024;
    std::unique_ptr<ThumbCache> cache = open(kBound);
    // An image starts with its key and comes in three versions. In a pass over the keys with an even
    // number, the two writers store different versions of a key (one name replaces another); in the
    // others, the same version (a name is renamed over itself).
    const auto imageOf = [](int key, int writer, int pass) {
        const int version = (pass + (pass % 2 == 0 ? writer : 0)) % 3;
        return keyOf(key) + QByteArray(1000 + version * 700, static_cast<char>('a' + version));
    };

    std::atomic<int> wrongImages{0};
    std::atomic<int> failedStores{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([&, writer] {
            for (int round = 0; round < kRounds; ++round) {
                const int hot = round % kHot;
                const int cold = kHot + round % kCold;
                if (!cache->store(keyOf(hot), imageOf(hot, writer, round / kHot), "png") ||
                    !cache->store(keyOf(cold), imageOf(cold, writer, round / kCold), "png"))
                    ++failedStores;
            }
        });
    }
    for (int reader = 0; reader < kReaders; ++reader) {
        threads.emplace_back([&, reader] {
            for (int i = 0; i < kLookups; ++i) {
                const int key = (i * 7 + reader) % kKeys;
                std::optional<ThumbCache::CachedImage> image = cache->lookup(keyOf(key));
                if (!image)
                    continue;
                const QByteArray bytes = readAndClose(image->fd);
                if (bytes.size() != image->size || etagOf(bytes) != image->etag ||
                    !bytes.startsWith(keyOf(key)))
                    ++wrongImages;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(wrongImages.load(), 0);
    EXPECT_EQ(failedStores.load(), 0);
    const ThumbCache::Stats stats = cache->stats();
    EXPECT_EQ(stats.lost, 0u);  // the index never named a file that was not there
    EXPECT_EQ(stats.hits + stats.misses, quint64{kReaders * kLookups});
    EXPECT_EQ(stats.stores, quint64{2 * 2 * kRounds});
    EXPECT_GT(stats.evictions, 0u);
    EXPECT_LE(stats.bytes, kBound);
    // Every entry indexed is one file on disk of that size, and there is no other file.
    qint64 onDisk = 0;
    const QStringList files = entryFiles();
    for (const QString& name : files)
        onDisk += QFileInfo(entriesPath() + QLatin1Char('/') + name).size();
    EXPECT_EQ(files.size(), stats.entries);
    EXPECT_EQ(onDisk, stats.bytes);
    QSet<QString> keys;
    for (const QString& name : files)
        keys.insert(name.left(64));
    EXPECT_EQ(keys.size(), files.size());

    cache.reset();
    cache = open(kBound);
    EXPECT_EQ(cache->stats().entries, stats.entries);
    EXPECT_EQ(cache->stats().bytes, stats.bytes);
}

// The narrowest race: one image stored again and again under its key (the same name renamed over
// itself) while stores of other keys keep evicting it. An eviction must never delete the file of a store
// that the index does not know yet, nor the index keep an entry whose file an eviction took.
TEST_F(ThumbCacheTest, AnEvictionNeverTakesTheFileOfAStoreUnderWay) {
    constexpr int kStores = 400;
    std::unique_ptr<ThumbCache> cache = open(1000);  // room for one image: every store evicts
    const QByteArray hot = keyOf(0);
    const QByteArray image = hot + QByteArray(1000 - hot.size(), 'h');
    std::atomic<bool> done{false};
    std::atomic<int> wrongImages{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([&] {
            for (int i = 0; i < kStores; ++i)
                cache->store(hot, image, "png");
        });
    }
    threads.emplace_back([&] {
        for (int i = 1; i <= kStores; ++i)
            cache->store(keyOf(i), keyOf(i) + QByteArray(1000 - 64, 'c'), "png");
    });
    threads.emplace_back([&] {
        while (!done) {
            if (std::optional<ThumbCache::CachedImage> found = cache->lookup(hot);
                found && readAndClose(found->fd) != image)
                ++wrongImages;
        }
    });
    for (size_t i = 0; i + 1 < threads.size(); ++i)
        threads[i].join();
    done = true;
    threads.back().join();

    EXPECT_EQ(wrongImages.load(), 0);
    const ThumbCache::Stats stats = cache->stats();
    EXPECT_EQ(stats.lost, 0u);
    EXPECT_EQ(stats.stores, quint64{3 * kStores});
    EXPECT_EQ(entryFiles().size(), stats.entries);
}

}  // namespace lumiclip
