#include "setup/Setup.h"

#include "FakeSetup.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

class SetupTest : public testing::Test
{
protected:
    FakeSetup fake;
    FakePrompt prompt;
    CSetup setup{fake, fake, prompt};
    int dialogs = 0;

    bool Run(const std::string& commandLine)
    {
        return setup.Run(commandLine, [this] { ++dialogs; });
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& asked : prompt.Messages)
            texts.push_back(asked.Text);
        return texts;
    }
};

TEST_F(SetupTest, AFileNameWithSetupInAnyCaseShowsTheDialog)
{
    struct Case
    {
        const char* Path;
        bool Dialog;
    } cases[] = {
        {"/mnt/share/SETUP", true},
        {"/mnt/share/ZibTamSetup", true},
        {"/mnt/share/SetupSecondary", true},
        {"/tmp/setup.exe", true},
        {"/home/owen/Zib Tam", false},
        {"/home/setup/Zib Tam", false}, // only the file name counts
        {"zibtam", false},
    };
    for (const Case& c : cases) {
        dialogs = 0;
        fake.Started = c.Path;
        EXPECT_EQ(Run("/uninstall"), c.Dialog || fake.Confirm) << c.Path;
        EXPECT_EQ(dialogs, c.Dialog ? 1 : 0) << c.Path;
        EXPECT_EQ(IsSetupExecutable(c.Path), c.Dialog) << c.Path;
    }
}

TEST_F(SetupTest, CommandLinesOfTheInstalledCopy)
{
    EXPECT_FALSE(Run(""));
    EXPECT_FALSE(Run("/log"));
    EXPECT_TRUE(fake.Calls.empty());

    fake.Confirm = false;
    EXPECT_FALSE(Run("/uninstall")); // the program starts normally
    EXPECT_EQ(fake.Calls, std::vector<std::string>{"confirm"});

    fake.Calls.clear();
    fake.Confirm = true;
    EXPECT_TRUE(Run("/uninstall"));
    EXPECT_EQ(fake.Calls,
              (std::vector<std::string>{"confirm", "copy /tmp/zibtam-uninstall-1/Zib Tam",
                                        "start /tmp/zibtam-uninstall-1/Zib Tam /uninstall:4242"}));

    fake.Calls.clear();
    EXPECT_TRUE(Run("/uninstall:977"));
    EXPECT_EQ(fake.Calls, (std::vector<std::string>{"close", "wait 977", "delete entry Zib Tam",
                                                    "delete shortcut", "remove own copy"}));
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(prompt.Messages.empty());
}

TEST_F(SetupTest, UninstallOfAPackagesCopySaysThePackageManagerRemovesIt)
{
    fake.Started = "/usr/bin/zibtam";
    EXPECT_TRUE(Run("/uninstall"));  // handled: the process ends, the running chat stays
    EXPECT_TRUE(fake.Calls.empty()); // no confirmation, nothing closed
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text,
              "This copy of Zib Tam was installed from a package, so the package manager "
              "removes it: remove the zibtam package (for example, apt-get remove zibtam).");
}

TEST_F(SetupTest, InstallRunsItsStepsInOrder)
{
    fake.FolderMissing = true;
    ASSERT_TRUE(setup.InstallTo("/opt/Zib Tam"));
    EXPECT_EQ(fake.Calls, (std::vector<std::string>{
                              "legacy", "mkdir /opt/Zib Tam", "close", "copy /opt/Zib Tam/Zib Tam",
                              "files /opt/Zib Tam/Zib Tam", "shortcut /opt/Zib Tam/Zib Tam",
                              "install=/opt/Zib Tam/Zib Tam", "entry Zib Tam /opt/Zib Tam/Zib Tam",
                              "log", "start /opt/Zib Tam/Zib Tam"}));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Setup completed succcessfully."});
    EXPECT_EQ(prompt.Messages[0].Caption, "Zib Tam Setup");

    // The folder may end with a slash; the secondary product names its own file.
    fake.Calls.clear();
    fake.FolderMissing = false;
    fake.Product = "Zib Tam (Secondary)";
    ASSERT_TRUE(setup.InstallTo("/opt/Zib Tam/"));
    EXPECT_EQ(fake.Calls[2], "copy /opt/Zib Tam/Zib Tam (Secondary)");
    EXPECT_TRUE(setup.IsUpgrade());
    EXPECT_EQ(setup.InstalledFolder(), "/opt/Zib Tam/");
}

TEST_F(SetupTest, EachFailureStopsWithItsMessage)
{
    struct Case
    {
        const char* Name;
        std::function<void(FakeSetup&)> Arrange;
        const char* Message; // nullptr: none from the engine
        const char* LastCall;
    } cases[] = {
        {"legacy settings", [](FakeSetup& f) { f.Legacy = false; }, nullptr, "legacy"},
        {"folder",
         [](FakeSetup& f) {
             f.FolderMissing = true;
             f.FolderCreatable = false;
         },
         "Setup could not complete.  The folder /nowhere/Zib Tam could not be created.",
         "mkdir /nowhere/Zib Tam"},
        {"copy", [](FakeSetup& f) { f.CopyFailures = 50; },
         "Setup could not complete.  An error occurred while copying a file.",
         "copy /nowhere/Zib Tam/Zib Tam"},
        {"shortcut",
         [](FakeSetup& f) {
             f.ShortcutOk = false;
             f.ShortcutError = "The startup folder could not be located.";
         },
         "Setup could not complete.  The startup folder could not be located.",
         "shortcut /nowhere/Zib Tam/Zib Tam"},
        {"shortcut with its own message", [](FakeSetup& f) { f.ShortcutOk = false; },
         "Setup could not complete.  ", "shortcut /nowhere/Zib Tam/Zib Tam"},
        {"start", [](FakeSetup& f) { f.StartOk = false; }, "Setup could not run Zib Tam.",
         "start /nowhere/Zib Tam/Zib Tam"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FakeSetup host;
        FakePrompt answers;
        c.Arrange(host);
        CSetup installer(host, host, answers);
        EXPECT_FALSE(installer.InstallTo("/nowhere/Zib Tam"));
        EXPECT_EQ(host.Calls.back(), c.LastCall);
        if (c.Message) {
            ASSERT_EQ(answers.Messages.size(), 1u);
            EXPECT_EQ(answers.Messages[0].Text, c.Message);
        } else {
            EXPECT_TRUE(answers.Messages.empty());
        }
    }
}

TEST_F(SetupTest, CopyIsRetriedFiftyTimesTenthOfASecondApart)
{
    fake.CopyFailures = 50;
    EXPECT_FALSE(setup.InstallTo("/opt/Zib Tam"));
    EXPECT_EQ(std::count(fake.Calls.begin(), fake.Calls.end(), "copy /opt/Zib Tam/Zib Tam"), 50);
    EXPECT_EQ(std::count(fake.Calls.begin(), fake.Calls.end(), "sleep 100"), 49);

    fake.Calls.clear();
    fake.CopyFailures = 49;
    EXPECT_TRUE(setup.InstallTo("/opt/Zib Tam"));
}

TEST_F(SetupTest, UninstallTrashesTheFolderOnlyWhenItHoldsNothingElse)
{
    struct Case
    {
        std::vector<std::string> Names;
        bool FolderTrashable;
        std::vector<std::string> Trashed;
    } cases[] = {
        {{"Zib Tam", "Zib Tam.xml", "Zib Tam Permissions.xml"}, true, {"trash /opt/Zib Tam"}},
        {{"Zib Tam", "Zib Tam.svg", "zibtam_webview.so"}, true, {"trash /opt/Zib Tam"}},
        {{"Zib Tam"}, false, {"trash /opt/Zib Tam", "trash /opt/Zib Tam/Zib Tam"}},
        {{"Zib Tam", "notes.txt"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
        {{"Zib Tam", "Zib Tam (Secondary)"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
        // Only the names the program itself uses are its own; a folder never is.
        {{"Zib Tam", "zib tam.tmp", "Zib Tam.tmp", "zibtam_webview.so"}, true, {"trash /opt/Zib Tam"}},
        {{"Zib Tam", "Zib Tam.d/"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
        {{"Zib Tam", "Zib Tam.xml/"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
        {{"Zib Tam", "Zib Tam.bak"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
        {{"Zib Tam", "Zib Tam Permissions.xml.old"}, true, {"trash /opt/Zib Tam/Zib Tam"}},
    };
    for (const Case& c : cases) {
        fake.Calls.clear();
        fake.Installed = "/opt/Zib Tam/Zib Tam";
        fake.FolderNames = c.Names;
        fake.TrashFolderOk = c.FolderTrashable;
        setup.FinishUninstall(12);
        std::vector<std::string> expected = {"wait 12"};
        expected.insert(expected.end(), c.Trashed.begin(), c.Trashed.end());
        expected.insert(expected.end(),
                        {"delete entry Zib Tam", "delete shortcut", "remove own copy"});
        EXPECT_EQ(fake.Calls, expected) << c.Names.back();
    }
    // Nothing installed: only the entries go.
    fake.Calls.clear();
    fake.Installed.clear();
    setup.FinishUninstall(12);
    EXPECT_EQ(fake.Calls, (std::vector<std::string>{"wait 12", "delete entry Zib Tam",
                                                    "delete shortcut", "remove own copy"}));
}

TEST(UpgradeLogLineTest, DateUserComputerAndBuildDateEndingInCrLf)
{
    std::tm tm{};
    tm.tm_year = 2006 - 1900;
    tm.tm_mon = 8;
    tm.tm_mday = 16;
    tm.tm_hour = 15;
    tm.tm_min = 7;
    tm.tm_isdst = -1;
    EXPECT_EQ(UpgradeLogLine(std::mktime(&tm), "R.T.", "Office-Pc2X", "September 16, 2006"),
              "09/16/06 03:07 PM\tR.T. (on \"Office-Pc2X\") upgraded to the version released on "
              "September 16, 2006.\r\n");
    tm.tm_hour = 0;
    EXPECT_EQ(UpgradeLogLine(std::mktime(&tm), "a", "B", "x").substr(0, 17), "09/16/06 12:07 AM");
}

} // namespace
