#include "app/session/UsersList.h"

#include <gtest/gtest.h>

namespace {

// Connected, all users allowed, with the given users present.
void Present(CUsersListModel& model, std::initializer_list<const char*> users)
{
    model.OnConnected();
    for (const char* user : users)
        model.UserArrived(user);
}

std::vector<std::string> Recipients(const CUsersListModel& model, bool* any = nullptr)
{
    std::vector<std::string> recipients;
    const bool selected = model.GetRecipients(recipients);
    if (any)
        *any = selected;
    return recipients;
}

TEST(UsersListModelTest, ReadsAllUsersAndCollapses)
{
    struct Case
    {
        bool All;
        std::vector<std::string> Names;
        bool Reads;
    };
    const Case cases[] = {
        {false, {"Ann", "Bob", "Cy"}, true}, // every entry but one
        {true, {"Ann"}, true},               // "(All Users)" and more
        {true, {}, false},                   // "(All Users)" alone
        {false, {"Ann", "Bob"}, false},
        {false, {"Ann"}, false},
    };
    for (const Case& c : cases) {
        CUsersListModel model;
        Present(model, {"Bob", "Ann", "Cy"});
        model.SetSelection(c.All, c.Names);
        EXPECT_EQ(model.ReadsAllUsers(), c.Reads) << c.Names.size();
        EXPECT_EQ(model.Collapse(), c.Reads);
        if (c.Reads) {
            EXPECT_TRUE(model.AllUsersSelected());
            EXPECT_TRUE(model.SelectedNames().empty());
        }
    }
    // "(All Users)" with two users is all users, collapsed or not.
    CUsersListModel model;
    Present(model, {"Ann", "Bob", "Cy"});
    model.SetSelection(true, {"Ann", "Bob"});
    bool any = false;
    EXPECT_TRUE(Recipients(model, &any).empty());
    EXPECT_TRUE(any);
    // Without "(All Users)" nothing collapses.
    model.SetAllUsersAllowed(false);
    model.SetSelection(false, {"Ann", "Bob"});
    EXPECT_FALSE(model.ReadsAllUsers());
}

TEST(UsersListModelTest, DefaultRecipientsAndTheirToggle)
{
    CUsersListModel model;
    Present(model, {"Ann", "Bob", "Cy"});
    EXPECT_FALSE(model.DefaultToggleEnabled()); // "(All Users)" selected
    model.SelectUsers({"Bob", "Ann"}, true);
    EXPECT_EQ(model.DefaultRecipientsText(), "Ann\nBob");
    EXPECT_TRUE(model.DefaultToggleEnabled());
    EXPECT_FALSE(model.DefaultToggleChecked(""));
    EXPECT_EQ(model.ToggledDefault(""), "Ann\nBob");
    EXPECT_TRUE(model.DefaultToggleChecked("Ann\nBob"));
    EXPECT_EQ(model.ToggledDefault("Ann\nBob"), ""); // chosen twice: the default goes

    model.SelectDefault();
    model.SelectDefaultRecipients("Cy\nGone\n");
    EXPECT_EQ(Recipients(model), std::vector<std::string>{"Cy"});
    model.SelectDefaultRecipients(""); // no default: the selection stays
    EXPECT_EQ(Recipients(model), std::vector<std::string>{"Cy"});
}

ChatMessage From(const char* sender, std::vector<std::string> recipients)
{
    ChatMessage message;
    message.Sender = sender;
    message.Recipients = std::move(recipients);
    message.AllUsers = message.Recipients.empty();
    return message;
}

TEST(UsersListModelTest, LinkClicksAndReplies)
{
    struct Case
    {
        const char* Name;
        ChatMessage Message;
        int Kind;
        bool Control;
        bool AllowAll;
        std::vector<std::string> Expected; // empty: all users
        bool AllUsers;
    };
    const Case cases[] = {
        {"sender replaces", From("Bob", {"Me"}), 1, false, true, {"Bob"}, false},
        {"sender added with Control", From("Bob", {"Me"}), 1, true, true, {"Ann", "Bob"}, false},
        {"recipients", From("Bob", {"Cy", "Me"}), 2, false, true, {"Cy", "Me"}, false},
        {"recipients added", From("Bob", {"Cy"}), 2, true, true, {"Ann", "Cy"}, false},
        {"all users", From("Bob", {}), 2, true, true, {}, true},
        {"all users not allowed", From("Bob", {}), 2, false, false, {"Ann"}, false},
    };
    for (const Case& c : cases) {
        CUsersListModel model;
        Present(model, {"Ann", "Bob", "Cy", "Me"});
        model.SetAllUsersAllowed(c.AllowAll);
        model.SelectUsers({"Ann"}, true);
        model.LinkClicked(c.Message, c.Kind, c.Control);
        EXPECT_EQ(Recipients(model), c.Expected) << c.Name;
        EXPECT_EQ(model.AllUsersSelected(), c.AllUsers) << c.Name;
    }

    // A reply to Owen's message to Owen and me selects Owen once, not me.
    CUsersListModel model;
    Present(model, {"Owen", "Me"});
    model.SelectSenderOf(From("Owen", {"Owen", "Me"}), "Me");
    EXPECT_EQ(Recipients(model), std::vector<std::string>{"Owen"});
}

TEST(UsersListModelTest, ArrivalsDeparturesRenamesAndNotifications)
{
    CUsersListModel model;
    int changes = 0;
    model.SetChangedListener([&] { ++changes; });
    Present(model, {"Ann", "Bob"});
    EXPECT_EQ(changes, 3);
    model.SelectUsers({"Bob"}, true);
    model.UserRenamed("Bob", "Robert");
    EXPECT_EQ(Recipients(model), std::vector<std::string>{"Robert"});
    model.UserDeparted("Robert"); // the only recipient leaves: "(All Users)" again
    EXPECT_TRUE(model.AllUsersSelected());
    const int before = changes;
    model.UserDeparted("Nobody");
    EXPECT_EQ(changes, before);
    model.OnDisconnected();
    EXPECT_GT(changes, before);
    EXPECT_TRUE(model.Users().empty());
}

} // namespace
