#pragma once

#include <QString>

namespace lumiclip {

// One settings file, read and written with the rules of ui/profile_format.h. Text is UTF-8.
// Every write rewrites the file atomically (a temporary file in the same folder, then a rename), so a
// crash or a full disk never leaves a half-written file: a write either replaces the whole file or leaves
// the old one untouched.
class CIniFile final {
public:
    CIniFile() = default;
    explicit CIniFile(const QString& path) : m_path(path) {}

    // The full path of the settings file. Set once, before any read.
    void SetPath(const QString& path) { m_path = path; }
    const QString& Path() const { return m_path; }

    // The key's value (at most its first 499 bytes); empty when the file, the section or the key is
    // missing or the file cannot be read.
    QString ReadString(const QString& section, const QString& key) const;

    // Writes one key, creating the file, the section or the key when missing. Note the argument order:
    // value first, section last. False, with the file as it was, when the file cannot be written (for
    // example a read-only file or folder) or the entry would break the file's form (a line break in the
    // value, a '=' in the key, ...).
    bool WriteString(const QString& value, const QString& key, const QString& section);

private:
    QString m_path;
};

}  // namespace lumiclip
