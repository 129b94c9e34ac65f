#pragma once

// The maker's web addresses, in one place for the version check, the main window's Help commands, the
// hyperlink labels and the about box. Plain http, no trailing slash unless the address is a bare site.
namespace lumiclip {

// The maker, as it appears in the agent string and the about box.
inline constexpr char kMakerName[] = "Ombrix";

// The maker's main web site (its home page).
inline constexpr char kMakerHomePage[] = "http://www.ombrix.net/";

// The maker's site-recommendation portal, which the main window's link label opens.
inline constexpr char kSiteRecommendationPortal[] = "http://voziri.ombrix.net/";

// The maker's support address, shown in the about box.
inline constexpr char kSupportEmail[] = "support@ombrix.net";

// The product site: scheme and host only, as shown in the newer-version message.
inline constexpr char kProductSite[] = "http://soft.ombrix.net";

// The product's page on the product site.
inline constexpr char kProductPage[] = "http://soft.ombrix.net/lumiclip.php";

// The folder on the product site that holds the version file (no trailing slash).
inline constexpr char kProductDownloadBase[] = "http://soft.ombrix.net/download/lumiclip";

// The version file in that folder.
inline constexpr char kVersionFileName[] = "lumiclip_version.dat";

// The user agent of the version check: maker name, one blank, product name.
inline constexpr char kUpgradeAgent[] = "Ombrix Lumiclip";

}  // namespace lumiclip
