// The product's version and maker details, in one place for the programs'
// version blocks, the About box and the updater. Plain macros: the resource compiler
// reads this file too.
#pragma once

#define BRIM_VERSION_MAJOR 2
#define BRIM_VERSION_MINOR 4
#define BRIM_VERSION_BUILD 1
#define BRIM_VERSION_REVISION 0
#define BRIM_VERSION_TEXT "2.4.1.0"

#define BRIM_COMPANY_NAME "Velloran"
#define BRIM_PRODUCT_NAME "Brimline"
#define BRIM_COPYRIGHT "Copyright © 2026 Velloran"

// The maker's support address and web page (About box links).
#define BRIM_SUPPORT_EMAIL L"support@velloran.example"
#define BRIM_WEB_SITE_URL L"https://www.velloran.example/brimline"

// The maker's update feed, which the updater reads unless the administrator's
// policy names another (UpdateFeedUrl).
#define BRIM_UPDATE_FEED_URL L"https://www.velloran.example/brimline/update.txt"
