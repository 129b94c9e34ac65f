#pragma once

#include "core/upgrade/site_addresses.h"

#include <QString>

namespace lumiclip {

// The main window's link: the site-recommendation portal, "?lumiclip&v=" and the program's version.
inline QString SiteRecommendationLink(const QString& version) {
    return QLatin1String(kSiteRecommendationPortal) + QLatin1String("?lumiclip&v=") + version;
}

}  // namespace lumiclip
