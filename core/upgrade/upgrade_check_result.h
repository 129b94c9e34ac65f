#pragma once

#include <QString>

namespace lumiclip {

// One thing a version check has to tell the user, in its own words; how it looks is the UI's choice.
struct UpgradeCheckResult {
    enum class Kind {
        Error,     // the check could not be made or could not finish
        Newer,     // the product site offers a newer version
        UpToDate,  // the running version is the latest
    };
    Kind kind = Kind::Error;
    QString text;

    friend bool operator==(const UpgradeCheckResult&, const UpgradeCheckResult&) = default;
};

}  // namespace lumiclip
