#include "settings/Options.h"

#include "TestSupport.h"
#include "platform/SqliteRegistry.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

class OptionsTest : public testing::Test, protected TestSettings
{
protected:
    CRegKey Product() { return CRegKey(registry, options.ProductKey(), false); }
};

TEST_F(OptionsTest, FreshUserReadsEveryDefault)
{
    for (const NumberOption& option : AllNumberOptions())
        EXPECT_EQ(options.Get(option), option.Default) << option.Name;
    for (const TextOption& option : AllTextOptions())
        EXPECT_EQ(options.Get(option), option.Default) << option.Name;
    EXPECT_EQ(options.GetNetworkingType(), NetworkingType::NotChosen);
    EXPECT_EQ(options.Get(Opt::DlgX), -1);
    EXPECT_EQ(options.Get(Opt::DlgY), -1);
    EXPECT_EQ(options.Get(Opt::PortNumber), 34300);
    EXPECT_EQ(options.Get(Opt::MessagePrefix), "<a>u</a> ('to' <a>r</a>) h:nn TT> ");
    EXPECT_EQ(options.Get(Opt::LogPrefix), "<a>u</a> ('to' <a>r</a>) m/d/yy h:nn TT> ");
    // The font keys exist from the start.
    EXPECT_NE(registry.OpenKey(options.ProductKey() + "\\GeneralFont", false), 0);
    EXPECT_NE(registry.OpenKey(options.ProductKey() + "\\PrefixFont", false), 0);
}

TEST_F(OptionsTest, StoredValuesOfTheWrongShapeReadAsDefaults)
{
    CRegKey product = Product();
    product.SetString("PortNumber", "8080"); // a text where a number belongs
    product.SetString("MessagePrefix", "");  // an empty text
    product.SetNumber("Server", 5);          // a number where a text belongs
    EXPECT_EQ(options.Get(Opt::PortNumber), 34300);
    EXPECT_EQ(options.Get(Opt::MessagePrefix), Opt::MessagePrefix.Default);
    EXPECT_EQ(options.Get(Opt::Server), "");
}

TEST_F(OptionsTest, NetworkingTypeOutsideOneToThreeReadsZero)
{
    const std::pair<int32_t, int> cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3},
                                             {4, 0}, {7, 0}, {-1, 0}};
    for (auto [stored, read] : cases) {
        options.Set(Opt::NetworkingType, stored);
        EXPECT_EQ(static_cast<int>(options.GetNetworkingType()), read) << stored;
    }
}

TEST_F(OptionsTest, UserNameIsNormalisedOnEveryRead)
{
    struct Case
    {
        const char* stored;
        const char* read;
        bool valid;
    };
    const Case cases[] = {
        {"  [Owen]\tPratley  ", "Owen Pratley", true},
        {"ALL USERS", "owen", false},
        {"(all users)", "owen", false},
        {"[(All Users)]", "owen", false},
        {" \t ", "owen", false},
        {"", "owen", false},
        {"Abcdefghijklmnopqrstuvwxyz0123", "Abcdefghijklmnopqrstuvwxy", true},
        {"Ann\tLee", "Ann Lee", true},
    };
    for (const Case& c : cases) {
        options.SetUserName(c.stored);
        std::string name;
        EXPECT_EQ(options.GetUserName(name), c.valid) << c.stored;
        EXPECT_EQ(name, c.read) << c.stored;
    }
    // The logon name is normalised the same way and never stored.
    system.Logon = "[root]\t";
    options.SetUserName("");
    std::string name;
    EXPECT_FALSE(options.GetUserName(name));
    EXPECT_EQ(name, "root");
    EXPECT_EQ(options.Get(Opt::Username), "");
}

TEST_F(OptionsTest, ChatTextBackground)
{
    system.Window = 0x00F0F0F0;
    const std::pair<const char*, uint32_t> reads[] = {{"", 0x00F0F0F0},    {"Lite", 0x00F0F0F0},
                                                      {"255", 0x000000FF}, {"16711680", 0x00FF0000},
                                                      {"12abc", 12},       {"abc", 0}};
    for (auto [stored, colour] : reads) {
        options.Set(Opt::ChatTextBackground, stored);
        EXPECT_EQ(options.GetChatTextBackground(), colour) << stored;
    }
    options.SetChatTextBackground(0x00F0F0F0);
    EXPECT_EQ(Product().Query("ChatTextBackground")->Text, "");
    options.SetChatTextBackground(0x00123456);
    EXPECT_EQ(Product().Query("ChatTextBackground")->Text, "1193046");
}

TEST_F(OptionsTest, NotificationChoicesMapStoredValuesToBehaviour)
{
    const std::pair<int32_t, int> reads[] = {{0, 0}, {3, 1}, {1, 2}, {2, 3}, {9, 0}, {-5, 0}};
    for (auto [stored, behaviour] : reads) {
        options.Set(Opt::OnNewMessage, stored);
        EXPECT_EQ(options.GetNotification(false), behaviour) << stored;
    }
    for (int behaviour = 0; behaviour < 4; ++behaviour) {
        options.SetNotification(behaviour);
        EXPECT_EQ(options.GetNotification(false), behaviour);
        EXPECT_EQ(options.Get(Opt::OnNewMessage), COptions::NotificationRow(behaviour).StoredValue);
    }
    EXPECT_STREQ(COptions::NotificationRow(1).Text, "flash taskbar, then pop up.");
    EXPECT_FALSE(COptions::IsNotificationRow(4));
    EXPECT_THROW(COptions::NotificationRow(4), std::out_of_range);

    // All-users messages follow their own choice only while the override is on.
    options.SetNotification(2);
    options.SetAllUsersNotification(false, 3);
    EXPECT_EQ(options.GetNotification(true), 2);
    options.SetAllUsersNotification(true, 3);
    EXPECT_EQ(options.GetNotification(true), 3);
    EXPECT_EQ(options.GetNotification(false), 2);
}

TEST_F(OptionsTest, PasswordIsScrambledThreeDigitsPerCharacter)
{
    EXPECT_EQ(ScramblePassword("abc"), "045003013"); // 'a'^'L', 'b'^'a', 'c'^'n'
    options.SetPassword("abc");
    EXPECT_EQ(options.Get(Opt::Version), "045003013");
    EXPECT_EQ(options.GetPassword(), "abc");
    options.SetPassword("");
    EXPECT_EQ(Product().Query("Version")->Text, "");
    EXPECT_EQ(options.GetPassword(), "");

    const std::string longer(40, 'x'); // the key repeats after 35 characters
    EXPECT_EQ(DescramblePassword(ScramblePassword(longer)), longer);
    // Tampered values give back only printable characters.
    EXPECT_EQ(DescramblePassword("076"), "");    // 'L' ^ 'L' = 0
    EXPECT_EQ(DescramblePassword("04597"), "a"); // final short piece: 97 ^ 'a' is not printable
}

TEST_F(OptionsTest, FontRecordRoundTripAndMaskRules)
{
    FontRecord prefix = options.GetFont(FontKey::Prefix);
    EXPECT_EQ(prefix.Mask, FontRecord::kEffectsMask);
    EXPECT_EQ(prefix.Effects, FontRecord::kBold);
    EXPECT_EQ(prefix.Height, -1);
    EXPECT_EQ(prefix.FaceName, "");
    FontRecord general = options.GetFont(FontKey::General);
    EXPECT_EQ(general.Mask, 0u);
    EXPECT_EQ(general.Height, -1);

    FontRecord font;
    font.Mask = FontRecord::kSize | FontRecord::kFace | FontRecord::kColor | FontRecord::kBold;
    font.Effects = FontRecord::kBold | FontRecord::kItalic;
    font.Height = 240;
    font.Color = 0x000000FF;
    font.FaceName = "Arial";
    font.PitchAndFamily = 34;
    font.Offset = 99; // not selected by the mask: not written
    ASSERT_TRUE(options.SetFont(FontKey::General, font));
    FontRecord read = options.GetFont(FontKey::General);
    font.Offset = 0;
    EXPECT_EQ(read, font);

    // A rewrite with a smaller mask leaves only Mask and what it selects.
    FontRecord plain;
    plain.Mask = FontRecord::kColor;
    plain.Color = 5;
    ASSERT_TRUE(options.SetFont(FontKey::General, plain));
    std::vector<std::string> names;
    for (const auto& value :
         CRegKey(registry, options.ProductKey() + "\\GeneralFont", false).Values())
        names.push_back(value.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Mask", "Color"}));

    // Size bit without a height, and a face name without the face bit.
    CRegKey key(registry, options.ProductKey() + "\\PrefixFont", false);
    key.SetNumber("Mask", static_cast<int32_t>(FontRecord::kSize));
    key.SetString("FaceName", "Courier");
    read = options.GetFont(FontKey::Prefix);
    EXPECT_EQ(read.Height, -1);
    EXPECT_EQ(read.Mask, FontRecord::kFace);
}

TEST_F(OptionsTest, RulesLiveUnderTuringAndShrinkCleanly)
{
    StoredRule rule{"Greeting", "*hello*", {"one", "two", "three", "four"}};
    ASSERT_TRUE(options.WriteRule(0, rule));
    EXPECT_NE(registry.OpenKey(options.ProductKey() + "\\Turing\\Rule1", false), 0);
    rule.Responses = {"uno", "dos"};
    ASSERT_TRUE(options.WriteRule(0, rule));
    CRegKey key(registry, options.ProductKey() + "\\Turing\\Rule1", false);
    EXPECT_FALSE(key.Query("Response3"));
    EXPECT_FALSE(key.Query("Response4"));
    StoredRule read;
    ASSERT_TRUE(options.ReadRule(0, read));
    EXPECT_EQ(read.Responses, rule.Responses);

    // Responses stop at the first gap; a missing name gets its default.
    CRegKey second(registry, options.ProductKey() + "\\Turing\\Rule2", true);
    second.SetString("Response1", "a");
    second.SetString("Response3", "c");
    ASSERT_TRUE(options.ReadRule(1, read));
    EXPECT_EQ(read.Name, "Rule2");
    EXPECT_EQ(read.Condition, "");
    EXPECT_EQ(read.Responses, std::vector<std::string>{"a"});

    EXPECT_FALSE(options.ReadRule(2, read));
    EXPECT_TRUE(options.DeleteRule(1));
    EXPECT_FALSE(options.DeleteRule(1));
    EXPECT_FALSE(options.ReadRule(1, read));
}

TEST_F(OptionsTest, DerivedPaths)
{
    std::filesystem::create_directories(dir.Path() / "opt");
    system.Executable = dir.File("opt/zibtam.bin");
    EXPECT_EQ(options.GetBasePath(), dir.File("opt/zibtam"));
    EXPECT_EQ(options.GetLogPath(), dir.File("opt/zibtam.xml"));
    EXPECT_EQ(options.GetStaleTempLogPath(), dir.File("opt/zibtam.tmp"));
    EXPECT_EQ(options.GetPermissionsPath(), dir.File("opt/zibtam Permissions.xml"));

    // "Install" counts only when it names an existing file.
    options.Set(Opt::Install, dir.File("opt/missing"));
    EXPECT_EQ(options.GetBasePath(), dir.File("opt/zibtam"));
    std::ofstream(dir.File("opt/Zib Tam.run")).put('x');
    options.Set(Opt::Install, dir.File("opt/Zib Tam.run"));
    EXPECT_EQ(options.GetBasePath(), dir.File("opt/Zib Tam"));

    options.Set(Opt::LogPath, "/Logs/Office.XML");
    EXPECT_EQ(options.GetLogPath(), "/Logs/Office.XML");
    EXPECT_EQ(options.GetLogTempPath(), "/Logs/office.tmp");
    options.Set(Opt::LogPath, "/logs/chat.log");
    EXPECT_EQ(options.GetLogTempPath(), "/logs/chat.log.tmp");
}

// The extension is cut from the file name only: a program in a folder with a dot in its
// name keeps its files in its own folder, and a file planted in the parent folder under the
// folder's name is not taken for its permissions.
TEST_F(OptionsTest, ADotInAFolderNameIsNoExtension)
{
    std::filesystem::create_directories(dir.Path() / "dir.v1");
    std::ofstream(dir.File("dir Permissions.xml")).put('x');
    struct Case
    {
        const char* Executable;
        const char* Base;
    };
    const Case cases[] = {
        {"dir.v1/zibtam", "dir.v1/zibtam"},
        {"dir.v1/zibtam.bin", "dir.v1/zibtam"},
        {"dir.v1/zib.tam.bin", "dir.v1/zib.tam"},
        {"dir.v1/.zibtam", "dir.v1/.zibtam"},
    };
    for (const Case& c : cases) {
        system.Executable = dir.File(c.Executable);
        std::string base = dir.File(c.Base);
        EXPECT_EQ(options.GetBasePath(), base) << c.Executable;
        EXPECT_EQ(options.GetLogPath(), base + ".xml") << c.Executable;
        EXPECT_EQ(options.GetStaleTempLogPath(), base + ".tmp") << c.Executable;
        EXPECT_EQ(options.GetPermissionsPath(), base + " Permissions.xml") << c.Executable;
    }
    options.Set(Opt::LogPath, dir.File("Logs.Old/Office.XML"));
    EXPECT_EQ(options.GetLogTempPath(), dir.File("Logs.Old/office.tmp"));
}

TEST_F(OptionsTest, CopyInAReadOnlyFolderKeepsItsFilesInTheDataFolder)
{
    std::filesystem::create_directories(dir.Path() / "ro");
    std::filesystem::create_directories(dir.Path() / "data");
    std::filesystem::permissions(dir.Path() / "ro", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_exec |
                                                        std::filesystem::perms::others_read |
                                                        std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir.Path() / "data", std::filesystem::perms::all);
    // The child has no settings of its own: every value reads its default.
    int status = RunAsOrdinaryUser([&] {
        FakeSystemInfo child;
        child.Executable = dir.File("ro/zibtam");
        child.Data = dir.File("data");
        CSqliteRegistry none("/nonexistent/zibtam/registry.sqlite3");
        COptions readOnly(none, child, false);
        return readOnly.GetLogPath() == dir.File("data/zibtam/zibtam.xml") &&
                       readOnly.GetStaleTempLogPath() == dir.File("data/zibtam/zibtam.tmp")
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

// The log of a copy in a folder the user cannot write to goes into a data folder that
// is the user's alone.
TEST_F(OptionsTest, TheDataFolderForTheLogIsPrivate)
{
    ScopedUmask umask(022);
    system.Executable = "/nonexistent/zibtam";
    system.Data = dir.File("share");
    EXPECT_EQ(options.GetLogPath(), dir.File("share/zibtam/zibtam.xml"));
    EXPECT_EQ(ModeOf(dir.File("share")), 0700);
    EXPECT_EQ(ModeOf(dir.File("share/zibtam")), 0700);

    // A package's copy too, even when its folder is writable (run as root).
    system.Executable = "/usr/bin/zibtam";
    EXPECT_EQ(options.GetLogPath(), dir.File("share/zibtam/zibtam.xml"));
    EXPECT_EQ(options.GetStaleTempLogPath(), dir.File("share/zibtam/zibtam.tmp"));
}

TEST_F(OptionsTest, SecondaryCopyHasItsOwnTree)
{
    COptions secondary(registry, system, true);
    options.Set(Opt::PortNumber, 1000);
    EXPECT_EQ(secondary.Get(Opt::PortNumber), 34300);
    EXPECT_EQ(secondary.ProductKey(), "Software\\FernquillSoft\\Zib Tam (Secondary)");
}

TEST(OptionsDamagedStoreTest, ReadsDefaultsAndWritesFailQuietly)
{
    TempDir dir;
    FakeSystemInfo system;
    std::ofstream(dir.File("registry.sqlite3")) << "garbage garbage garbage";
    CSqliteRegistry registry(dir.File("registry.sqlite3"));
    COptions options(registry, system, false);
    EXPECT_EQ(options.Get(Opt::PromptOnAllUsers), 1);
    EXPECT_FALSE(options.Set(Opt::PromptOnAllUsers, 0));
    EXPECT_FALSE(options.SetFont(FontKey::General, FontRecord{}));
    EXPECT_EQ(options.GetFont(FontKey::Prefix).Effects, FontRecord::kBold);
    StoredRule rule;
    EXPECT_FALSE(options.ReadRule(0, rule));
    EXPECT_FALSE(options.WriteRule(0, rule));
}

} // namespace
