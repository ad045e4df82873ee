#include "ui/HelpCommands.h"

#include "platform/InstanceGuard.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString OpenReadMe(const UrlOpener& open, const QString& folder)
{
    QFile page(QStringLiteral(":/zibtam/readme.htm"));
    if (!page.open(QIODevice::ReadOnly))
        return {};
    // The user's private runtime folder: in the shared temporary folder another user
    // could hold the name first, or swap the file.
    QString dir = folder.isEmpty() ? CInstanceGuard::RuntimeFolder() : folder;
    if (dir.isEmpty())
        return {};
    QString path = QDir(dir).filePath(QString::fromLatin1(kReadMeFileName));
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(page.readAll()) < 0 || !out.commit())
        return {};
    open(QUrl::fromLocalFile(path), nullptr);
    return path;
}
