#include "ui/TextPromptDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

QPushButton* OkButton(CTextPromptDialog& dialog)
{
    return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

TEST(TextPromptDialogTest, LabelLimitAndOkOnlyForNonBlankText)
{
    CTextPromptDialog dialog(QStringLiteral("Zib Tam User Name"),
                             QStringLiteral("Please enter your name"), QStringLiteral("owen"), 25,
                             false);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Zib Tam User Name"));
    // Room for the title beside the title bar's buttons, not "Zib Ta... Name".
    EXPECT_GE(dialog.minimumWidth(),
              dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) * 3 / 2 + 150);
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("Please enter your name:"));
    EXPECT_EQ(dialog.edit()->maxLength(), 25);

    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"   ", false}, {"\t", false}, {" a ", true}, {"Owen", true}};
    for (auto [text, enabled] : cases) {
        dialog.edit()->setText(QString::fromLatin1(text));
        EXPECT_EQ(OkButton(dialog)->isEnabled(), enabled) << text;
    }
}

TEST(TextPromptDialogTest, TabsBecomeBlanksAndOkTrims)
{
    CTextPromptDialog dialog(QStringLiteral("T"), QStringLiteral("P"), QString(), 25, false);
    dialog.edit()->setText(QStringLiteral("  Owen\tPratley  "));
    EXPECT_EQ(dialog.text(), QStringLiteral("  Owen Pratley  "));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), QStringLiteral("Owen Pratley"));
}

TEST(TextPromptDialogTest, MaskedInputForPasswords)
{
    CTextPromptDialog dialog(QStringLiteral("Zib Tam Options"),
                             QStringLiteral("Please enter the password"), QString(), 255, true);
    EXPECT_EQ(dialog.edit()->echoMode(), QLineEdit::Password);
    // A password comes back as typed: its blanks are part of it.
    dialog.edit()->setText(QStringLiteral("   "));
    EXPECT_TRUE(OkButton(dialog)->isEnabled());
    dialog.edit()->setText(QStringLiteral(" pass word "));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), QStringLiteral(" pass word "));
}

} // namespace
