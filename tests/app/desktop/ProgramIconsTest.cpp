// Every icon id has a drawing at every size; ZT_ICON_DUMP=folder writes them out to look at.
#include "app/desktop/ProgramIcons.h"

#include "app/desktop/X11HotKeys.h"
#include "platform/X11KeyWatcher.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

// Share of the square that the drawing covers.
double Coverage(const QImage& image)
{
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) > 128;
    return double(covered) / (image.width() * image.height());
}

TEST(ProgramIconsTest, EveryIdIsDrawnAtEverySize)
{
    std::vector<int> ids = {106, 107, 108, 109, 207};
    for (int id = 200; id <= 206; ++id)
        ids.push_back(id);
    for (int id : ids) {
        QIcon icon = ProgramIcon(id);
        ASSERT_FALSE(icon.isNull()) << id;
        for (int size : kProgramIconSizes) {
            QImage image = icon.pixmap(size, size).toImage();
            EXPECT_EQ(image.width(), size) << id;
            double coverage = Coverage(image);
            EXPECT_GT(coverage, 0.35) << id << " at " << size;
        }
    }
    EXPECT_TRUE(ProgramIcon(110).isNull());
    EXPECT_FALSE(AttentionIcon().isNull());
}

TEST(ProgramIconsTest, ConnectedAndNotConnectedLookDifferent)
{
    for (auto [on, off] : {std::pair{106, 202}, std::pair{107, 207}})
        EXPECT_NE(ProgramIcon(on).pixmap(22, 22).toImage(),
                  ProgramIcon(off).pixmap(22, 22).toImage());
    EXPECT_NE(ProgramIcon(106).pixmap(22, 22).toImage(), ProgramIcon(107).pixmap(22, 22).toImage());
}

// Writes one sheet per panel colour: the icons in rows, sizes in columns.
TEST(ProgramIconsTest, SheetsOnLightAndDarkPanels)
{
    QString folder = qEnvironmentVariable("ZT_ICON_DUMP");
    if (folder.isEmpty())
        return; // set ZT_ICON_DUMP to a folder to look at the icons
    QDir().mkpath(folder);
    std::vector<QIcon> icons;
    for (int id : {106, 109, 107, 108, 202, 207, 200, 201, 203, 204, 205, 206})
        icons.push_back(ProgramIcon(id));
    icons.push_back(AttentionIcon());
    for (auto [name, colour] : {std::pair{"light", QColor(0xee, 0xee, 0xee)},
                                std::pair{"dark", QColor(0x20, 0x22, 0x26)}}) {
        QImage sheet(8 + 72 * 6, 8 + 72 * int(icons.size()), QImage::Format_ARGB32);
        sheet.fill(colour);
        QPainter painter(&sheet);
        for (size_t row = 0; row < icons.size(); ++row)
            for (int column = 0; column < 6; ++column) {
                int size = kProgramIconSizes[column];
                painter.drawPixmap(8 + 72 * column, 8 + 72 * int(row),
                                   icons[row].pixmap(size, size));
            }
        painter.end();
        sheet.save(folder + QStringLiteral("/icons-%1.png").arg(QLatin1String(name)));
    }
}

// Offscreen stands for a desktop without X11 (Wayland, say).
TEST(DesktopWithoutX11Test, HotKeysAreUnavailableAndTheKeyWatcherDoesNotStart)
{
    CX11HotKeys hotKeys;
    EXPECT_FALSE(CX11HotKeys::IsAvailable());
    EXPECT_EQ(hotKeys.Register({1, kHotKeySuper, 'g'}), HotKeyResult::Unavailable);
    CX11KeyWatcher watcher;
    EXPECT_FALSE(watcher.Start());
}

} // namespace
