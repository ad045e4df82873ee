#include "setup/SetupDlg.h"

#include "FakeSetup.h"
#include "TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class SetupDlgTest : public testing::Test
{
protected:
    FakeSetup fake;
    FakePrompt prompt;
    CSetup setup{fake, fake, prompt};
};

TEST_F(SetupDlgTest, FreshInstallOffersTheDefaultFolder)
{
    CSetupDlg dialog(setup, QIcon(), QIcon());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Zib Tam Setup"));
    EXPECT_EQ(dialog.Folder()->text(), QStringLiteral("/opt/Zib Tam"));
    EXPECT_FALSE(dialog.Folder()->isReadOnly());
    EXPECT_EQ(dialog.InstallButton()->text(), QStringLiteral("&Install"));
    EXPECT_TRUE(dialog.InstallButton()->isDefault());
    EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(dialog.Folder()->accessibleName(),
              QStringLiteral("Zib Tam will be installed in the following folder:"));
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if (widget->isWidgetType() && !qobject_cast<QLabel*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }

    // An "Install" path whose file is gone is a fresh install too.
    fake.Installed = "";
    CSetupDlg again(setup, QIcon(), QIcon());
    EXPECT_EQ(again.InstallButton()->text(), QStringLiteral("&Install"));
}

TEST_F(SetupDlgTest, AnInstalledCopyIsUpgradedInItsFolder)
{
    fake.Installed = "/home/owen/.local/opt/Zib Tam/Zib Tam";
    CSetupDlg dialog(setup, QIcon(), QIcon());
    EXPECT_EQ(dialog.Folder()->text(), QStringLiteral("/home/owen/.local/opt/Zib Tam/"));
    EXPECT_TRUE(dialog.Folder()->isReadOnly());
    EXPECT_EQ(dialog.InstallButton()->text(), QStringLiteral("&Upgrade"));
    EXPECT_EQ(dialog.InstallButton()->accessibleName(), QStringLiteral("Upgrade"));
    dialog.InstallButton()->click();
    EXPECT_EQ(fake.Calls[2], "copy /home/owen/.local/opt/Zib Tam/Zib Tam");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(SetupDlgTest, AFailedInstallKeepsTheDialogOpen)
{
    fake.FolderMissing = true;
    fake.FolderCreatable = false;
    CSetupDlg dialog(setup, QIcon(), QIcon());
    dialog.show();
    dialog.Folder()->setText(QStringLiteral("/nowhere/Zib Tam"));
    dialog.InstallButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text,
              "Setup could not complete.  The folder /nowhere/Zib Tam could not be created.");

    dialog.CancelButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

} // namespace
