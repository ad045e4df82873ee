#pragma once
// The Help menu's commands that need no window: the read-me page and the two fixed
// addresses of our own.
#include "view/OpenLink.h"

#include <QString>

inline constexpr char kHomePageAddress[] = "https://zibtam.example.org/";
inline constexpr char kSupportAddress[] = "mailto:support@zibtam.example.org";
inline constexpr char kReadMeFileName[] = "Zib Tam Read Me.htm";

// "&Contents": writes the embedded read-me page to `folder` (the user's private runtime
// folder when empty) under kReadMeFileName, replacing an earlier copy, and opens it. Returns the
// path written, or an empty text when the file could not be written.
QString OpenReadMe(const UrlOpener& open, const QString& folder = QString());
