#include "autotype/AutoTyper.h"

#include "TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

// The US layout as the Windows look-up reports it: the key's virtual-key code, and
// whether Shift gives the character.
class UsLayout : public IKeyboardLayout
{
public:
    KeyLookup LookupCharacter(unsigned char c) override
    {
        if (c >= 'a' && c <= 'z')
            return {true, static_cast<uint16_t>(c - 'a' + 'A'), false};
        if (c >= 'A' && c <= 'Z')
            return {true, c, true};
        if (c >= '0' && c <= '9')
            return {true, c, false};
        if (const char* at = std::strchr(")!@#$%^&*(", c); at && c)
            return {true, static_cast<uint16_t>('0' + (at - ")!@#$%^&*(")), true};
        static const struct
        {
            char Plain, Shifted;
            uint16_t Key;
        } kKeys[] = {{'`', '~', 0xC0}, {'-', '_', 0xBD},  {'=', '+', 0xBB}, {'[', '{', 0xDB},
                     {']', '}', 0xDD}, {'\\', '|', 0xDC}, {';', ':', 0xBA}, {'\'', '"', 0xDE},
                     {',', '<', 0xBC}, {'.', '>', 0xBE},  {'/', '?', 0xBF}, {' ', 0, 0x20}};
        for (const auto& key : kKeys) {
            if (c == static_cast<unsigned char>(key.Plain))
                return {true, key.Key, false};
            if (key.Shifted && c == static_cast<unsigned char>(key.Shifted))
                return {true, key.Key, true};
        }
        return {};
    }
};

class RecordingInjector : public IKeyInjector
{
public:
    bool Available = true;
    std::vector<std::vector<KeyInput>> Calls;

    bool IsAvailable() const override { return Available; }
    bool Inject(std::span<const KeyInput> events) override
    {
        Calls.emplace_back(events.begin(), events.end());
        return Available;
    }
};

std::vector<KeyInput> Typed(std::string_view text)
{
    UsLayout layout;
    RecordingInjector injector;
    CAutoTyper typer(layout, injector);
    typer.TypeText(text);
    return typer.Events();
}

constexpr KeyInput Down(uint16_t key)
{
    return {key, kKeyDown};
}
constexpr KeyInput Up(uint16_t key)
{
    return {key, kKeyUp};
}

const std::vector<KeyInput> kReleaseModifiers = {Up(0x11), Up(0x12), Up(0x10)};

std::vector<KeyInput> Plain(uint16_t key)
{
    auto events = kReleaseModifiers;
    events.insert(events.end(), {Down(key), Up(key)});
    return events;
}

std::vector<KeyInput> Shifted(uint16_t key)
{
    auto events = kReleaseModifiers;
    events.insert(events.end(), {Down(0x10), Down(key), Up(key), Up(0x10)});
    return events;
}

TEST(AutoTyperTest, OwenIsOneShiftedAndThreePlainCharacters)
{
    auto events = Typed("Owen");
    ASSERT_EQ(events.size(), 22u);
    std::vector<KeyInput> expected = Shifted('O');
    for (uint16_t key : {'W', 'E', 'N'}) {
        auto plain = Plain(key);
        expected.insert(expected.end(), plain.begin(), plain.end());
    }
    EXPECT_EQ(events, expected);
}

TEST(AutoTyperTest, ShiftIsHeldExactlyForTheCharactersThatNeedIt)
{
    const std::string shifted = "ABCDEFGHIJKLMNOPQRSTUVWXYZ~!@#$%^&*()_+|{}\":?><";
    const std::string plain = "abcdefghijklmnopqrstuvwxyz0123456789`-=[]\\;',./ ";
    UsLayout layout;
    for (char c : shifted) {
        SCOPED_TRACE(std::string("character ") + c);
        EXPECT_EQ(Typed(std::string(1, c)), Shifted(layout.LookupCharacter(c).VirtualKey));
    }
    for (char c : plain) {
        SCOPED_TRACE(std::string("character ") + c);
        EXPECT_EQ(Typed(std::string(1, c)), Plain(layout.LookupCharacter(c).VirtualKey));
    }
}

TEST(AutoTyperTest, BackslashAndDoubleQuoteComeOutAsThemselves)
{
    // A backslash is the plain key and a double quote the shifted one, so neither comes out
    // as the other character of its key ("|" or "'").
    EXPECT_EQ(Typed("\\"), Plain(0xDC));
    EXPECT_EQ(Typed("|"), Shifted(0xDC));
    EXPECT_EQ(Typed("\""), Shifted(0xDE));
    EXPECT_EQ(Typed("'"), Plain(0xDE));
}

TEST(AutoTyperTest, CharactersWithoutAKeyAreLeftOut)
{
    EXPECT_EQ(Typed("a\xE9\x80z"), [] {
        auto events = Plain('A');
        auto z = Plain('Z');
        events.insert(events.end(), z.begin(), z.end());
        return events;
    }());
    EXPECT_TRUE(Typed("\xE9\xFC").empty());
    EXPECT_TRUE(Typed("").empty());
}

TEST(AutoTyperTest, InjectHandsTheWholeListOverInOneCall)
{
    UsLayout layout;
    RecordingInjector injector;
    CAutoTyper typer(layout, injector);
    std::string text(600, 'x'); // over the list's growth step
    typer.TypeText(text);
    typer.TypeText("Y");
    EXPECT_TRUE(typer.Inject());
    ASSERT_EQ(injector.Calls.size(), 1u);
    EXPECT_EQ(injector.Calls[0].size(), 600u * 5 + 7);
    EXPECT_EQ(injector.Calls[0], typer.Events());
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(AutoTyperTest, TextIsThePrefixFormatWithTheCurrentTime)
{
    std::time_t when = LocalTime(2000, 5, 8, 15, 47, 38);
    struct Case
    {
        const char* Format;
        const char* Text;
    } cases[] = {
        {"m/d/yy", "5/8/00"},
        {"'Owen'", "Owen"},
        {"Owen", "Owe47"}, // letters are tokens unless quoted
        {"'Sent' h:nn TT", "Sent 3:47 PM"},
        {"u r", " "}, // sender and recipients are empty
        {"'c:\\temp' \"\"x\"\"", "c:\\temp \"x\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutoTypeText(c.Format, when), c.Text) << c.Format;
}

class AutoTypeHotKeyTest : public testing::Test, protected TestSettings
{
protected:
    CManualClock clock;
    UsLayout layout;
    RecordingInjector injector;
    std::vector<std::string> reports;
    CAutoType autoType{options, clock, layout, injector,
                       [this](const std::string& text) { reports.push_back(text); }};
};

TEST_F(AutoTypeHotKeyTest, TypesTheSettingAsItIsAtThePress)
{
    EXPECT_FALSE(CAutoType::WantsHotKey(options));
    autoType.OnHotKey();
    EXPECT_TRUE(injector.Calls.empty());

    options.Set(Opt::AutoType, "Owen");
    EXPECT_TRUE(CAutoType::WantsHotKey(options));
    autoType.OnHotKey();
    ASSERT_EQ(injector.Calls.size(), 1u);
    EXPECT_EQ(injector.Calls[0].size(), 22u);

    options.Set(Opt::AutoType, "ab");
    autoType.OnHotKey();
    ASSERT_EQ(injector.Calls.size(), 2u);
    EXPECT_EQ(injector.Calls[1].size(), 10u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(AutoTypeHotKeyTest, SaysOnceWhenTypingCannotWorkHere)
{
    options.Set(Opt::AutoType, "Owen");
    injector.Available = false;
    autoType.OnHotKey();
    autoType.OnHotKey();
    EXPECT_TRUE(injector.Calls.empty());
    EXPECT_EQ(reports, std::vector<std::string>{kAutoTypeUnavailableText});
}

} // namespace
