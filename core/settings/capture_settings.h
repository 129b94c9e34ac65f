#pragma once

#include "core/settings/ini_file.h"

#include <QDir>
#include <QString>

namespace lumiclip {

// The section of the settings file that holds the capture settings.
inline constexpr char kCaptureSection[] = "capture";
// The settings file's name.
inline constexpr char kSettingsFileName[] = "Lumiclip.ini";
// The address shown at start when the settings file names none.
inline constexpr char kDefaultUrl[] = "https://www.sina.com.cn/";

// The output path without extension used when the settings file names none: ~/website.
QString DefaultOutputFile();

// The capture parameters as loaded from the settings file. Sizes in pixels; no range is enforced here
// (the options dialog enforces 10..1024 when the user confirms it). img_format is kept exactly as read.
struct CaptureSettings {
    QString default_file = DefaultOutputFile();
    int img_width = 180;
    int img_height = 138;
    int web_height = 600;
    int web_width = 810;
    QString img_format = QStringLiteral("JPG");
};

// The integer value of a text as the C library's atoi reads it: optional leading white space, an optional
// sign, then decimal digits up to the first other character; 0 without leading digits ("1024px" -> 1024,
// "abc" -> 0, " -5" -> -5). Unlike atoi, a number beyond the int range saturates to INT_MAX or INT_MIN.
int SettingToInt(const QString& text);

// The key's value from ini; when that is exactly the empty string, defaultText instead. A present but
// blank value therefore reads as the default, while any non-empty value, even "0", is taken as it is.
QString ReadSetting(const CIniFile& ini, const QString& section, const QString& key,
                    const QString& defaultText);

// The load sequence: reads web_width, web_height, img_width, img_height, img_format, default_url and
// default_file from section "capture", in that order, each with its default. The address is not part
// of the record; it goes to *defaultUrl when that is given.
CaptureSettings LoadCaptureSettings(const CIniFile& ini, QString* defaultUrl = nullptr);
// The same, from the settings file at iniPath (e.g. SettingsFilePath()).
CaptureSettings LoadCaptureSettings(const QString& iniPath, QString* defaultUrl = nullptr);

// The store sequence: writes web_width, web_height, img_width, img_height (as plain decimals),
// img_format and default_url to section "capture", in that order. default_file is never written. Every
// write is tried even if one fails; true when all six succeeded. On failure the caller keeps its values
// in memory.
bool StoreCaptureSettings(CIniFile& ini, const CaptureSettings& settings, const QString& defaultUrl);

// The output path of a capture: default_file + "." + img_format, with only the appended "." + format
// lower-cased (file names are case-sensitive here, so the folder part is kept as it is). A blank format
// gives a path ending in ".".
QString OutputPathFor(const CaptureSettings& settings);

// Where the settings file lives. An installed program (its folder is the install tree's program
// folder, e.g. /usr/bin) keeps it in $XDG_CONFIG_HOME/lumiclip/Lumiclip.ini (by default
// ~/.config/lumiclip/), creating that folder; root may write /usr/bin, so writability alone cannot tell.
// Elsewhere (the build folder, a copy in a folder of the user's) Lumiclip.ini lives beside the
// executable when that file exists or that folder is writable (portable use), otherwise in the
// configuration home as well.
QString SettingsFilePath();
// The same rule for a given executable folder, configuration home and install program folder (tests,
// and callers that know them). An empty configHome means ~/.config; an empty installBinDir means the
// program is never taken as installed.
QString SettingsFilePathFor(const QString& exeDir, const QString& configHome,
                            const QString& installBinDir = QString());
// The install tree's program folder this build was configured for (CMAKE_INSTALL_FULL_BINDIR).
QString InstallBinDir();

}  // namespace lumiclip
