#include "core/settings/ini_file.h"

#include "core/settings/profile_format.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <string>

namespace lumiclip {

namespace {

std::string toStd(const QString& s) {
    return s.toUtf8().toStdString();
}

}  // namespace

QString CIniFile::ReadString(const QString& section, const QString& key) const {
    QFile file(m_path);
    if (m_path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    const std::string value =
        ReadProfileValue(std::string_view(bytes.constData(), bytes.size()), toStd(section), toStd(key));
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

bool CIniFile::WriteString(const QString& value, const QString& key, const QString& section) {
    if (m_path.isEmpty()) {
        return false;
    }
    const std::string v = toStd(value);
    const std::string k = toStd(key);
    const std::string s = toStd(section);
    if (!IsWritableProfileEntry(s, k, v)) {
        return false;
    }

    std::string text;
    const QFileInfo info(m_path);
    if (info.exists()) {
        // A file marked read-only keeps its contents, although the rename would replace it.
        if (!info.isFile() || !info.isWritable()) {
            return false;
        }
        QFile current(m_path);
        if (!current.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray bytes = current.readAll();
        if (current.error() != QFileDevice::NoError) {
            return false;
        }
        text.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    if (!WriteProfileValue(text, s, k, v)) {
        return false;
    }

    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(text.size());
    if (out.write(text.data(), size) != size) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

}  // namespace lumiclip
