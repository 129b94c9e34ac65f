#include "ui/upgrade_commands.h"

#include "widgets/message_box.h"

#include <QDesktopServices>
#include <QUrl>

namespace lumiclip {

namespace {

void showResult(const UpgradeCheckResult& result, void* owner) {
    switch (result.kind) {
        case UpgradeCheckResult::Kind::Error: {
            MessageBoxRequest request;
            request.caption = QStringLiteral("Upgrading Software");
            request.text = result.text;
            request.icon = MessageIcon::Stop;
            request.buttons = MessageButtons::Ok;
            request.owner = nullptr;
            ShowMessageBox(request);
            break;
        }
        case UpgradeCheckResult::Kind::Newer:
            AppMessageBox(result.text, MessageIcon::None, MessageButtons::Ok, owner);
            break;
        case UpgradeCheckResult::Kind::UpToDate:
            AppMessageBox(result.text, MessageIcon::Information, MessageButtons::Ok, owner);
            break;
    }
}

}  // namespace

bool CheckForNewerVersion(const QString& currentVersion, void* owner, UpgradeCheckerOptions options,
                          const QString& downloadBase) {
    CUpgradeChecker checker(std::move(options));
    const bool newer = checker.CheckVersion(QString::fromLatin1(kUpgradeAgent), downloadBase,
                                            QString::fromLatin1(kVersionFileName), currentVersion);
    // Every failure ends the check, so showing the results afterwards keeps the order the user sees.
    for (const UpgradeCheckResult& result : checker.Results()) {
        showResult(result, owner);
    }
    return newer;
}

void OpenProductPage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductPage)));
}

void OpenMakerHomePage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerHomePage)));
}

}  // namespace lumiclip
