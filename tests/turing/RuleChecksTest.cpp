#include "turing/RuleChecks.h"

#include <gtest/gtest.h>

namespace {

TuringResponse Response(int probability, int minDelay = 0, int maxDelay = 0,
                        std::string message = "Hi")
{
    TuringResponse r;
    r.Probability = probability;
    r.MinDelay = minDelay;
    r.MaxDelay = maxDelay;
    r.Message = std::move(message);
    return r;
}

TuringRule Rule(std::string condition, std::vector<TuringResponse> responses)
{
    return TuringRule{std::move(responses), std::string("R"), std::move(condition)};
}

TEST(RuleChecksTest, ValidateResponseInOrder)
{
    struct Case
    {
        TuringResponse response;
        const char* text; // empty when it passes
    } cases[] = {
        {Response(100, 0, 900), ""},
        {Response(100, -1, 5), "The delay time must be between 0 and 900 seconds."},
        {Response(100, 0, 901), "The delay time must be between 0 and 900 seconds."},
        // the delay is looked at before the probability
        {Response(101, 0, 901), "The delay time must be between 0 and 900 seconds."},
        {Response(101), "The probability must be between 0 and 100."},
        {Response(-1), "The probability must be between 0 and 100."},
        {Response(0), ""},
        {Response(50, 0, 0, "\r\n\r\n"), "Please specify a message."},
        {Response(50, 0, 0, ""), "Please specify a message."},
        {Response(50, 0, 0, std::string(3000, 'x')), ""},
        // trailing line breaks do not count against the limit
        {Response(50, 0, 0, std::string(3000, 'x') + "\r\n"), ""},
        {Response(50, 0, 0, std::string(3001, 'x')), "The message is limited to 3000 characters."},
    };
    for (const auto& c : cases) {
        std::string text;
        bool ok = ValidateResponse(c.response, text);
        EXPECT_EQ(ok, *c.text == '\0') << c.text;
        if (!ok) {
            EXPECT_EQ(text, c.text);
        }
    }
}

TEST(RuleChecksTest, ValidateRuleFieldsAndIndexes)
{
    struct Case
    {
        TuringRule rule;
        int field; // 0 = passes
        int responseIndex;
        const char* text;
    } cases[] = {
        {Rule("", {Response(100)}), 1, 0, "Please specify a condition."},
        {Rule("  ", {Response(100)}), 0, 0, ""}, // blanks are a condition
        {Rule("*", {}), 2, 0, "You must have at least one response for each rule."},
        {Rule("*", {Response(60), Response(40)}), 0, 0, ""},
        {Rule("*", {Response(60), Response(41)}), 2, 0,
         "The total probability of a rule cannot exceed 100."},
        {Rule("*", {Response(10), Response(10, 0, 0, "")}), 2, 1, "Please specify a message."},
        // a bad response is reported before the sum
        {Rule("*", {Response(90), Response(90), Response(0, 0, 1000)}), 2, 2,
         "The delay time must be between 0 and 900 seconds."},
    };
    for (const auto& c : cases) {
        RuleCheckResult result;
        bool ok = ValidateRule(c.rule, result);
        EXPECT_EQ(ok, c.field == 0) << c.text;
        if (ok)
            continue;
        EXPECT_EQ(result.Field, c.field) << c.text;
        EXPECT_EQ(result.ResponseFailed, c.field == 2) << c.text;
        EXPECT_EQ(result.ResponseIndex, c.responseIndex) << c.text;
        EXPECT_EQ(result.Text, c.text);
        EXPECT_FALSE(result.RuleFailed);
    }
}

TEST(RuleChecksTest, ValidateRulesStopsAtTheFirstInStoredOrder)
{
    std::vector<TuringRule> rules = {Rule("a", {Response(10)}), Rule("", {}), Rule("c", {})};
    RuleCheckResult result;
    EXPECT_FALSE(ValidateRules(rules, result));
    EXPECT_TRUE(result.RuleFailed);
    EXPECT_EQ(result.RuleIndex, 1);
    EXPECT_EQ(result.Field, 1);

    RuleCheckResult none;
    EXPECT_TRUE(ValidateRules({}, none));
    EXPECT_FALSE(none.RuleFailed);
}

TEST(RuleChecksTest, ResponseDisplayText)
{
    EXPECT_EQ(ResponseDisplayText(Response(50, 0, 5)), "50%\t0 - 5\tHi");
    EXPECT_EQ(ResponseDisplayText(Response(100, 7, 7, "Yo")), "100%\t7\tYo");
}

TEST(RuleChecksTest, ResponseDialogEntry)
{
    struct Case
    {
        const char *low, *high, *percent, *message;
        ResponseField failed;
        const char* text;
    } cases[] = {
        {"1000", "0", "100", "Hi", ResponseField::MinDelay,
         "Please specify a delay between 0 and 900."},
        {"", "0", "100", "Hi", ResponseField::MinDelay,
         "Please specify a delay between 0 and 900."},
        {"5", "9x", "100", "Hi", ResponseField::MaxDelay,
         "Please specify a delay between 0 and 900."},
        {"5", "-1", "100", "Hi", ResponseField::MaxDelay,
         "Please specify a delay between 0 and 900."},
        {"5", "5", "101", "Hi", ResponseField::Probability,
         "Please specify a probability between 0 and 100."},
        {"5", "5", "100", "\r\n\r\n\r\n", ResponseField::Message, "Please specify a message."},
        {"5", "5", "100", "", ResponseField::Message, "Please specify a message."},
        {"30", "10", "50", "Hi\r\n", ResponseField::None, ""},
    };
    for (const auto& c : cases) {
        ResponseEntry entry = CheckResponseEntry(c.low, c.high, c.percent, c.message);
        EXPECT_EQ(entry.Failed, c.failed) << c.low << ' ' << c.high << ' ' << c.percent;
        EXPECT_EQ(entry.Text, c.text);
    }
    ResponseEntry swapped = CheckResponseEntry("30", "10", "50", "Hi\r\n");
    EXPECT_EQ(swapped.Response, Response(50, 10, 30, "Hi"));
    EXPECT_EQ(CheckResponseEntry("0", "0", "0", std::string(3001, 'x')).Text,
              "The message is limited to 3000 characters.");
}

TEST(RuleChecksTest, DelayArrowsDragTheOtherEnd)
{
    int max = 10;
    CoupleMinDelay(15, max);
    EXPECT_EQ(max, 15);
    CoupleMinDelay(3, max);
    EXPECT_EQ(max, 15);
    int min = 10;
    CoupleMaxDelay(4, min);
    EXPECT_EQ(min, 4);
    CoupleMaxDelay(20, min);
    EXPECT_EQ(min, 4);
}

TEST(RuleChecksTest, PositionAfterDelete)
{
    EXPECT_EQ(PositionAfterDelete(0, 2), 0);
    EXPECT_EQ(PositionAfterDelete(2, 2), 1); // the last one went: the one before
    EXPECT_EQ(PositionAfterDelete(0, 0), -1);
}

} // namespace
