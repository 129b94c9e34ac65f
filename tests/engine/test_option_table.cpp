// The request model's one validator and its profiles, the one list of wait names, the desktop's format
// rule, and the option table every front end reads.
#include "cli/cli_options.h"
#include "core/capture/capture_request.h"
#include "core/engine/option_table.h"
#include "core/image/image_format.h"
#include "core/settings/capture_settings.h"

#include <gtest/gtest.h>

namespace lumiclip::test {

namespace {

CaptureRequest sized(int vw, int vh, int iw, int ih) {
    CaptureRequest request;
    request.page.viewWidth = vw;
    request.page.viewHeight = vh;
    request.image.width = iw;
    request.image.height = ih;
    return request;
}

}  // namespace

TEST(CaptureRequestCheck, EachProfileHasItsOwnSidesAndFormats) {
    // The options dialog's 10 to 1024; what a settings file may hold beyond it; the command line's sides
    // of 0.
    EXPECT_EQ(CheckCaptureRequest(sized(9, 600, 180, 138), kDesktopProfile),
              QStringLiteral("view width 9 is out of range (10 to 1024 pixels)"));
    EXPECT_EQ(CheckCaptureRequest(sized(810, 600, 180, 1025), kDesktopProfile),
              QStringLiteral("image height 1025 is out of range (10 to 1024 pixels)"));
    EXPECT_TRUE(CheckCaptureRequest(sized(10, 1024, 10, 1024), kDesktopProfile).isEmpty());
    EXPECT_TRUE(CheckCaptureRequest(sized(2000, 600, 1, 138), kSettingsProfile).isEmpty());
    EXPECT_FALSE(CheckCaptureRequest(sized(810, 600, 0, 138), kSettingsProfile).isEmpty());
    EXPECT_TRUE(CheckCaptureRequest(sized(810, 600, 0, 138), kCommandLineProfile).isEmpty());
    EXPECT_EQ(CheckCaptureRequest(sized(810, 600, 0, 0), kCommandLineProfile),
              QStringLiteral("image size 0x0 has no side to keep the proportions from"));
    EXPECT_FALSE(CheckCaptureRequest(sized(16385, 600, 180, 138), kCommandLineProfile).isEmpty());

    CaptureRequest webp = sized(810, 600, 180, 138);
    webp.image.format = QStringLiteral("WEBP");
    EXPECT_TRUE(CheckCaptureRequest(webp, kCommandLineProfile).isEmpty());
    EXPECT_EQ(CheckCaptureRequest(webp, kDesktopProfile),
              QStringLiteral("unknown format \"WEBP\" (JPG, GIF, PNG)"));
    webp.image.width = 16384;
    EXPECT_TRUE(
        CheckCaptureRequest(webp, kCommandLineProfile).contains(QStringLiteral("too large for WEBP")));
    webp.image.format = QStringLiteral("webp");  // the request holds the table's names only
    EXPECT_FALSE(CheckCaptureRequest(webp, kCommandLineProfile).isEmpty());

    CaptureRequest dense = sized(8192, 600, 180, 138);
    dense.page.scaleFactor = 2;
    EXPECT_TRUE(CheckCaptureRequest(dense).isEmpty());
    dense.page.scaleFactor = 2.01;
    EXPECT_EQ(CheckCaptureRequest(dense),
              QStringLiteral("view 8192x600 at scale factor 2.01 is over 16384 device pixels"));
    dense.page.scaleFactor = 0.5;
    EXPECT_FALSE(CheckCaptureRequest(dense).isEmpty());
}

TEST(CaptureRequestCheck, TheDesktopNeverWritesOneFormatUnderAnothersName) {
    // The file is named after the settings' format: the bytes follow the name, or there is no file.
    EXPECT_STREQ(DesktopImageFormat(QStringLiteral("PNG"))->name, "PNG");
    EXPECT_STREQ(DesktopImageFormat(QStringLiteral("png"))->name, "PNG");
    EXPECT_STREQ(DesktopImageFormat(QStringLiteral("Gif"))->name, "GIF");
    EXPECT_STREQ(DesktopImageFormat(QString())->name, "JPG");
    EXPECT_EQ(DesktopImageFormat(QStringLiteral("WEBP")), nullptr);
    EXPECT_EQ(DesktopImageFormat(QStringLiteral("BMP")), nullptr);
    EXPECT_EQ(DesktopImageFormat(QStringLiteral("JPEG")), nullptr);
}

TEST(CaptureRequestCheck, WaitNamesGoBothWaysFromOneList) {
    for (WaitCondition condition :
         {WaitCondition::Load, WaitCondition::DomContentLoaded, WaitCondition::NetworkIdle}) {
        WaitCondition back = WaitCondition::Load;
        ASSERT_TRUE(WaitConditionNamed(WaitConditionName(condition).toUpper(), &back));
        EXPECT_EQ(back, condition);
        EXPECT_TRUE(WaitConditionNames().contains(WaitConditionName(condition)));
        EXPECT_FALSE(WaitConditionLifecycleEvent(condition).isEmpty());
    }
    WaitCondition unchanged = WaitCondition::NetworkIdle;
    EXPECT_FALSE(WaitConditionNamed(QStringLiteral("idle"), &unchanged));
    EXPECT_EQ(unchanged, WaitCondition::NetworkIdle);
}

TEST(OptionTable, EveryCaptureOptionIsAFlagOfTheCommandLineAndAParameterOfTheService) {
    const std::vector<CliOptionRow>& cli = CliOptionRows();
    const QString help = CliUsage();
    QStringList parameters;
    for (const CaptureOptionRow& row : CaptureOptionRows()) {
        const auto it = std::find_if(cli.cbegin(), cli.cend(),
                                     [&row](const CliOptionRow& c) { return c.name == row.name; });
        ASSERT_NE(it, cli.cend()) << qPrintable(row.name);
        EXPECT_TRUE(help.contains(
            row.longFlag() + (row.valueName.isEmpty() ? QString() : QStringLiteral(" ") + row.valueName)))
            << qPrintable(row.name);
        EXPECT_FALSE(row.parameterName().contains(QLatin1Char('-')));
        parameters.append(row.parameterName());
    }
    EXPECT_TRUE(parameters.contains(QStringLiteral("full_page")));
    EXPECT_TRUE(parameters.contains(QStringLiteral("scale_factor")));
    // Names, short flags and parameters are each taken once.
    QStringList names;
    QList<char> shorts;
    for (const CliOptionRow& row : cli) {
        EXPECT_FALSE(names.contains(row.name)) << qPrintable(row.name);
        names.append(row.name);
        if (row.shortName) {
            EXPECT_FALSE(shorts.contains(row.shortName)) << row.shortName;
            shorts.append(row.shortName);
        }
    }
}

TEST(OptionTable, ARowAppliesTheSameValueWhoeverReadsIt) {
    // The command line's flag and the row itself (as the service will apply a parameter) give one request.
    CliOptions parsed;
    QString error;
    ASSERT_EQ(
        ParseCliArguments({QStringLiteral("--size=0x100"), QStringLiteral("-H"), QStringLiteral("X-A: 1"),
                           QStringLiteral("--wait"), QStringLiteral("NetworkIdle"), QStringLiteral("--dark"),
                           QStringLiteral("http://a/")},
                          &parsed, &error),
        ParseStatus::Ok)
        << error.toStdString();
    CaptureRequest direct;
    ASSERT_TRUE(FindCaptureOption(QStringLiteral("size"))
                    ->apply(QStringLiteral("size"), QStringLiteral("0x100"), &direct, &error));
    ASSERT_TRUE(FindCaptureOption(QStringLiteral("header"))
                    ->apply(QStringLiteral("header"), QStringLiteral("X-A: 1"), &direct, &error));
    ASSERT_TRUE(FindCaptureOption(QStringLiteral("wait"))
                    ->apply(QStringLiteral("wait"), QStringLiteral("NetworkIdle"), &direct, &error));
    ASSERT_TRUE(
        FindCaptureOption(QStringLiteral("dark"))->apply(QStringLiteral("dark"), QString(), &direct, &error));
    EXPECT_EQ(direct, parsed.capture);
    // A message names the option as its reader wrote it.
    EXPECT_FALSE(FindCaptureOption(QStringLiteral("quality"))
                     ->apply(QStringLiteral("quality"), QStringLiteral("101"), &direct, &error));
    EXPECT_EQ(error, QStringLiteral("quality: \"101\" is not a number from 1 to 100"));
    // What reads this machine's files is the command line's alone.
    EXPECT_FALSE(FindCaptureOption(QStringLiteral("javascript"))->remote);
    EXPECT_TRUE(FindCaptureOption(QStringLiteral("selector"))->remote);
}

TEST(OptionTable, SettingsDefaultsComeFromTheRowsThatHaveAKeyAndAreCheckedByTheSettingsRules) {
    CaptureSettings settings;
    settings.web_width = 2000;  // beyond the dialog's range, as a hand-edited file may hold
    settings.img_width = 0;
    settings.img_format = QStringLiteral("webp");
    CaptureRequest request;
    EXPECT_TRUE(FindCaptureOption(QStringLiteral("view"))->fromSettings(settings, &request).isEmpty());
    EXPECT_EQ(request.page.viewWidth, 2000);
    // A side of 0 is the flag's alone: the file's sizes are exact.
    EXPECT_EQ(FindCaptureOption(QStringLiteral("size"))->fromSettings(settings, &request),
              QStringLiteral("image width 0 is out of range (1 to 16384 pixels)"));
    EXPECT_TRUE(FindCaptureOption(QStringLiteral("format"))->fromSettings(settings, &request).isEmpty());
    EXPECT_EQ(request.image.format, QStringLiteral("WEBP"));
    int withDefaults = 0;
    for (const CaptureOptionRow& row : CaptureOptionRows()) {
        withDefaults += row.fromSettings ? 1 : 0;
    }
    EXPECT_EQ(withDefaults, 3);  // view, size, format: what the settings file holds
}

}  // namespace lumiclip::test
