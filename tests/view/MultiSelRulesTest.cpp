#include "view/MultiSelRules.h"

#include <gtest/gtest.h>

namespace {

TEST(MultiSelRulesTest, DisplayedSentence)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, ""},
        {{"Owen"}, "Owen"},
        {{"Owen", "R.T."}, "Owen and R.T."},
        {{"Ann", "Owen", "R.T."}, "Ann, Owen, and R.T."},
        {{"A", "B", "C", "D"}, "A, B, C, and D"},
    };
    for (const auto& [selected, text] : cases)
        EXPECT_EQ(MultiSelText(selected), text);
}

TEST(MultiSelRulesTest, ListHeightAndSide)
{
    struct Case
    {
        int Count, EntryHeight, Height;
    };
    const Case cases[] = {
        {30, 16, 210}, // 13 whole entries plus 2
        {5, 16, 82},   {0, 16, 222}, {13, 17, 206}, {1, 220, 222}, {1, 300, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DropListHeight(c.Count, c.EntryHeight), c.Height)
            << c.Count << "x" << c.EntryHeight;
    EXPECT_FALSE(DropListOpensAbove(500, 210, 768));
    EXPECT_TRUE(DropListOpensAbove(600, 210, 768));
    EXPECT_FALSE(DropListOpensAbove(558, 210, 768));
}

TEST(MultiSelRulesTest, TypeAhead)
{
    const std::vector<std::string> entries = {"Ann", "Ray", "Rita", "Rtx", "Sam"};
    struct Step
    {
        char Letter;
        uint32_t Tick;
        int Expected;
    };
    struct Case
    {
        const char* Name;
        int Caret;
        std::vector<Step> Steps;
    };
    const Case cases[] = {
        {"r then t quickly", 0, {{'r', 1000, 1}, {'T', 1200, 3}}},
        {"r twice slowly steps",
         0,
         {{'r', 1000, 1}, {'r', 2000, 2}, {'r', 3000, 3}, {'r', 4000, 1}}},
        {"r twice quickly steps too", 0, {{'r', 1000, 1}, {'r', 1100, 2}}},
        {"500 ms is still quick", 0, {{'r', 1000, 1}, {'i', 1500, 2}}},
        {"501 ms restarts", 0, {{'r', 1000, 1}, {'s', 1501, 4}}},
        {"no match", 0, {{'z', 1000, -1}}},
    };
    for (const Case& c : cases) {
        CTypeAhead typeAhead;
        int caret = c.Caret;
        bool selected = false;
        for (const Step& step : c.Steps) {
            const int found = typeAhead.Type(step.Letter, step.Tick, caret, selected, entries);
            EXPECT_EQ(found, step.Expected) << c.Name << " " << step.Letter << "@" << step.Tick;
            if (found >= 0) {
                caret = found;
                selected = true;
            }
        }
    }
    CTypeAhead typeAhead;
    typeAhead.Type('r', 1000, 0, false, entries);
    EXPECT_TRUE(typeAhead.SpaceToggles(1100)); // one letter is no search of several
    typeAhead.Type('i', 1100, 1, true, entries);
    EXPECT_FALSE(typeAhead.SpaceToggles(1200));
    EXPECT_TRUE(typeAhead.SpaceToggles(1601));
}

TEST(MultiSelRulesTest, Wheel)
{
    EXPECT_EQ(WheelTarget(2, true, true, 5), 3);
    EXPECT_EQ(WheelTarget(2, true, false, 5), 1);
    EXPECT_EQ(WheelTarget(4, true, true, 5), 4);
    EXPECT_EQ(WheelTarget(0, true, false, 5), 0);
    EXPECT_EQ(WheelTarget(2, false, true, 5), 2);
    EXPECT_EQ(WheelTarget(0, false, true, 0), -1);
}

} // namespace
