#pragma once

#include "core/upgrade/site_addresses.h"

#include <QString>

namespace lumiclip {

// The main window's link: the site-recommendation portal, "?lumiclip&v=" and the program's version.
inline QString SiteRecommendationLink(const QString& version) {
    return QLatin1String(kSiteRecommendationPortal) + QLatin1String("?lumiclip&v=") + version;
}

// The link label's caption: the address the link opens, without its query.
inline QString SiteRecommendationCaption() {
    return QString::fromUtf8("立即访问voziri ") + QLatin1String(kSiteRecommendationPortal);
}

}  // namespace lumiclip
