#include "app/console/ConfigCommand.h"

#include "TestSupport.h"
#include "platform/SqliteRegistry.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

class ConfigCommandTest : public testing::Test, protected TestSettings
{
protected:
    std::string out, err;

    int Run(std::vector<std::string> arguments)
    {
        std::ostringstream o, e;
        int status = RunConfigCommand(options, arguments, o, e);
        out = o.str();
        err = e.str();
        return status;
    }
};

TEST_F(ConfigCommandTest, SetGetUnsetTypedAsTheTablesSay)
{
    struct Case
    {
        std::vector<std::string> arguments;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"get", "NetworkingType"}, 0, "0\n"},
        {{"set", "networkingtype", "2"}, 0, ""},
        {{"get", "NetworkingType"}, 0, "2\n"},
        {{"set", "PortNumber", "0x1F90"}, 0, ""},
        {{"get", "PortNumber"}, 0, "8080\n"},
        {{"set", "PortNumber", "eighty"}, 2, ""},
        {{"set", "dlg-x", "-5"}, 0, ""},
        {{"get", "DLG-X"}, 0, "-5\n"},
        {{"set", "Server", "42"}, 0, ""}, // a text, even when it looks like a number
        {{"get", "Server"}, 0, "42\n"},
        {{"get", "MessagePrefix"}, 0, "<a>u</a> ('to' <a>r</a>) h:nn TT> \n"},
        {{"set", "Username", "Zoë"}, 0, ""},
        {{"get", "Username"}, 0, "Zoë\n"},
        {{"unset", "Server"}, 0, ""},
        {{"unset", "Server"}, 1, ""},
        {{"get", "Nothing"}, 1, ""},
        {{"set", "Turing\\Rule1\\Condition", "*lunch*"}, 0, ""},
        {{"get", "turing\\rule1\\condition"}, 0, "*lunch*\n"},
        {{"set", "PrefixFont\\Height", "240"}, 0, ""},
        {{"set", "PrefixFont\\FaceName", "Arial"}, 0, ""},
        {{"frobnicate"}, 2, ""},
        {{}, 2, ""},
        {{"set", "X"}, 2, ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.arguments)
            line += a + " ";
        EXPECT_EQ(Run(c.arguments), c.status) << line << err;
        EXPECT_EQ(out, c.out) << line;
    }
    EXPECT_EQ(options.GetNetworkingType(), NetworkingType::Client);
    EXPECT_EQ(options.Get(Opt::PortNumber), 8080);
    EXPECT_EQ(options.Get(Opt::Username), "Zo\xEB"); // stored in Windows-1252
    FontRecord font = options.GetFont(FontKey::Prefix);
    EXPECT_EQ(font.FaceName, "Arial");
    StoredRule rule;
    ASSERT_TRUE(options.ReadRule(0, rule));
    EXPECT_EQ(rule.Condition, "*lunch*");
}

TEST_F(ConfigCommandTest, ListShowsDefaultsStoredValuesAndSubkeys)
{
    Run({"set", "PlaySnd", "1"});
    Run({"set", "Turing\\Rule1\\Name", "Lunch"});
    Run({"set", "Extra", "free"});
    ASSERT_EQ(Run({"list"}), 0);
    EXPECT_NE(out.find("PlaySnd = 1\n"), std::string::npos);
    EXPECT_NE(out.find("PortNumber = 34300 (default)\n"), std::string::npos);
    EXPECT_NE(out.find("Extra = free\n"), std::string::npos);
    EXPECT_NE(out.find("Turing\\Rule1\\Name = Lunch\n"), std::string::npos);
}

TEST_F(ConfigCommandTest, GetPrintsWhatTheProgramReadsAndListShowsTheStoredValueBeside)
{
    struct Case
    {
        const char* name;
        const char* stored; // set first unless null
        const char* read;
        const char* listed;
    } cases[] = {
        {"NetworkingType", "7", "0", "NetworkingType = 0 (stored: 7)"},
        {"NetworkingType", "3", "3", "NetworkingType = 3"},
        {"Username", "  [Owen]\tPratley ", "Owen Pratley",
         "Username = Owen Pratley (stored:   [Owen]\tPratley )"},
        {"Username", "all users", "owen", "Username = owen (stored: all users)"}, // the logon name
        {"MessagePrefix", "", "<a>u</a> ('to' <a>r</a>) h:nn TT> ",
         "MessagePrefix = <a>u</a> ('to' <a>r</a>) h:nn TT>  (stored: )"},
        {"ChatTextBackground", "255", "255", "ChatTextBackground = 255"},
        {"ChatTextBackground", "Lite", "16777215", "ChatTextBackground = 16777215 (stored: Lite)"},
        {"PortNumber", nullptr, "34300", "PortNumber = 34300 (default)"},
    };
    for (const Case& c : cases) {
        if (c.stored) {
            ASSERT_EQ(Run({"set", c.name, c.stored}), 0) << err;
        }
        ASSERT_EQ(Run({"get", c.name}), 0);
        EXPECT_EQ(out, std::string(c.read) + "\n") << c.name;
        ASSERT_EQ(Run({"list"}), 0);
        EXPECT_NE(out.find(std::string("\n") + c.listed + "\n"), std::string::npos)
            << c.listed << "\n"
            << out;
    }
}

} // namespace
