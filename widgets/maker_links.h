#pragma once

#include <QString>

namespace lumiclip {

// The maker's addresses that the link labels show. Plain http on the maker's domains.
inline constexpr char kLinkMakerHomePage[] = "http://www.ombrix.net/";
inline constexpr char kLinkSiteRecommendationPortal[] = "http://voziri.ombrix.net/";
inline constexpr char kSupportEmail[] = "support@ombrix.net";

// The main window's link: the site-recommendation portal, "?lumiclip&v=" and the program's version.
inline QString SiteRecommendationLink(const QString& version) {
    return QLatin1String(kLinkSiteRecommendationPortal) + QLatin1String("?lumiclip&v=") + version;
}

}  // namespace lumiclip
