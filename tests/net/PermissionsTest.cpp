#include "net/Permissions.h"

#include "TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

const std::string kDecl = "<?xml version=\"1.0\"?>\n";

std::string Doc(const std::string& body)
{
    return kDecl + body;
}

// The example an administrator would write: everybody may send to everybody, except Owen,
// who may send only to RT Holm.
const std::string kExample = Doc("<permissions>\n"
                                 "  <default><allow>all users</allow></default>\n"
                                 "  <user name=\"Owen\">\n"
                                 "    <deny>all users</deny>\n"
                                 "    <allow>  RT Holm </allow>\n"
                                 "  </user>\n"
                                 "</permissions>\n");

TEST(Permissions, LoadErrors)
{
    struct Case
    {
        const char* Name;
        std::string Text;
        std::string Error; // a prefix when it ends in "..."
    };
    const Case cases[] = {
        {"user before default",
         Doc("<permissions><user name=\"a\"><allow>b</allow></user></permissions>"),
         "Encountered <user> tag.  Expected <default> tag."},
        {"second default", Doc("<permissions><default/><default/></permissions>"),
         "Encountered <default> tag.  Expected <user> tag."},
        {"blank allow", Doc("<permissions><default><allow>   </allow></default></permissions>"),
         "Encountered <allow> with no contents."},
        {"empty deny", Doc("<permissions><default><deny/></default></permissions>"),
         "Encountered <deny> with no contents."},
        {"rule with children",
         Doc("<permissions><default><allow><x>y</x></allow></default></permissions>"),
         "Encountered <allow> with no contents."},
        {"same user twice",
         Doc("<permissions><default/><user name=\"owen\"/><user name=\" Owen\"/></permissions>"),
         "Encountered multiple entries for user \"Owen\"."},
        {"capital root", Doc("<Permissions><default/></Permissions>"),
         "Encountered <Permissions> tag.  Expected <permissions> tag."},
        {"user without name", Doc("<permissions><default/><user nom=\"a\"/></permissions>"),
         "Missing \"name\" attribute on <user> tag."},
        {"blank name", Doc("<permissions><default/><user name=\" \t\"/></permissions>"),
         "Invalid \"name\" attribute on <user> tag."},
        {"unknown rule", Doc("<permissions><default><grant>a</grant></default></permissions>"),
         "Encountered <grant> tag.  Expected <allow> or <deny> tag."},
        {"no default", Doc("<permissions></permissions>"), "Missing \"<default>\" attribute."},
        {"not XML", "<permissions/>", "Unexpected character.  Expected: ?.  Encountered: p."},
        // The handler's fault comes first, so it is the one reported, not the unclosed root.
        {"first fault wins", Doc("<permissions><user name=\"a\"/>"),
         "Encountered <user> tag.  Expected <default> tag."},
        {"broken XML after good entries",
         Doc("<permissions><default/><user name=\"a\"><allow>b</allow></user>"),
         "Opening and closing tags are out of sync (2).\n..."},
        {"declared UTF-8, bytes of another encoding",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><permissions><default><deny>Jos\xE9"
         "</deny></default></permissions>",
         "The permissions file is not valid UTF-8."},
        {"a name no user can have",
         Doc("<permissions><default><deny>\xC5\x9C"
             "am</deny></default></permissions>"),
         "The permissions file holds a character that user names cannot have (U+015C)."},
        {"encoding not read", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><permissions/>",
         "The permissions file is in the encoding \"Shift_JIS\", which cannot be read. Save it "
         "as UTF-8."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CPermissions table;
        std::string error;
        ASSERT_TRUE(table.LoadPermissionsText(kExample, error)) << error;
        EXPECT_FALSE(table.LoadPermissionsText(c.Text, error));
        if (c.Error.ends_with("...")) {
            std::string prefix = c.Error.substr(0, c.Error.size() - 3);
            EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
            EXPECT_NE(error.find("\nOffset: "), std::string::npos) << error;
        } else if (c.Error.starts_with("Unexpected")) {
            EXPECT_EQ(error.substr(0, c.Error.size()), c.Error) << error;
        } else {
            EXPECT_EQ(error, c.Error);
        }
        // A failed load leaves nothing of the earlier table or of the half-read one.
        EXPECT_TRUE(table.DefaultEntry().Rules.empty());
        EXPECT_TRUE(table.UserEntries().empty());
    }
}

// Names on the wire are Windows-1252 ("Jos\xE9"); a rule written in any of the encodings an
// editor saves in must match them.
TEST(Permissions, AccentedNamesMatchInEveryEncoding)
{
    const std::string utf8 = "Jos\xC3\xA9";
    auto body = [](const std::string& rule, const std::string& user) {
        return "<permissions><default><deny>" + rule + "</deny></default><user name=\"" + user +
               "\"><deny>all users</deny></user></permissions>";
    };
    struct Case
    {
        const char* Name;
        std::string Text;
    };
    const Case cases[] = {
        {"UTF-8 without an encoding declaration", Doc(body(utf8, utf8))},
        {"UTF-8 declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body(utf8, utf8)},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + Doc(body(utf8, utf8))},
        {"windows-1252 declared",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>" + body("Jos\xE9", "Jos\xE9")},
        {"ISO-8859-1 declared",
         "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>" + body("Jos\xE9", "Jos\xE9")},
        {"an older undeclared file in windows-1252", Doc(body("Jos\xE9", "Jos\xE9"))},
        {"a character reference in UTF-8", Doc(body("Jos&#233;", utf8))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CPermissions table;
        std::string error;
        ASSERT_TRUE(table.LoadPermissionsText(c.Text, error)) << error;
        EXPECT_TRUE(CPermissions::Denies(table.DefaultEntry(), "Jos\xE9"));
        EXPECT_TRUE(CPermissions::Denies(table.DefaultEntry(), "JOS\xC9"));
        EXPECT_FALSE(CPermissions::Denies(table.DefaultEntry(), "Jose"));
        EXPECT_TRUE(CPermissions::Denies(table.EntryFor("jos\xE9"), "Bob"));
        EXPECT_FALSE(CPermissions::Denies(table.EntryFor("Jose"), "Bob"));
    }
}

TEST(Permissions, ExampleTableAndDecisions)
{
    CPermissions table;
    std::string error;
    ASSERT_TRUE(table.LoadPermissionsText(kExample, error)) << error;
    ASSERT_EQ(table.UserEntries().size(), 1u);
    EXPECT_EQ(table.UserEntries()[0].first, "Owen");
    EXPECT_EQ(table.UserEntries()[0].second.Rules,
              (std::vector<PermissionRule>{{PermissionKind::Deny, ""},
                                           {PermissionKind::Allow, "RT Holm"}}));

    struct Case
    {
        const char* Sender;
        const char* Recipient;
        PermissionDecision Decision;
    };
    const Case cases[] = {
        {"Owen", "RT Holm", PermissionDecision::Allow},
        {"owen", "rt holm", PermissionDecision::Allow},
        {"OWEN", "Bob", PermissionDecision::Deny},
        {"Bob", "Owen", PermissionDecision::Allow},
        {"Bob", "RT Holm", PermissionDecision::Allow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CPermissions::Decide(table.EntryFor(c.Sender), c.Recipient), c.Decision)
            << c.Sender << " -> " << c.Recipient;
    }
}

TEST(Permissions, LastMatchingRuleWins)
{
    using K = PermissionKind;
    using D = PermissionDecision;
    struct Case
    {
        const char* Name;
        std::vector<PermissionRule> Rules;
        const char* Recipient;
        D Decision;
    };
    const Case cases[] = {
        {"no rules", {}, "Bob", D::None},
        {"deny all then allow one", {{K::Deny, ""}, {K::Allow, "RT Holm"}}, "RT Holm", D::Allow},
        {"deny all then allow one, other", {{K::Deny, ""}, {K::Allow, "RT Holm"}}, "Bob", D::Deny},
        {"allow one then deny all", {{K::Allow, "RT Holm"}, {K::Deny, ""}}, "RT Holm", D::Deny},
        {"rule for someone else", {{K::Deny, "Bob"}}, "Carol", D::None},
        {"letter case ignored", {{K::Deny, "bob"}}, "BOB", D::Deny},
        {"accented letters fold", {{K::Deny, "\xC9lise"}}, "\xE9LISE", D::Deny},
        {"multiplication sign is no letter", {{K::Deny, "a\xD7"}}, "a\xF7", D::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CPermissions::Decide(PermissionEntry{c.Rules}, c.Recipient), c.Decision)
            << c.Name;
    }
}

TEST(Permissions, AllUsersOnlyInLowerCase)
{
    CPermissions table;
    std::string error;
    ASSERT_TRUE(table.LoadPermissionsText(
        Doc("<permissions><default><deny>All Users</deny></default></permissions>"), error))
        << error;
    ASSERT_EQ(table.DefaultEntry().Rules.size(), 1u);
    EXPECT_EQ(table.DefaultEntry().Rules[0].Target, "All Users");
    EXPECT_EQ(CPermissions::Decide(table.EntryFor("x"), "Bob"), PermissionDecision::None);
    EXPECT_EQ(CPermissions::Decide(table.EntryFor("x"), "all users"), PermissionDecision::Deny);
}

TEST(Permissions, EmptyTableAllowsEverything)
{
    CPermissions table;
    EXPECT_EQ(CPermissions::Decide(table.EntryFor("Owen"), "Bob"), PermissionDecision::None);
    EXPECT_FALSE(CPermissions::Denies(table.EntryFor("Owen"), "Bob"));
}

TEST(Permissions, LoadsFromFileAndReportsFileErrors)
{
    TempDir dir;
    std::string path = dir.File("Zib Tam Permissions.xml");
    {
        std::ofstream out(path, std::ios::binary);
        out << kExample;
    }
    CPermissions table;
    std::string error;
    ASSERT_TRUE(table.LoadPermissions(path, error)) << error;
    EXPECT_TRUE(CPermissions::Denies(table.EntryFor("Owen"), "Bob"));

    EXPECT_FALSE(table.LoadPermissions(dir.File("missing.xml"), error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_TRUE(table.UserEntries().empty());
}

} // namespace
