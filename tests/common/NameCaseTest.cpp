#include "common/NameCase.h"

#include <gtest/gtest.h>
#include <string>
#include <unordered_map>

namespace {

TEST(NamesEqualNoCase, FoldsWindows1252Letters)
{
    EXPECT_TRUE(NamesEqualNoCase("Owen", "oWEN"));
    EXPECT_TRUE(NamesEqualNoCase("\xC9mile", "\xE9MILE")); // É / é
    EXPECT_FALSE(NamesEqualNoCase("Owen", "Owen "));
    EXPECT_FALSE(NamesEqualNoCase("\xD7", "\xF7")); // × and ÷ are not letters
}

// A map keyed by name finds it in any letter case, without a folded copy to look it up by:
// equal names hash alike, including the letters outside ASCII.
TEST(NameCaseHash, AMapFindsANameInAnyLetterCase)
{
    std::unordered_map<std::string, int, NameCaseHash, NameCaseEqual> names;
    names["Owen"] = 1;
    names["\xC9mile"] = 2;         // Émile
    names["\x8A\x8C\x8E\x9F"] = 3; // Š Œ Ž Ÿ
    struct Case
    {
        const char* Asked;
        int Found; // 0: not there
    };
    const Case cases[] = {
        {"owen", 1},     {"OWEN", 1},     {"Owen ", 0},
        {"\xE9MILE", 2}, {"\xE9mile", 2}, {"\x9A\x9C\x9E\xFF", 3},
        {"\xD7", 0},     {"", 0},
    };
    for (const Case& c : cases) {
        auto it = names.find(std::string_view(c.Asked));
        EXPECT_EQ(it == names.end() ? 0 : it->second, c.Found) << c.Asked;
        EXPECT_EQ(names.count(std::string(c.Asked)), c.Found ? 1u : 0u) << c.Asked;
    }
    names["OWEN"] = 4; // the same user: replaces, never adds
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(names.at("owen"), 4);
}

} // namespace
