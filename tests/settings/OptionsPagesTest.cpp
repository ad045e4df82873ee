#include "settings/OptionsPages.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(OptionsPagesTest, PasswordGate)
{
    struct Case
    {
        const char* stored;
        bool entered;
        const char* entry;
        PasswordGate gate;
    } cases[] = {
        {"", false, "", PasswordGate::Open},         // no password: nothing is asked
        {"abc", true, "abc", PasswordGate::Open},    // right entry
        {"abc", true, "ABC", PasswordGate::Refused}, // case counts
        {"abc", true, "", PasswordGate::Refused},
        {"abc", false, "abc", PasswordGate::Cancelled}, // Cancel opens nothing, even with text
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckOptionsPassword(c.stored, c.entered, c.entry), c.gate)
            << c.stored << " / " << c.entry;
    // An entry that only reads back like the password does not open.
    EXPECT_EQ(CheckOptionsPassword("ab", true,
                                   "a\xE9"
                                   "b"),
              PasswordGate::Refused);
    EXPECT_EQ(CheckOptionsPassword("ab", true, " ab"), PasswordGate::Refused);
    EXPECT_TRUE(PasswordToStore(false, "\xD0\xB6").Ok); // unchecked: anything, stored empty
    EXPECT_EQ(PasswordToStore(false, "pw").Password, "");
}

TEST(OptionsPagesTest, RepeatSoundFollowsThePopUpChoice)
{
    // behaviour, repeat checked -> enabled, stored
    struct Case
    {
        int behaviour;
        bool checked;
        bool enabled;
        int32_t stored;
    } cases[] = {{0, true, true, 1},   {1, true, true, 1}, {2, true, false, 0},
                 {2, false, false, 0}, {3, true, true, 1}, {0, false, true, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(RepeatSoundEnabled(c.behaviour), c.enabled) << c.behaviour;
        EXPECT_EQ(RepeatSoundToStore(c.behaviour, c.checked), c.stored) << c.behaviour;
    }
}

TEST(OptionsPagesTest, SoundTestDecisions)
{
    SoundTest missing = DecideSoundTest("/no/such.wav", false, true, true);
    EXPECT_FALSE(missing.Play);
    EXPECT_FALSE(missing.StayPressed);
    EXPECT_EQ(missing.Message, "The sound file does not exist: /no/such.wav");

    SoundTest system = DecideSoundTest("", false, true, false); // empty = the system sound
    EXPECT_TRUE(system.Play);
    EXPECT_FALSE(system.Repeat);
    EXPECT_FALSE(system.StayPressed);

    SoundTest repeating = DecideSoundTest("/a.wav", true, true, true);
    EXPECT_TRUE(repeating.Play && repeating.Repeat && repeating.StayPressed);

    SoundTest disabledRepeat = DecideSoundTest("/a.wav", true, false, true);
    EXPECT_TRUE(disabledRepeat.Play);
    EXPECT_FALSE(disabledRepeat.Repeat || disabledRepeat.StayPressed);
}

TEST(OptionsPagesTest, CustomColorsWhiteThenWindowAndFace)
{
    CustomColors colors = InitialCustomColors();
    for (uint32_t c : colors)
        EXPECT_EQ(c, 0x00FFFFFFu);
    colors[3] = 0x123456; // the user's own custom colour survives
    PrepareCustomColors(colors, 0x00EEEEEE, 0x00C0C0C0);
    EXPECT_EQ(colors[0], 0x00EEEEEEu);
    EXPECT_EQ(colors[8], 0x00C0C0C0u);
    EXPECT_EQ(colors[3], 0x123456u);
}

TEST(OptionsPagesTest, ChosenFontTakesValidAttributesAndDropsTheRest)
{
    FontRecord working;
    working.Mask = FontRecord::kBold | FontRecord::kSize | FontRecord::kFace | FontRecord::kColor;
    working.Effects = FontRecord::kBold;
    working.Height = 200;
    working.FaceName = "Old Face";
    working.Color = 0xFF;

    ChosenFont chosen;
    chosen.Valid = FontRecord::kBold | FontRecord::kItalic | FontRecord::kSize;
    chosen.Font.Effects = FontRecord::kItalic; // bold off, italic on
    chosen.Font.Height = 240;
    chosen.Font.FaceName = "Ignored";
    chosen.Font.Color = 0xFF00;

    FontRecord merged = MergeChosenFont(working, chosen);
    EXPECT_EQ(merged.Mask, FontRecord::kBold | FontRecord::kItalic | FontRecord::kSize);
    EXPECT_EQ(merged.Effects, FontRecord::kItalic);
    EXPECT_EQ(merged.Height, 240);
    EXPECT_EQ(merged.FaceName, ""); // face not marked valid: the name goes
    EXPECT_EQ(merged.Color, 0xFFu); // value kept, validity bit cleared

    chosen.Valid |= FontRecord::kFace;
    EXPECT_EQ(MergeChosenFont(working, chosen).FaceName, "Ignored");
}

TEST(OptionsPagesTest, NetworkingOpeningAndVisibility)
{
    struct Case
    {
        int type;
        bool peer, clientServer;
        ServerRole role;
    } opening[] = {{0, false, false, ServerRole::Client},
                   {1, true, false, ServerRole::Client},
                   {2, false, true, ServerRole::Client},
                   {3, false, true, ServerRole::Server}};
    for (const auto& c : opening) {
        NetworkingChoice choice = ChoiceForNetworkingType(c.type);
        EXPECT_EQ(choice.PeerToPeer, c.peer) << c.type;
        EXPECT_EQ(choice.ClientServer, c.clientServer) << c.type;
        EXPECT_EQ(choice.Role, c.role) << c.type;
    }

    struct Shown
    {
        NetworkingChoice choice;
        bool roles, port, server, name;
    } shown[] = {
        {{true, false, ServerRole::Client}, false, false, false, false},
        {{false, false, ServerRole::Server}, false, false, false, false},
        {{false, true, ServerRole::None}, true, false, false, false},
        {{false, true, ServerRole::Client}, true, true, true, false},
        {{false, true, ServerRole::Server}, true, true, false, true},
    };
    for (const auto& s : shown) {
        NetworkingVisibility v = VisibilityFor(s.choice);
        EXPECT_EQ(v.RoleButtons, s.roles);
        EXPECT_EQ(v.PortRow, s.port);
        EXPECT_EQ(v.ServerEdit, s.server);
        EXPECT_EQ(v.ComputerName, s.name);
    }
}

TEST(OptionsPagesTest, NetworkingCheck)
{
    struct Case
    {
        NetworkingChoice choice;
        const char* server;
        const char* port;
        bool ok;
        int type;
        const char* message;
    } cases[] = {
        {{false, false, ServerRole::Client}, "", "", false, 0, kChooseMode},
        {{true, false, ServerRole::None}, "", "", true, 1, ""},
        {{false, true, ServerRole::None}, "srv", "", false, 0, kChooseRole},
        {{false, true, ServerRole::Client}, "", "", false, 2, kChooseServer},
        {{false, true, ServerRole::Client}, "srv", "34300", true, 2, ""},
        {{false, true, ServerRole::Server}, "", "", true, 3, ""},
        // A port beyond the last one is refused where the port is shown, not saved as another.
        {{false, true, ServerRole::Client}, "srv", "70000", false, 2, kChoosePort},
        {{false, true, ServerRole::Server}, "", "65536", false, 3, kChoosePort},
        {{true, false, ServerRole::Client}, "", "70000", true, 1, ""},
    };
    for (const auto& c : cases) {
        NetworkingCheck check = CheckNetworking(c.choice, c.server, c.port);
        EXPECT_EQ(check.Ok, c.ok) << c.message;
        EXPECT_EQ(check.Message, c.message);
        if (c.ok) {
            EXPECT_EQ(check.Type, c.type);
        }
    }
}

TEST(OptionsPagesTest, PortRule)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0},
        {"", 34300},
        {"34301", 34301},
        {"65535", 65535},
        {"65536", 34300},
        {"99999", 34300},
        {"-1", 34300},
        {"12a", 34300},
        {" 80", 34300},
        {"0080", 80},
        {"9999999999999", 34300},
    };
    for (auto [text, port] : cases)
        EXPECT_EQ(PortFromText(text), port) << '"' << text << '"';
}

TEST(OptionsPagesTest, StoreNetworkingKeepsTheServerWhateverTheType)
{
    TestSettings settings;
    StoreNetworking(settings.options, 1, "old-server", "");
    EXPECT_EQ(settings.options.GetNetworkingType(), NetworkingType::PeerToPeer);
    EXPECT_EQ(settings.options.Get(Opt::Server), "old-server");
    EXPECT_EQ(settings.options.Get(Opt::PortNumber), 34300);
    StoreNetworking(settings.options, 3, "", "0");
    EXPECT_EQ(settings.options.Get(Opt::PortNumber), 0);
}

} // namespace
