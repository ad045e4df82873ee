#include "ui/LinkStatic.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

TEST(LinkStaticTest, ClickCarriesTheIdAndTheTextReadsWithoutItsMnemonic)
{
    QWidget parent;
    CLinkStatic link(1088, QStringLiteral("&Upgrade..."), &parent);
    EXPECT_EQ(link.accessibleName(), QStringLiteral("Upgrade..."));
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    int clickedId = 0;
    QObject::connect(&link, &CLinkStatic::linkClicked, [&](CLinkStatic* from, int id) {
        EXPECT_EQ(from, &link);
        clickedId = id;
    });
    parent.show();
    QPoint centre = link.rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, link.mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &press);
    EXPECT_TRUE(link.isDown()); // drawn grey while held
    EXPECT_EQ(clickedId, 0);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, link.mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &release);
    EXPECT_EQ(clickedId, 1088);
}

} // namespace
