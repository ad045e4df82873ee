#include "ui/LinkStatic.h"

#include "PaletteSupport.h"

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

// The link's own colour on the usual light face; on a dark face the same hue lightened
// until the drawn text reads (a contrast of 4.5 at least), held down too.
TEST(LinkStaticTest, ColourReadsOnLightAndDarkFaces)
{
    const QColor light(240, 240, 240);
    const QPalette dark = DarkPalette();
    for (QColor own : {CLinkStatic::LinkColor(), QColor(0x80, 0x00, 0x80)}) {
        for (bool down : {false, true}) {
            SCOPED_TRACE(own.name().toStdString() + (down ? " held down" : ""));
            QWidget face;
            face.setAutoFillBackground(true);
            QPalette palette = face.palette();
            palette.setColor(QPalette::Window, light);
            face.setPalette(palette);
            CLinkStatic link(1, QStringLiteral("<Turing Technology>"), &face);
            link.SetColor(own);
            link.setDown(down);
            link.resize(link.sizeHint());
            face.resize(link.size());
            EXPECT_EQ(link.ShownColor(), down ? CLinkStatic::PressedColor() : own);

            face.setPalette(dark);
            EXPECT_GE(TextContrast(face.grab().toImage()), 4.5);
            if (!down) {
                EXPECT_EQ(link.ShownColor().hslHue(), own.hslHue());
            }
        }
    }
}

} // namespace
