#pragma once
// The Help menu's entries as the chat window and the tray show them: the home page and the
// support address only when the build was given them, never a placeholder.
#include "ui/HelpCommands.h"

#include <QStringList>

inline QStringList HelpItems()
{
    QStringList items{QStringLiteral("&Contents")};
    if (*kHomePageAddress)
        items << QStringLiteral("&Zib Tam Home Page");
    if (*kSupportAddress)
        items << QStringLiteral("&E-mail Support Team...");
    items << QStringLiteral("&About Zib Tam 2.5");
    return items;
}
