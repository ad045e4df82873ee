#pragma once
// The Help menu's commands that need no window: the read-me page and the two fixed
// addresses of our own.
#include "view/OpenLink.h"

#include <QString>

// Our home page and support address are given when the program is built (ZT_HOME_PAGE,
// ZT_SUPPORT_EMAIL); without one, the Help menus leave its entry out rather than point at
// an address nobody answers.
#ifndef ZT_HOME_PAGE
#define ZT_HOME_PAGE ""
#endif
#ifndef ZT_SUPPORT_EMAIL
#define ZT_SUPPORT_EMAIL ""
#endif
inline constexpr char kHomePageAddress[] = ZT_HOME_PAGE;
inline constexpr char kSupportAddress[] = ZT_SUPPORT_EMAIL;
inline constexpr char kReadMeFileName[] = "Zib Tam Read Me.htm";

// "&Contents": writes the embedded read-me page to `folder` (the user's private runtime
// folder when empty) under kReadMeFileName, replacing an earlier copy, and opens it. Returns the
// path written, or an empty text when the file could not be written.
QString OpenReadMe(const UrlOpener& open, const QString& folder = QString());
