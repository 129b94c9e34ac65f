#include "core/image/image_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace lumiclip {

namespace {

// Opens a new file beside the target under a name nobody uses yet (O_EXCL: it is ours alone), with
// 0666 less the umask as any new file gets. Returns the descriptor, or -1 with errno set.
int openTemporaryBeside(const QByteArray& target, QByteArray* temporary) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = target + '.';
        for (int i = 0; i < 6; ++i) {
            temporary->append(
                kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof(kLetters)) - 1)]);
        }
        const int fd = ::open(temporary->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Whether the system's protected-links rule keeps others from following the link at path: it lies in
// a folder that everybody may write and that has the sticky bit, and belongs neither to the one who
// follows it nor to the folder's owner. Resolving links ourselves must not lift that protection.
bool isProtectedLink(const QByteArray& path) {
    struct stat link {};
    struct stat folder {};
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folderPath = slash < 0    ? QByteArray(".")
                                  : slash == 0 ? QByteArray("/")
                                               : path.left(slash);
    if (::lstat(path.constData(), &link) != 0 || ::stat(folderPath.constData(), &folder) != 0) {
        return false;
    }
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid;
}

// writeIntoSpecialFile's answer when the path turned into a regular file after it was looked at.
constexpr int kNowARegularFile = -1;

// Writes bytes into a device or FIFO as it is. A FIFO nobody reads fails at once (ENXIO) rather than
// waiting for a reader forever. Returns 0, an errno, or kNowARegularFile.
int writeIntoSpecialFile(const QByteArray& path, const QByteArray& bytes, bool noFollow) {
    const int fd =
        ::open(path.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) {
        return errno;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode)) {
        ::close(fd);
        return kNowARegularFile;  // replaced meanwhile: written the usual way, whole or not at all
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    int code = WriteAllBytes(fd, bytes.constData(), bytes.size()) ? 0 : errno;
    if (::close(fd) != 0 && code == 0) {
        code = errno;
    }
    return code;
}

}  // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, LinkRule links) {
    // The system's own reason for every failure: a full disk, a read-only file system, a quota.
    const int code = WriteFileAtomicallyErrno(path, bytes, links);
    if (code != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)));
        return false;
    }
    return true;
}

int WriteFileAtomicallyErrno(const QString& path, const QByteArray& bytes, LinkRule links) {
    QByteArray targetPath = QFile::encodeName(path);
    if (links == LinkRule::Follow) {
        // Through a link, the file it points at is replaced, not the link.
        QFileInfo target(path);
        for (int depth = 0; depth < 40 && target.isSymLink(); ++depth) {
            if (isProtectedLink(QFile::encodeName(target.filePath()))) {
                return EACCES;
            }
            target.setFile(target.symLinkTarget());
        }
        targetPath = QFile::encodeName(target.filePath());
    }
    struct stat existing {};
    bool exists = ::lstat(targetPath.constData(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            return EISDIR;
        }
        if (S_ISLNK(existing.st_mode)) {
            // The rename replaces the link itself; nothing of what it points at is kept or read.
            exists = false;
        } else if (!S_ISREG(existing.st_mode)) {
            // A device or a FIFO (-o /dev/null as a dry run): written into, never replaced by a file.
            const int code = writeIntoSpecialFile(targetPath, bytes, links == LinkRule::Replace);
            if (code != kNowARegularFile) {
                return code;
            }
            if (::lstat(targetPath.constData(), &existing) != 0) {
                exists = false;
            }
        } else if (::access(targetPath.constData(), W_OK) != 0) {
            // A file marked read-only keeps its contents, although the rename would replace it.
            return errno;
        }
    }

    QByteArray temporary;
    const int fd = openTemporaryBeside(targetPath, &temporary);
    if (fd < 0) {
        return errno;
    }
    // The new file keeps the permissions of the one it replaces.
    if (exists) {
        ::fchmod(fd, existing.st_mode & 07777);
    }
    // A full disk may show only at the flush or the close, so both are checked before the rename.
    int code = 0;
    if (!WriteAllBytes(fd, bytes.constData(), bytes.size()) || ::fsync(fd) != 0) {
        code = errno;
    }
    if (::close(fd) != 0 && code == 0) {
        code = errno;
    }
    if (code == 0 && ::rename(temporary.constData(), targetPath.constData()) != 0) {
        code = errno;
    }
    if (code != 0) {
        ::unlink(temporary.constData());
    }
    return code;
}

bool WriteAllBytes(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace lumiclip
