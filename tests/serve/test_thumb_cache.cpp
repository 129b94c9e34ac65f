// The disk cache of the service: what a store leaves on disk, what a lookup hands out, and what stays
// true when the disk, the clock, a restart or other threads get in the way.
#include "thumb_cache_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace lumiclip {

TEST_F(ThumbCacheTest, AStoredImageComesBackThroughItsDescriptor) {
    std::unique_ptr<ThumbCache> cache = open(1 << 20, 600);
    const QByteArray png = "\x89PNG\r\n\x1a\n" + QByteArray(5000, 'p');
    QString error;
    ASSERT_TRUE(cache->store(keyOf(1), png, "png", &error)) << error.toStdString();

    m_now += 15;
    std::optional<ThumbCache::CachedImage> image = cache->lookup(keyOf(1));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size, png.size());
    EXPECT_EQ(image->extension, "png");
    EXPECT_EQ(image->etag, etagOf(png));
    EXPECT_EQ(image->ageSeconds, 15);
    EXPECT_EQ(image->freshSeconds, 585);
    EXPECT_EQ(::fcntl(image->fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_TRUE(::fcntl(image->fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(readAndClose(image->fd), png);

    // On disk: the key, the ETag and the extension in the name, readable by this user alone.
    const QString name = QString::fromLatin1(keyOf(1) + '.' + etagOf(png).mid(1, 32) + ".png");
    EXPECT_EQ(entryFiles(), QStringList{name});
    EXPECT_EQ(QFileInfo(entriesPath()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(entriesPath() + QLatin1Char('/') + name).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1'700'000'000);  // stored at, by the cache's clock

    EXPECT_FALSE(cache->lookup(keyOf(2)));
    const ThumbCache::Stats stats = cache->stats();
    EXPECT_EQ(stats.hits, 1u);
    EXPECT_EQ(stats.misses, 1u);
    EXPECT_EQ(stats.stores, 1u);
    EXPECT_EQ(stats.entries, 1);
    EXPECT_EQ(stats.bytes, png.size());
}

TEST_F(ThumbCacheTest, AStoreReplacesTheKeyWhileADescriptorHandedOutStillReadsTheOldImage) {
    std::unique_ptr<ThumbCache> cache = open();
    ASSERT_TRUE(cache->store(keyOf(1), QByteArray(300, 'a'), "png"));
    std::optional<ThumbCache::CachedImage> streaming = cache->lookup(keyOf(1));
    ASSERT_TRUE(streaming);

    ASSERT_TRUE(cache->store(keyOf(1), QByteArray(200, 'b'), "webp"));
    std::optional<ThumbCache::CachedImage> image = cache->lookup(keyOf(1));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->extension, "webp");
    EXPECT_EQ(image->etag, etagOf(QByteArray(200, 'b')));
    EXPECT_NE(image->etag, streaming->etag);
    EXPECT_EQ(readAndClose(image->fd), QByteArray(200, 'b'));
    EXPECT_EQ(readAndClose(streaming->fd), QByteArray(300, 'a'));  // a response under way ends as it began
    EXPECT_EQ(entryFiles().size(), 1);
    EXPECT_EQ(cache->stats().entries, 1);
    EXPECT_EQ(cache->stats().bytes, 200);

    // The same image again, under this key or another, has the same ETag; one file a key, bytes counted
    // once.
    ASSERT_TRUE(cache->store(keyOf(1), QByteArray(200, 'b'), "webp"));
    ASSERT_TRUE(cache->store(keyOf(2), QByteArray(200, 'b'), "webp"));
    const auto etagAt = [&cache](int i) {
        const std::optional<ThumbCache::CachedImage> found = cache->lookup(keyOf(i));
        return found ? (::close(found->fd), found->etag) : QByteArray();
    };
    EXPECT_EQ(etagAt(1), etagAt(2));
    EXPECT_EQ(etagAt(1), etagOf(QByteArray(200, 'b')));
    EXPECT_EQ(entryFiles().size(), 2);
    EXPECT_EQ(cache->stats().bytes, 400);
    EXPECT_EQ(cache->stats().stores, 4u);
}

TEST_F(ThumbCacheTest, KeysExtensionsAndEmptyImagesThatCannotBeNamesAreRefused) {
    std::unique_ptr<ThumbCache> cache = open();
    const QByteArray key = keyOf(1);
    const QList<QByteArray> badKeys = {key.toUpper(),      key.left(63),          key + '0',
                                       "../" + key.mid(3), key.left(60) + "/../", QByteArray(),
                                       key.left(63) + 'g'};
    for (const QByteArray& bad : badKeys) {
        QString error;
        EXPECT_FALSE(ThumbCache::isValidKey(bad)) << bad.constData();
        EXPECT_FALSE(cache->store(bad, "image", "png", &error)) << bad.constData();
        EXPECT_TRUE(error.contains(QStringLiteral("key"))) << error.toStdString();
        EXPECT_FALSE(cache->lookup(bad));
    }
    const QList<QByteArray> badExtensions = {"PNG", "p/g", "", "abcdefghi", ".png", QByteArray("png\0", 4),
                                             "pn g"};
    for (const QByteArray& bad : badExtensions) {
        QString error;
        EXPECT_FALSE(cache->store(key, "image", bad, &error)) << bad.constData();
        EXPECT_TRUE(error.contains(QStringLiteral("extension"))) << error.toStdString();
    }
    EXPECT_FALSE(cache->store(key, QByteArray(), "png"));
    EXPECT_TRUE(ThumbCache::isValidExtension("jp2"));
    EXPECT_TRUE(cache->store(key, "image", "abcdefgh"));
    EXPECT_EQ(entryFiles().size(), 1);
    const ThumbCache::Stats stats = cache->stats();
    EXPECT_EQ(stats.misses, 0u);  // a caller's mistake is no miss
    EXPECT_EQ(stats.storeFailures, 0u);
}

TEST_F(ThumbCacheTest, EntriesSurviveARestartWithTheirAge) {
    {
        std::unique_ptr<ThumbCache> cache = open();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(cache->store(keyOf(i), QByteArray(100 + i, 'a' + i), "png"));
    }
    m_now += 40;
    std::unique_ptr<ThumbCache> cache = open();
    EXPECT_EQ(cache->stats().entries, 3);
    EXPECT_EQ(cache->stats().bytes, 303);
    for (int i = 0; i < 3; ++i) {
        std::optional<ThumbCache::CachedImage> image = cache->lookup(keyOf(i));
        ASSERT_TRUE(image) << i;
        EXPECT_EQ(image->etag, etagOf(QByteArray(100 + i, 'a' + i)));
        EXPECT_EQ(image->ageSeconds, 40);
        EXPECT_EQ(readAndClose(image->fd), QByteArray(100 + i, 'a' + i));
    }
}

TEST_F(ThumbCacheTest, AnEntryExpiresAtItsTimeToLive) {
    std::unique_ptr<ThumbCache> cache = open(1 << 20, 100);
    ASSERT_TRUE(cache->store(keyOf(1), "old", "png"));
    m_now += 50;
    ASSERT_TRUE(cache->store(keyOf(2), "new", "png"));

    m_now += 49;
    std::optional<ThumbCache::CachedImage> last = cache->lookup(keyOf(1));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->freshSeconds, 1);
    ::close(last->fd);
    m_now += 1;
    EXPECT_FALSE(cache->lookup(keyOf(1)));
    EXPECT_EQ(entryFiles().size(), 1);  // removed from disk, not only from the index
    EXPECT_EQ(cache->stats().expirations, 1u);
    EXPECT_EQ(cache->stats().misses, 1u);
    EXPECT_EQ(cache->stats().bytes, 3);

    // Not asked for, an expired entry goes when it is swept, or when the next server starts.
    ASSERT_TRUE(cache->store(keyOf(3), "newest", "png"));
    m_now += 50;
    EXPECT_EQ(cache->removeExpired(), 1);
    EXPECT_EQ(entryFiles().size(), 1);
    cache.reset();
    m_now += 100;
    cache = open(1 << 20, 100);
    EXPECT_EQ(cache->stats().entries, 0);
    EXPECT_EQ(cache->stats().expirations, 1u);
    EXPECT_TRUE(entryFiles().isEmpty());
}

TEST_F(ThumbCacheTest, TheLeastRecentlyUsedGoFirstAndALookupProtects) {
    std::unique_ptr<ThumbCache> cache = open(300);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(cache->store(keyOf(i), QByteArray(100, 'x'), "png"));
        m_now += 1;
    }
    std::optional<ThumbCache::CachedImage> hit = cache->lookup(keyOf(1));
    ASSERT_TRUE(hit);
    ::close(hit->fd);
    ASSERT_TRUE(cache->store(keyOf(4), QByteArray(100, 'y'), "png"));  // 2 is now the least recent
    EXPECT_FALSE(fetch(*cache, keyOf(2)).size());
    EXPECT_EQ(fetch(*cache, keyOf(1)).size(), 100);
    EXPECT_EQ(fetch(*cache, keyOf(3)).size(), 100);
    EXPECT_EQ(fetch(*cache, keyOf(4)).size(), 100);
    EXPECT_EQ(entryFiles().size(), 3);
    EXPECT_EQ(cache->stats().evictions, 1u);
    EXPECT_EQ(cache->stats().bytes, 300);

    // One image larger than the bound is not kept, and costs the others nothing.
    QString error;
    EXPECT_FALSE(cache->store(keyOf(5), QByteArray(301, 'z'), "png", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("larger"))) << error.toStdString();
    EXPECT_EQ(cache->stats().tooLarge, 1u);
    EXPECT_EQ(cache->stats().entries, 3);
    EXPECT_EQ(entryFiles().size(), 3);
    // One exactly as large as the bound takes the place of all the others.
    ASSERT_TRUE(cache->store(keyOf(5), QByteArray(300, 'z'), "png"));
    EXPECT_EQ(entryFiles().size(), 1);
    EXPECT_EQ(cache->stats().evictions, 4u);
}

TEST_F(ThumbCacheTest, ARestartWithASmallerBoundKeepsTheLatestStored) {
    {
        std::unique_ptr<ThumbCache> cache = open();
        for (int i = 1; i <= 4; ++i) {
            ASSERT_TRUE(cache->store(keyOf(i), QByteArray(100, 'x'), "png"));
            m_now += 1;
        }
    }
    std::unique_ptr<ThumbCache> cache = open(250);
    EXPECT_EQ(cache->stats().entries, 2);
    EXPECT_EQ(cache->stats().evictions, 2u);
    EXPECT_EQ(entryFiles().size(), 2);
    EXPECT_FALSE(cache->lookup(keyOf(2)));
    EXPECT_EQ(fetch(*cache, keyOf(3)).size(), 100);
    EXPECT_EQ(fetch(*cache, keyOf(4)).size(), 100);
}

TEST_F(ThumbCacheTest, ASecondCacheOnTheFolderIsRefusedWhileTheFirstLives) {
    std::unique_ptr<ThumbCache> first = open();
    QString error;
    EXPECT_FALSE(ThumbCache::open(m_dir.path(), 1000, 60, &error));
    EXPECT_TRUE(error.contains(m_dir.path())) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("in use"))) << error.toStdString();
    first.reset();
    EXPECT_TRUE(open());
}

TEST_F(ThumbCacheTest, OpeningRemovesWhatACrashLeftAndNothingElse) {
    const QByteArray key = keyOf(1);
    {
        std::unique_ptr<ThumbCache> cache = open();
        ASSERT_TRUE(cache->store(key, "older", "png"));
        m_now += 5;
        ASSERT_TRUE(cache->store(keyOf(2), "kept", "png"));
    }
    const QByteArray olderName = key + '.' + etagOf("older").mid(1, 32) + ".png";
    const QByteArray keptName = keyOf(2) + '.' + etagOf("kept").mid(1, 32) + ".png";
    // What a crash leaves: a store not finished; the newer image of a key renamed into place before the
    // older one was removed; an empty file where the file system lost an image's data.
    ASSERT_TRUE(test::writeFile(entriesPath("tmp." + key + ".Ab3dE9"), "half an ima"));
    const QByteArray newerName = key + '.' + etagOf("newer").mid(1, 32) + ".jpg";
    ASSERT_TRUE(test::writeFile(entriesPath(newerName), "newer"));
    const QByteArray emptyName = keyOf(3) + '.' + etagOf("").mid(1, 32) + ".png";
    ASSERT_TRUE(test::writeFile(entriesPath(emptyName), ""));
    // What is not the cache's, even where it looks like it: the operator's files beside the cache, files
    // in its folder under other names, a folder and a link named as entries (the link leads out).
    ASSERT_TRUE(test::writeFile(m_dir.filePath(QStringLiteral("notes.txt")), "mine"));
    ASSERT_TRUE(test::writeFile(m_dir.filePath(QString::fromLatin1("tmp." + key + ".Ab3dE9")), "mine"));
    ASSERT_TRUE(test::writeFile(m_dir.filePath(QString::fromLatin1(keptName)), "mine"));
    const QList<QByteArray> foreign = {"notes.txt",
                                       "tmp." + key + ".Ab3dE",
                                       "tmp." + key + ".Ab3dE9.bak",
                                       key.toUpper() + '.' + etagOf("x").mid(1, 32) + ".png",
                                       key + '.' + etagOf("x").mid(1, 32) + ".PNG",
                                       key + ".png"};
    for (const QByteArray& name : foreign)
        ASSERT_TRUE(test::writeFile(entriesPath(name), "mine"));
    const QByteArray folderName = keyOf(4) + '.' + etagOf("d").mid(1, 32) + ".png";
    ASSERT_TRUE(QDir(entriesPath()).mkdir(QString::fromLatin1(folderName)));
    const QByteArray linkName = keyOf(5) + '.' + etagOf("mine").mid(1, 32) + ".png";
    const QString outside = m_dir.filePath(QStringLiteral("secret"));
    ASSERT_TRUE(test::writeFile(outside, "mine"));
    ASSERT_TRUE(QFile::link(outside, entriesPath(linkName)));
    const QByteArray tempLinkName = "tmp." + keyOf(5) + ".Zz9zZ9";
    ASSERT_TRUE(QFile::link(outside, entriesPath(tempLinkName)));

    m_now += 5;
    std::unique_ptr<ThumbCache> cache = open();
    EXPECT_EQ(cache->stats().entries, 2);
    EXPECT_EQ(fetch(*cache, key), "newer");
    EXPECT_EQ(fetch(*cache, keyOf(2)), "kept");
    EXPECT_FALSE(cache->lookup(keyOf(4)));
    EXPECT_FALSE(cache->lookup(keyOf(5)));

    QStringList expected = {QString::fromLatin1(newerName), QString::fromLatin1(keptName),
                            QString::fromLatin1(folderName), QString::fromLatin1(linkName),
                            QString::fromLatin1(tempLinkName)};
    for (const QByteArray& name : foreign)
        expected.append(QString::fromLatin1(name));
    expected.sort();
    EXPECT_EQ(entryFiles(), expected);
    EXPECT_FALSE(QFile::exists(entriesPath(olderName)));
    EXPECT_EQ(test::readFile(outside), "mine");
    for (const char* name : {"notes.txt", "secret"})
        EXPECT_EQ(test::readFile(m_dir.filePath(QString::fromLatin1(name))), "mine") << name;
    EXPECT_EQ(test::readFile(m_dir.filePath(QString::fromLatin1("tmp." + key + ".Ab3dE9"))), "mine");
    EXPECT_EQ(test::readFile(m_dir.filePath(QString::fromLatin1(keptName))), "mine");

    // Eviction, too, deletes only what the cache indexed.
    cache.reset();
    cache = open(1);
    EXPECT_EQ(cache->stats().entries, 0);
    expected.removeAll(QString::fromLatin1(newerName));
    expected.removeAll(QString::fromLatin1(keptName));
    EXPECT_EQ(entryFiles(), expected);
}

TEST_F(ThumbCacheTest, TheFolderIsMadePrivateAndAFolderNotTheCachesIsRefused) {
    QString error;
    const QString nested = m_dir.filePath(QStringLiteral("a/b/c"));
    std::unique_ptr<ThumbCache> cache = ThumbCache::open(nested, 1000, 60, &error);
    ASSERT_TRUE(cache) << error.toStdString();
    for (const QString& path : {m_dir.filePath(QStringLiteral("a")), nested, cache->entriesFolder()}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << path.toStdString();
    }
    cache.reset();

    // A folder that exists keeps its permissions: it may be the operator's home.
    const QString shared = m_dir.filePath(QStringLiteral("shared"));
    ASSERT_EQ(::mkdir(QFile::encodeName(shared).constData(), 0755), 0);
    ASSERT_TRUE(ThumbCache::open(shared, 1000, 60, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(shared).permissions() & QFile::ReadOther, QFile::ReadOther);

    // Made by somebody else beforehand: a link to elsewhere, or a subfolder others may write.
    const QString linked = m_dir.filePath(QStringLiteral("linked"));
    ASSERT_TRUE(QDir().mkpath(linked + QStringLiteral("/elsewhere")));
    ASSERT_TRUE(QFile::link(linked + QStringLiteral("/elsewhere"),
                            linked + QLatin1Char('/') + QString::fromLatin1(ThumbCache::kEntriesFolderName)));
    EXPECT_FALSE(ThumbCache::open(linked, 1000, 60, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("symbolic link"))) << error.toStdString();
    const QString open = m_dir.filePath(QStringLiteral("open"));
    const QByteArray openEntries = QFile::encodeName(open) + '/' + ThumbCache::kEntriesFolderName;
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(openEntries)));
    ASSERT_EQ(::chmod(openEntries.constData(), 0777), 0);
    EXPECT_FALSE(ThumbCache::open(open, 1000, 60, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("other users"))) << error.toStdString();

    const QString file = m_dir.filePath(QStringLiteral("file"));
    ASSERT_TRUE(test::writeFile(file, "x"));
    EXPECT_FALSE(ThumbCache::open(file + QStringLiteral("/cache"), 1000, 60, &error));
    EXPECT_TRUE(error.contains(file)) << error.toStdString();
    EXPECT_FALSE(ThumbCache::open(m_dir.path(), 0, 60, &error));
    EXPECT_FALSE(ThumbCache::open(m_dir.path(), 1000, 0, &error));
}

}  // namespace lumiclip
