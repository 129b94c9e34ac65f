#include "serve/cache_files.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumiclip::cache_files {

// strerror() may share its buffer between threads; stores fail on any of them.
QString errnoText(int code) {
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(code, buffer, sizeof buffer));
}

bool isLowerHex(std::string_view text, qsizetype length) {
    return static_cast<qsizetype>(text.size()) == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool isLowerAlnum(std::string_view text, qsizetype maxLength) {
    return !text.empty() && static_cast<qsizetype>(text.size()) <= maxLength &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

std::string_view view(QByteArrayView bytes) {
    return {bytes.data(), static_cast<size_t>(bytes.size())};
}

// An image's ETag without its quotes: the first half of its SHA-256, in hex.
std::string etagHex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).first(16).toHex().toStdString();
}

std::string entryFileName(std::string_view key, std::string_view etag, std::string_view extension) {
    std::string name;
    name.reserve(key.size() + etag.size() + extension.size() + 2);
    name.append(key).append(1, '.').append(etag).append(1, '.').append(extension);
    return name;
}

// "<key>.<etag>.<extension>", every part as the cache writes it; nothing else is taken for an entry.
std::optional<EntryName> parseEntryName(std::string_view name) {
    if (name.size() < kKeyLength + kEtagLength + 3 || name[kKeyLength] != '.' ||
        name[kKeyLength + 1 + kEtagLength] != '.')
        return std::nullopt;
    EntryName parts{std::string(name.substr(0, kKeyLength)),
                    std::string(name.substr(kKeyLength + 1, kEtagLength)),
                    std::string(name.substr(kKeyLength + kEtagLength + 2))};
    if (!isLowerHex(parts.key, kKeyLength) || !isLowerHex(parts.etag, kEtagLength) ||
        !isLowerAlnum(parts.extension, kMaxExtensionLength))
        return std::nullopt;
    return parts;
}

// "tmp.<key>.<6 letters or digits>": a store that did not finish.
bool isTemporaryName(std::string_view name) {
    constexpr size_t prefix = sizeof kTemporaryPrefix - 1;
    if (name.size() != prefix + kKeyLength + 1 + kTemporarySuffixLength ||
        name.substr(0, prefix) != kTemporaryPrefix || name[prefix + kKeyLength] != '.' ||
        !isLowerHex(name.substr(prefix, kKeyLength), kKeyLength))
        return false;
    const std::string_view suffix = name.substr(prefix + kKeyLength + 1);
    return std::all_of(suffix.begin(), suffix.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// A new temporary file for the key, ours alone (O_EXCL), which nobody else may read. -1 with errno set.
int openTemporary(int dirFd, std::string_view key, std::string* name) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name->assign(kTemporaryPrefix).append(key).append(1, '.');
        for (int i = 0; i < kTemporarySuffixLength; ++i)
            name->push_back(
                kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kLetters) - 1)]);
        const int fd =
            ::openat(dirFd, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// mkdir -p, each folder it makes private to this user; folders that exist keep their permissions (the
// operator's home among them). 0 or an errno.
int makeFolders(const QByteArray& path) {
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        const QByteArray prefix = path.left(end);
        struct stat existing {};
        if (::stat(prefix.constData(), &existing) == 0) {
            if (!S_ISDIR(existing.st_mode))
                return ENOTDIR;
            continue;
        }
        if (::mkdir(prefix.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

}  // namespace lumiclip::cache_files
