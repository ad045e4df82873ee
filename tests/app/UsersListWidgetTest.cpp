// The "&To:" control offscreen: it shows the model and hands the user's choices back.
#include "app/UsersListWidget.h"

#include "TestSupport.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

// The entries in list order, selected ones marked "*".
Names Entries(const CUsersList& list)
{
    Names entries;
    for (int i = 0; i < list.Count(); ++i)
        entries.push_back(ToCp1252(list.EntryText(i)) + (list.IsSelected(i) ? "*" : ""));
    return entries;
}

struct Fixture
{
    TestSettings settings;
    QWidget window;
    CUsersList* list = new CUsersList(&settings.options, &window);

    Fixture()
    {
        list->setGeometry(10, 10, 250, 24);
        window.resize(300, 60);
        window.show();
        list->OnConnected();
        for (const char* name : {"Owen", "R.T.", "ann"})
            list->UserArrived(name);
    }
    void Choose(std::initializer_list<const char*> names)
    {
        list->ClearSelection();
        for (const char* name : names)
            list->SetSelected(list->FindEntry(QString::fromLatin1(name)), true);
    }
};

TEST(UsersListWidgetTest, EntriesFollowTheModel)
{
    Fixture f;
    EXPECT_EQ(f.list->accessibleName(), QStringLiteral("To"));
    EXPECT_EQ(Entries(*f.list), (Names{"(All Users)*", "ann", "Owen", "R.T."}));
    EXPECT_EQ(f.list->DisplayedText(), QStringLiteral("(All Users)"));

    struct Step
    {
        const char* Name;
        std::function<void(Fixture&)> Do;
        Names Expected;
        const char* Text;
    };
    const std::vector<Step> steps = {
        {"choose two",
         [](Fixture& rig) {
             rig.Choose({"Owen", "R.T."});
         },
         {"(All Users)", "ann", "Owen*", "R.T.*"},
         "Owen and R.T."},
        {"rename while selected",
         [](Fixture& rig) { rig.list->UserRenamed("Owen", "Ozzy"); },
         {"(All Users)", "ann", "Ozzy*", "R.T.*"},
         "Ozzy and R.T."},
        {"arrival",
         [](Fixture& rig) { rig.list->UserArrived("Zed"); },
         {"(All Users)", "ann", "Ozzy*", "R.T.*", "Zed"},
         "Ozzy and R.T."},
        {"departures of both",
         [](Fixture& rig) {
             rig.list->UserDeparted("Ozzy");
             rig.list->UserDeparted("R.T.");
         },
         {"(All Users)*", "ann", "Zed"},
         "(All Users)"},
        {"every user but one entry: collapses",
         [](Fixture& rig) {
             rig.Choose({"ann", "Zed"});
             rig.list->CloseList();
             rig.list->UpdateText();
         },
         {"(All Users)*", "ann", "Zed"},
         "(All Users)"},
        {"all users not allowed",
         [](Fixture& rig) { rig.list->SetAllUsersAllowed(false); },
         {"ann*", "Zed"},
         "ann"},
        {"disconnected", [](Fixture& rig) { rig.list->OnDisconnected(); }, {}, ""},
    };
    for (const Step& step : steps) {
        step.Do(f);
        EXPECT_EQ(Entries(*f.list), step.Expected) << step.Name;
        EXPECT_EQ(f.list->DisplayedText(), QString::fromLatin1(step.Text)) << step.Name;
    }
}

TEST(UsersListWidgetTest, CollapseWaitsForTheListToClose)
{
    Fixture f;
    f.list->OpenList();
    f.Choose({"ann", "Owen", "R.T."});
    f.list->UpdateText();
    EXPECT_EQ(f.list->DisplayedText(), QStringLiteral("(All Users)"));
    EXPECT_EQ(f.list->SelectedCount(), 3); // only the text says so while open
    f.list->CloseList();
    EXPECT_EQ(Entries(*f.list), (Names{"(All Users)*", "ann", "Owen", "R.T."}));
    std::vector<std::string> recipients{"x"};
    EXPECT_TRUE(f.list->GetRecipients(recipients));
    EXPECT_TRUE(recipients.empty());
}

TEST(UsersListWidgetTest, DefaultRecipientsMenuAndLinks)
{
    Fixture f;
    auto toggle = [&] {
        std::unique_ptr<QMenu> menu(f.list->CreateContextMenu());
        EXPECT_EQ(menu->actions().size(), 1);
        return menu->actions().value(0)->isEnabled() * 2 + menu->actions().value(0)->isChecked();
    };
    EXPECT_EQ(toggle(), 0); // "(All Users)": disabled
    f.Choose({"Owen", "ann"});
    EXPECT_EQ(toggle(), 2);
    f.list->ToggleDefaultRecipients();
    EXPECT_EQ(f.settings.options.Get(Opt::DefaultRecipients), "ann\nOwen");
    EXPECT_EQ(toggle(), 3);
    f.list->ToggleDefaultRecipients();
    EXPECT_EQ(f.settings.options.Get(Opt::DefaultRecipients), "");

    f.settings.options.Set(Opt::DefaultRecipients, "R.T.");
    f.list->SelectDefaultRecipients();
    EXPECT_EQ(f.list->DisplayedText(), QStringLiteral("R.T."));

    ChatMessage message;
    message.Sender = "Owen";
    message.Recipients = {"ann"};
    f.list->LinkClicked(message, 1, true);
    EXPECT_EQ(f.list->DisplayedText(), QStringLiteral("Owen and R.T."));
    f.list->LinkClicked(message, 2, false);
    EXPECT_EQ(f.list->DisplayedText(), QStringLiteral("ann"));
}

} // namespace
