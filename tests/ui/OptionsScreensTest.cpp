// The options sheet and the rule editor on a real X server, in a light and a dark
// palette: no label or button narrower than its text at the default font. With
// ZT_SCREENSHOT_DIR set, each page is also saved there as a PNG for a person to look at.
#include "OptionsTestSupport.h"
#include "turing/TuringRules.h"
#include "ui/OptionsSheet.h"
#include "ui/TuringDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QPalette DarkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(38, 79, 120));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(110, 160, 255));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    return dark;
}

// Texts cut short: a visible label or button whose text needs more room than it got.
QStringList Clipped(QWidget* root)
{
    QStringList clipped;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap())
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        if (text.isEmpty() || text.startsWith(QLatin1Char('<')))
            continue;
        if (widget->width() < widget->minimumSizeHint().width() ||
            widget->height() < widget->minimumSizeHint().height())
            clipped << text;
    }
    return clipped;
}

void Save(QWidget* widget, const QString& name)
{
    QString dir = qEnvironmentVariable("ZT_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

class OptionsScreensTest : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        m_palette = QApplication::palette();
        if (GetParam())
            QApplication::setPalette(DarkPalette());
    }
    void TearDown() override { QApplication::setPalette(m_palette); }
    QString Suffix() const
    {
        return GetParam() ? QStringLiteral("-dark") : QStringLiteral("-light");
    }

private:
    QPalette m_palette;
};

TEST_P(OptionsScreensTest, EveryPageFitsItsTexts)
{
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    rig.Options().Set(Opt::NetworkingType, 2);
    rig.Options().Set(Opt::Server, "office-server");
    rig.Options().SetUserName("Owen Pratley");
    rig.Options().Set(Opt::LogMessages, 1);
    COptionsSheet sheet(rig.Context(), COptionsSheet::Pages::All);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    for (int i = 0; i < sheet.Tabs()->count(); ++i) {
        sheet.Tabs()->setCurrentIndex(i);
        QApplication::processEvents();
        EXPECT_TRUE(Clipped(&sheet).isEmpty())
            << sheet.Tabs()->tabText(i).toStdString() << ": "
            << Clipped(&sheet).join(QStringLiteral(" | ")).toStdString();
        Save(&sheet, QStringLiteral("options-") + sheet.Tabs()->tabText(i).toLower() + Suffix());
    }
    sheet.Networking()->Server()->click();
    Save(&sheet, QStringLiteral("options-networking-server") + Suffix());
    sheet.hide();

    COptionsSheet first(rig.Context(), COptionsSheet::Pages::NetworkingOnly);
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    EXPECT_TRUE(Clipped(&first).isEmpty());
    Save(&first, QStringLiteral("first-run") + Suffix());
}

TEST_P(OptionsScreensTest, RuleEditorWithRules)
{
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    SaveTuringRules(
        rig.Options(),
        {TuringRule{{TuringResponse{0, 5, 50, "Hi there!"},
                     TuringResponse{10, 30, 25, "Out for lunch, back soon."},
                     TuringResponse{2, 2, 25, "Who is asking?"}},
                    "Greeting",
                    "*hello*"},
         TuringRule{{TuringResponse{0, 0, 100, "Yes."}}, "Anything", "*"},
         TuringRule{{TuringResponse{60, 900, 10, "Maybe later."}}, "Coffee", "*coffee*"}});
    CTuringDlg editor(rig.Options(), rig.prompt, RunModal);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    editor.RuleList()->setCurrentRow(2); // "Greeting"
    editor.ResponseList()->setCurrentItem(editor.ResponseList()->topLevelItem(1));
    QApplication::processEvents();
    EXPECT_TRUE(Clipped(&editor).isEmpty())
        << Clipped(&editor).join(QStringLiteral(" | ")).toStdString();
    Save(&editor, QStringLiteral("rule-editor") + Suffix());

    TuringResponse response{10, 30, 25, "Out for lunch, back soon."};
    CResponseDlg dialog(response, false, rig.prompt);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(Clipped(&dialog).isEmpty());
    Save(&dialog, QStringLiteral("response") + Suffix());
}

INSTANTIATE_TEST_SUITE_P(Palettes, OptionsScreensTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& palette) {
                             return palette.param ? "Dark" : "Light";
                         });

} // namespace
