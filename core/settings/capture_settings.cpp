#include "core/settings/capture_settings.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <climits>

namespace lumiclip {

namespace {

QString latin1(const char* s) {
    return QString::fromLatin1(s);
}

bool isCSpace(QChar c) {
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r';
}

QString asciiLower(QString s) {
    for (QChar& c : s) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            c = QChar(static_cast<char16_t>(c.unicode() - u'A' + u'a'));
        }
    }
    return s;
}

QString executableDir() {
    if (QCoreApplication::instance() != nullptr) {
        return QCoreApplication::applicationDirPath();
    }
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// Whether two paths name one folder. The executable's folder comes with links resolved (/bin is a link
// to /usr/bin on Debian), so both sides are resolved before they are compared.
bool sameFolder(const QString& a, const QString& b) {
    const QString realA = QFileInfo(a).canonicalFilePath();
    const QString realB = QFileInfo(b).canonicalFilePath();
    if (!realA.isEmpty() && !realB.isEmpty()) {
        return realA == realB;
    }
    return QDir::cleanPath(QDir(a).absolutePath()) == QDir::cleanPath(QDir(b).absolutePath());
}

}  // namespace

QString DefaultOutputFile() {
    return QDir::homePath() + QStringLiteral("/website");
}

int SettingToInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    // Accumulate the magnitude, stopping at just past the int range so that long inputs cannot overflow.
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
        }
        ++i;
    }
    if (negative) {
        return static_cast<int>(-magnitude);  // -kLimit is INT_MIN
    }
    return magnitude >= kLimit ? INT_MAX : static_cast<int>(magnitude);
}

QString ReadSetting(const CIniFile& ini, const QString& section, const QString& key,
                    const QString& defaultText) {
    QString value = ini.ReadString(section, key);
    if (value.isEmpty()) {
        return defaultText;
    }
    return value;
}

CaptureSettings LoadCaptureSettings(const CIniFile& ini, QString* defaultUrl) {
    const QString section = latin1(kCaptureSection);
    auto read = [&](const char* key, const QString& defaultText) {
        return ReadSetting(ini, section, latin1(key), defaultText);
    };
    CaptureSettings settings;
    settings.web_width = SettingToInt(read("web_width", QStringLiteral("810")));
    settings.web_height = SettingToInt(read("web_height", QStringLiteral("600")));
    settings.img_width = SettingToInt(read("img_width", QStringLiteral("180")));
    settings.img_height = SettingToInt(read("img_height", QStringLiteral("138")));
    settings.img_format = read("img_format", QStringLiteral("JPG"));
    const QString url = read("default_url", latin1(kDefaultUrl));
    if (defaultUrl != nullptr) {
        *defaultUrl = url;
    }
    settings.default_file = read("default_file", DefaultOutputFile());
    return settings;
}

CaptureSettings LoadCaptureSettings(const QString& iniPath, QString* defaultUrl) {
    const CIniFile ini(iniPath);
    return LoadCaptureSettings(ini, defaultUrl);
}

bool StoreCaptureSettings(CIniFile& ini, const CaptureSettings& settings, const QString& defaultUrl) {
    const QString section = latin1(kCaptureSection);
    bool ok = true;
    auto write = [&](const QString& value, const char* key) {
        ok = ini.WriteString(value, latin1(key), section) && ok;
    };
    write(QString::number(settings.web_width), "web_width");
    write(QString::number(settings.web_height), "web_height");
    write(QString::number(settings.img_width), "img_width");
    write(QString::number(settings.img_height), "img_height");
    write(settings.img_format, "img_format");
    write(defaultUrl, "default_url");
    return ok;
}

QString OutputPathFor(const CaptureSettings& settings) {
    return settings.default_file + asciiLower(QLatin1Char('.') + settings.img_format);
}

QString InstallBinDir() {
    return QStringLiteral(LUMICLIP_INSTALL_BINDIR);
}

QString SettingsFilePathFor(const QString& exeDir, const QString& configHome, const QString& installBinDir) {
    const QString fileName = latin1(kSettingsFileName);
    QString beside = exeDir + QLatin1Char('/') + fileName;
    const bool installed = !exeDir.isEmpty() && !installBinDir.isEmpty() && sameFolder(exeDir, installBinDir);
    if (!installed && !exeDir.isEmpty() && (QFileInfo::exists(beside) || QFileInfo(exeDir).isWritable())) {
        return beside;
    }
    const QString home = configHome.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : configHome;
    const QString dir = home + QStringLiteral("/lumiclip");
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + fileName;
}

QString SettingsFilePath() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome)) {
        configHome.clear();  // the base directory rules ignore relative values
    }
    // The Debian package puts the programs in /usr/bin whatever prefix the build was configured for.
    const QString exeDir = executableDir();
    const QString packageBinDir = QStringLiteral("/usr/bin");
    return SettingsFilePathFor(
        exeDir, configHome,
        !exeDir.isEmpty() && sameFolder(exeDir, packageBinDir) ? packageBinDir : InstallBinDir());
}

}  // namespace lumiclip
