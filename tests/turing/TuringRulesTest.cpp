#include "turing/TuringRules.h"

#include "TuringStore.h"

#include <gtest/gtest.h>
#include <random>

namespace {

struct MatchCase
{
    const char* Text;
    const char* Pattern;
    bool Matches;
};

TEST(MatchWildcard, Table)
{
    const MatchCase cases[] = {
        {"", "*", true},
        {"anything at all", "*", true},
        {"\n", "*", true},
        {"Hello", "hello", true},
        {"HELLO", "hello", true},
        {"hello there", "hello", false},
        {"Oh, hello!", "*hello*", true},
        {"h", "h?", false},
        {"hi", "h?", true},
        {"h\n", "h?", true},
        {"a.txt2", "*.txt", false},
        {"a.txt", "*.txt", true},
        {".txt", "*.txt", true},
        {"\xC9T\xC9", "\xE9t\xE9", false}, // accented capitals are not folded
        {"\xE9t\xE9", "\xE9T\xE9", true},
        {"[", "{", false}, // only letters fold, not the bytes 32 apart
        {"@", "`", false},
        {"", "", true},
        {"a", "", false},
        {"", "a", false},
        {"", "**", true},
        {"", "?", false},
        {"", "*?", false},
        {"abc", "a*c", true},
        {"ac", "a*c", true},
        {"abcbc", "a*bc", true},
        {"abcb", "a*bc", false},
        {"aXbXc", "*X*X*", true},
        {"aXb", "*X*X*", false},
        {"abab", "*ab*ab", true},
        {"ab", "*ab*ab", false}, // the last segment may not overlap an earlier one
        {"mississippi", "m*iss*ppi", true},
        {"mississippi", "m*iss*iss*ppi", true},
        {"mississippi", "m*iss*iss*iss*", false},
        {"a*b", "a?b", true},
        {"a?b", "a*b", true},
        {"ab", "a**b", true},
        {"abc", "?*?", true},
        {"a", "?*?", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchWildcard(c.Text, c.Pattern), c.Matches)
            << "text \"" << c.Text << "\" pattern \"" << c.Pattern << "\"";
}

TEST(MatchWildcard, NullPointersAreEmptyTexts)
{
    EXPECT_TRUE(MatchWildcard(nullptr, nullptr));
    EXPECT_TRUE(MatchWildcard(nullptr, "*"));
    EXPECT_FALSE(MatchWildcard("a", nullptr));
}

// Textbook dynamic-programming glob match with the same character rule.
bool ReferenceMatch(const std::string& text, const std::string& pattern)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    std::vector<std::vector<bool>> m(pattern.size() + 1, std::vector<bool>(text.size() + 1));
    m[0][0] = true;
    for (size_t p = 1; p <= pattern.size(); ++p) {
        for (size_t t = 0; t <= text.size(); ++t) {
            char pc = pattern[p - 1];
            if (pc == '*')
                m[p][t] = m[p - 1][t] || (t > 0 && m[p][t - 1]);
            else
                m[p][t] = t > 0 && m[p - 1][t - 1] && (pc == '?' || fold(pc) == fold(text[t - 1]));
        }
    }
    return m[pattern.size()][text.size()];
}

void AllStrings(const std::string& alphabet, size_t maxLength, std::vector<std::string>& out)
{
    out.push_back("");
    for (size_t from = 0, length = 1; length <= maxLength; ++length) {
        size_t to = out.size();
        for (size_t i = from; i < to; ++i)
            for (char c : alphabet)
                out.push_back(out[i] + c);
        from = to;
    }
}

// Every pattern and text up to five characters over a small alphabet agrees with the
// reference: the leftmost-segment search never loses a match.
TEST(MatchWildcard, AgreesWithReferenceOnAllShortStrings)
{
    std::vector<std::string> patterns, texts;
    AllStrings("aB*?", 5, patterns);
    AllStrings("Ab\n", 5, texts);
    int failures = 0;
    for (const auto& pattern : patterns)
        for (const auto& text : texts)
            if (MatchWildcard(text.c_str(), pattern.c_str()) != ReferenceMatch(text, pattern) &&
                ++failures <= 5)
                ADD_FAILURE() << "text \"" << text << "\" pattern \"" << pattern << "\"";
    EXPECT_EQ(failures, 0);
}

TEST(NormalizeResponseMessage, Table)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Hi\r\n\r\n", "Hi"},
        {"\r\n\r\n\r\nHi", "\r\nHi"},
        {"\r\n\r\nHi", "\r\nHi"},
        {"\r\nHi", "\r\nHi"},
        {"\n\nHi", "\n\nHi"}, // only carriage return plus line feed pairs shrink
        {"Hi\n\r\r\n", "Hi"}, // any run of line-end characters at the end
        {"a\tb\t", "a b "},
        {"\r\n\r\n\r\n", ""},
        {"", ""},
        {"Line 1\r\nLine 2", "Line 1\r\nLine 2"},
    };
    for (const auto& [in, out] : cases) {
        std::string message = in;
        NormalizeResponseMessage(message);
        EXPECT_EQ(message, out) << "input \"" << in << "\"";
    }
}

TEST(ResponseValue, FormatsProbabilityDelaysAndMessage)
{
    EXPECT_EQ(FormatResponseValue({0, 5, 50, "Hi"}), "50%\t0\t5\tHi");
    EXPECT_EQ(FormatResponseValue(TuringResponse{}), "100%\t0\t0\t");
}

struct ParseCase
{
    std::string Value;
    int32_t Probability, MinDelay, MaxDelay;
    std::string Message;
};

TEST(ResponseValue, ParsesForgivingly)
{
    const std::string d = kDefaultTuringMessage;
    const ParseCase cases[] = {
        {"50%\t0\t5\tHi", 50, 0, 5, "Hi"},
        {"abc%\t1\t2\tx", 0, 1, 2, "x"}, // letters give 0
        {"150%\t0\t0\tx", 100, 0, 0, "x"},
        {"-5\t0\t0\tx", 0, 0, 0, "x"},
        {"%%%\t0\t0\tx", 100, 0, 0, "x"}, // nothing left: 100
        {"\t0\t0\tx", 100, 0, 0, "x"},
        {"  42xyz%\t0\t0\tx", 42, 0, 0, "x"},
        {"4%2\t0\t0\tx", 4, 0, 0, "x"}, // only the trailing "%" go; atoi stops at "%"
        {"+7\t0\t0\tx", 7, 0, 0, "x"},
        {"99999999999999999999\t0\t0\tx", 100, 0, 0, "x"},
        {"-99999999999999999999\t0\t0\tx", 0, 0, 0, "x"},
        {"50%\t10\t2\tx", 50, 2, 10, "x"}, // delays in either order
        {"50%\t1000\t3\tx", 50, 3, 900, "x"},
        {"50%\t-4\t\tx", 50, 0, 0, "x"},
        {"50%\t\t7\tx", 50, 0, 7, "x"},
        {"50%\t0\t5\t", 50, 0, 5, d},
        {"50%\t0\t5\t\r\n", 50, 0, 5, d},
        {"50%\t0\t5", 50, 0, 5, d}, // missing fields count as empty
        {"", 100, 0, 0, d},
        {"\t\t\t", 100, 0, 0, d},
        {"50%\t0\t5\tHi\tthere", 50, 0, 5, "Hi"}, // fields beyond the fourth are dropped
        {"50%\t0\t5\t\r\n\r\n\r\nHi\r\n", 50, 0, 5, "\r\nHi"},
        {std::string("50%\t0\t5\ta\0b", 11), 50, 0, 5, std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        TuringResponse r = ParseResponseValue(c.Value);
        EXPECT_EQ(r.Probability, c.Probability) << "value \"" << c.Value << "\"";
        EXPECT_EQ(r.MinDelay, c.MinDelay) << "value \"" << c.Value << "\"";
        EXPECT_EQ(r.MaxDelay, c.MaxDelay) << "value \"" << c.Value << "\"";
        EXPECT_EQ(r.Message, c.Message) << "value \"" << c.Value << "\"";
    }
}

TEST(TuringRulesStore, SavedRulesLoadBackEqual)
{
    TuringStore store;
    std::vector<TuringRule> rules = {
        {{{0, 5, 50, "Hi"}, {2, 9, 30, "Line 1\r\nLine 2"}}, "Greeting", "*hello*"},
        {{}, "Silent", "quiet"},
        {{{900, 900, 100, "Later"}}, "Rule3", "*"},
    };
    ASSERT_TRUE(SaveTuringRules(store.options, rules));

    StoredRule raw;
    ASSERT_TRUE(store.options.ReadRule(0, raw));
    EXPECT_EQ(raw.Responses,
              (std::vector<std::string>{"50%\t0\t5\tHi", "30%\t2\t9\tLine 1\r\nLine 2"}));

    std::vector<TuringRule> loaded = {{{}, "stale", "stale"}};
    LoadTuringRules(store.options, loaded);
    EXPECT_EQ(loaded, rules);
}

TEST(TuringRulesStore, SavingAShorterListRemovesWhatIsLeftOver)
{
    TuringStore store;
    std::vector<TuringRule> rules(4);
    for (auto& rule : rules) {
        rule.Name = "Named";
        rule.Responses.assign(4, {1, 2, 50, "x"});
    }
    ASSERT_TRUE(SaveTuringRules(store.options, rules));

    rules.resize(2);
    rules[0].Responses.resize(2);
    ASSERT_TRUE(SaveTuringRules(store.options, rules));

    StoredRule raw;
    EXPECT_FALSE(store.options.ReadRule(2, raw));
    EXPECT_FALSE(store.options.ReadRule(3, raw));
    ASSERT_TRUE(store.options.ReadRule(0, raw));
    EXPECT_EQ(raw.Responses.size(), 2u);
    CRegKey key(store.registry, store.options.ProductKey() + "\\Turing\\Rule1", false);
    EXPECT_FALSE(key.Query("Response3"));
    EXPECT_FALSE(key.Query("Response4"));

    std::vector<TuringRule> loaded;
    LoadTuringRules(store.options, loaded);
    EXPECT_EQ(loaded, rules);

    ASSERT_TRUE(SaveTuringRules(store.options, {}));
    EXPECT_FALSE(store.options.ReadRule(0, raw));
}

TEST(TuringRulesStore, SwitchedOffNeitherLoadsNorOverwrites)
{
    TuringStore store(false);
    store.StoreRule(0, "*", {"100%\t0\t0\tHi"});

    std::vector<TuringRule> loaded = {{{}, "stale", "stale"}};
    LoadTuringRules(store.options, loaded);
    EXPECT_TRUE(loaded.empty());

    EXPECT_TRUE(SaveTuringRules(store.options, {}));
    EXPECT_TRUE(SaveTuringRules(store.options, {{{}, "New", "new"}}));
    StoredRule raw;
    ASSERT_TRUE(store.options.ReadRule(0, raw));
    EXPECT_EQ(raw.Condition, "*");
    EXPECT_EQ(raw.Responses, std::vector<std::string>{"100%\t0\t0\tHi"});
}

TEST(TuringRulesStore, LoadingStopsAtTheFirstMissingRuleAndResponse)
{
    TuringStore store;
    store.StoreRule(0, "a", {"10%\t0\t0\tone", "20%\t0\t0\ttwo"});
    store.StoreRule(2, "c", {"30%\t0\t0\tthree"}); // Rule2 missing: Rule3 is never seen
    // A response after an empty one is not read.
    CRegKey key(store.registry, store.options.ProductKey() + "\\Turing\\Rule1", false);
    key.SetString("Response2", "");
    key.SetString("Response3", "30%\t0\t0\tthree");

    std::vector<TuringRule> loaded;
    LoadTuringRules(store.options, loaded);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].Condition, "a");
    EXPECT_EQ(loaded[0].Name, "R1");
    ASSERT_EQ(loaded[0].Responses.size(), 1u);
    EXPECT_EQ(loaded[0].Responses[0].Message, "one");
}

TEST(TuringRulesStore, RuleKeyWithoutValuesLoadsAsNamedSilentRule)
{
    TuringStore store;
    CRegKey(store.registry, store.options.ProductKey() + "\\Turing\\Rule1", true);
    std::vector<TuringRule> loaded;
    LoadTuringRules(store.options, loaded);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].Name, "Rule1");
    EXPECT_EQ(loaded[0].Condition, "");
    EXPECT_TRUE(loaded[0].Responses.empty());
}

// Values of any shape, of either type, load within the ranges or are skipped; none crashes.
TEST(TuringRulesStore, ArbitraryStoredValuesLoadWithinRange)
{
    TuringStore store;
    std::mt19937 random(7);
    const std::string pieces[] = {
        "\t",  "%",    "-",           "+", " ", "\r\n", "9",
        "0",   "1000", "99999999999", "x", "*", "?",    std::string(1, '\0'),
        "\xFF"};
    for (int n = 0; n < 40; ++n) {
        CRegKey key(store.registry,
                    store.options.ProductKey() + "\\Turing\\Rule" + std::to_string(n + 1), true);
        auto junk = [&] {
            std::string s;
            for (int i = random() % 12; i > 0; --i)
                s += pieces[random() % std::size(pieces)];
            return s;
        };
        if (n % 5 == 0)
            key.SetNumber("Name", 42);
        else
            key.SetString("Name", junk());
        if (n % 7 == 0)
            key.SetNumber("Condition", -1);
        else
            key.SetString("Condition", junk());
        for (int i = 1; i <= 5; ++i)
            if (n % 3 == 0 && i == 2)
                key.SetNumber("Response2", 7);
            else
                key.SetString("Response" + std::to_string(i), junk() + "x");
    }
    std::vector<TuringRule> loaded;
    LoadTuringRules(store.options, loaded);
    ASSERT_EQ(loaded.size(), 40u);
    for (const auto& rule : loaded) {
        for (const auto& r : rule.Responses) {
            EXPECT_GE(r.Probability, 0);
            EXPECT_LE(r.Probability, 100);
            EXPECT_GE(r.MinDelay, 0);
            EXPECT_LE(r.MinDelay, r.MaxDelay);
            EXPECT_LE(r.MaxDelay, 900);
            EXPECT_FALSE(r.Message.empty());
            EXPECT_EQ(r.Message.find('\t'), std::string::npos);
        }
        MatchWildcard("some text", rule.Condition.c_str());
    }
    // What loaded saves and loads back unchanged.
    ASSERT_TRUE(SaveTuringRules(store.options, loaded));
    std::vector<TuringRule> again;
    LoadTuringRules(store.options, again);
    EXPECT_EQ(again, loaded);
}

} // namespace
