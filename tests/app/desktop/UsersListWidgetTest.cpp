// The "&To:" control offscreen: it shows the model and hands the user's choices back.
#include "app/desktop/UsersListWidget.h"

#include "TestSupport.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

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

// After every change, in any order of arrivals, departures, renames and choices: the list
// holds the model's users and nothing else, sorted as the list sorts, with exactly the
// model's choice selected, and the recipients are the entries shown selected.
TEST(UsersListWidgetTest, ChangesByDifferenceKeepTheListTrueToTheModel)
{
    Fixture f;
    std::mt19937 random(23);
    const std::vector<std::string> pool = {"ann", "Ann", "Owen",     "R.T.",        "zed",
                                           "Bea", "Cy",  "\xe9mile", "(All Users)", "ann"};
    auto pick = [&](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
    };
    for (int step = 0; step < 600; ++step) {
        const std::vector<std::string> users = f.list->Model().Users();
        std::string what;
        switch (std::uniform_int_distribution<int>(0, 9)(random)) {
        case 0:
        case 1:
        case 2:
            what = "arrive " + pick(pool);
            f.list->UserArrived(pick(pool));
            break;
        case 3:
        case 4:
            what = "depart";
            f.list->UserDeparted(users.empty() || random() % 4 == 0 ? pick(pool) : pick(users));
            break;
        case 5:
            what = "rename";
            f.list->UserRenamed(users.empty() || random() % 4 == 0 ? pick(pool) : pick(users),
                                pick(pool));
            break;
        case 6:
            what = "choose in the list";
            if (f.list->Count() > 0) {
                f.list->SetSelected(
                    std::uniform_int_distribution<int>(0, f.list->Count() - 1)(random),
                    random() % 2 == 0);
            }
            break;
        case 7:
            what = "select users";
            f.list->SelectUsers({pick(pool), pick(pool)}, random() % 2 == 0);
            break;
        case 8:
            what = "all users allowed or not";
            f.list->SetAllUsersAllowed(random() % 3 != 0);
            break;
        default:
            what = "reconnect";
            if (random() % 4 == 0) {
                f.list->OnDisconnected();
                f.list->OnConnected();
            }
            break;
        }
        SCOPED_TRACE(std::to_string(step) + ": " + what);

        const CUsersListModel& model = f.list->Model();
        Names expected, shown;
        if (model.HasAllUsersEntry())
            expected.push_back(std::string(CUsersListModel::kAllUsersEntry) +
                               (model.AllUsersSelected() ? "*" : ""));
        const Names& selected = model.SelectedNames();
        for (const std::string& user : model.Users())
            expected.push_back(
                user +
                (std::find(selected.begin(), selected.end(), user) != selected.end() ? "*" : ""));
        shown = Entries(*f.list);
        // In the list's order (names equal but for letter case in any order among themselves).
        auto text = [](std::string entry) {
            if (!entry.empty() && entry.back() == '*')
                entry.pop_back();
            return FromCp1252(entry);
        };
        for (size_t i = 1; i < shown.size(); ++i)
            ASSERT_LE(text(shown[i - 1]).compare(text(shown[i]), Qt::CaseInsensitive), 0)
                << shown[i - 1] << " before " << shown[i];
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        ASSERT_EQ(shown, expected);

        std::vector<std::string> recipients;
        if (f.list->GetRecipients(recipients) && !model.AllUsersSelected()) {
            Names listed;
            for (int i : f.list->SelectedIndexes())
                listed.push_back(ToCp1252(f.list->EntryText(i)));
            // Names typed by hand and not listed follow; names equal but for letter case
            // may stand in either order.
            recipients.resize(listed.size());
            std::sort(recipients.begin(), recipients.end());
            std::sort(listed.begin(), listed.end());
            ASSERT_EQ(recipients, listed);
        }
    }
}

// An arrival while the list is open leaves its caret and scroll position where they were.
TEST(UsersListWidgetTest, AnArrivalKeepsTheOpenListWhereItWas)
{
    Fixture f;
    for (int i = 0; i < 200; ++i)
        f.list->UserArrived("user" + std::to_string(1000 + i));
    f.list->OpenList();
    QListWidget* list = f.list->List();
    list->setCurrentRow(f.list->FindEntry(QStringLiteral("user1050")),
                        QItemSelectionModel::NoUpdate);
    list->scrollToItem(list->currentItem(), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    const int scrolled = list->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    for (const char* name : {"aaron", "user1010a", "user1100", "zoe"})
        f.list->UserArrived(name);
    f.list->UserDeparted("user1001");
    QApplication::processEvents();
    EXPECT_EQ(list->currentItem()->text(), QStringLiteral("user1050"));
    EXPECT_EQ(list->verticalScrollBar()->value(), scrolled);
    f.list->CloseList();
}

} // namespace
