#include "app/desktop/ProgramIcons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

struct IconFiles
{
    int Id;
    const char* Large;
    const char* Small; // drawn on whole pixels for 16 px; null: the large one
};

constexpr IconFiles kIcons[] = {
    {106, "app-primary", "app-primary-small"},
    {107, "app-secondary", "app-secondary-small"},
    {109, "app-primary", "app-primary-small"},
    {108, "app-secondary", "app-secondary-small"},
    {200, "frame-200", nullptr},
    {201, "frame-201", nullptr},
    {202, "offline-primary", "offline-primary-small"},
    {203, "frame-203", nullptr},
    {204, "frame-204", nullptr},
    {205, "frame-205", nullptr},
    {206, "frame-206", nullptr},
    {207, "offline-secondary", "offline-secondary-small"},
};

QPixmap Render(const QString& name, int size)
{
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QIcon Build(const char* large, const char* small)
{
    QIcon icon;
    for (int size : kProgramIconSizes) {
        bool useSmall = small && (size == 16);
        icon.addPixmap(Render(QString::fromLatin1(useSmall ? small : large), size));
    }
    return icon;
}

} // namespace

QIcon ProgramIcon(int id)
{
    // Drawn once per id: the tray asks again at every animation frame.
    static QHash<int, QIcon> cache;
    auto found = cache.constFind(id);
    if (found != cache.constEnd())
        return *found;
    for (const IconFiles& files : kIcons)
        if (files.Id == id)
            return cache[id] = Build(files.Large, files.Small);
    return {};
}

QIcon AttentionIcon()
{
    static const QIcon icon = Build("attention", "attention-small");
    return icon;
}
