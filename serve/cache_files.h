#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The files of the thumbnail cache: their names, and the few system calls it makes on them.
namespace lumiclip::cache_files {

// A key is 64 hex digits, an ETag 32 (the first 16 bytes of the content's SHA-256), an extension at
// most 8 letters and digits.
inline constexpr int kKeyLength = 64;
inline constexpr int kEtagLength = 32;
inline constexpr int kMaxExtensionLength = 8;
// A store under way: "tmp.<key>.<6 letters or digits>".
inline constexpr int kTemporarySuffixLength = 6;
inline constexpr char kTemporaryPrefix[] = "tmp.";
// The file whose lock says which server holds the folder.
inline constexpr char kLockName[] = "lock";

// strerror() may share its buffer between threads; stores fail on any of them.
QString errnoText(int code);

// Exactly length lowercase hex digits; 1 to maxLength lowercase letters and digits.
bool isLowerHex(std::string_view text, qsizetype length);
bool isLowerAlnum(std::string_view text, qsizetype maxLength);
// The bytes as a string view, for the names made of them.
std::string_view view(QByteArrayView bytes);

// An image's ETag without its quotes: the first half of its SHA-256, in hex.
std::string etagHex(const QByteArray& bytes);

// "<key>.<etag>.<extension>".
std::string entryFileName(std::string_view key, std::string_view etag, std::string_view extension);

struct EntryName {
    std::string key;
    std::string etag;
    std::string extension;
};

// "<key>.<etag>.<extension>", every part as the cache writes it; nothing else is taken for an entry.
std::optional<EntryName> parseEntryName(std::string_view name);

// "tmp.<key>.<6 letters or digits>": a store that did not finish.
bool isTemporaryName(std::string_view name);

// A new temporary file for the key, ours alone (O_EXCL), which nobody else may read. -1 with errno set.
int openTemporary(int dirFd, std::string_view key, std::string* name);

// mkdir -p, each folder it makes private to this user; folders that exist keep their permissions (the
// operator's home among them). 0 or an errno.
int makeFolders(const QByteArray& path);

}  // namespace lumiclip::cache_files
