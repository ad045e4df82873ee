#include "common/BuildDate.h"

#include <gtest/gtest.h>

namespace {

TEST(BuildDateTest, BuildDateText)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Sep 16 2006", "September 16, 2006"}, {"Sep  6 2006", "September 6, 2006"},
        {"Jan  1 2027", "January 1, 2027"},    {"May 31 2000", "May 31, 2000"},
        {"Dec 10 2026", "December 10, 2026"},
    };
    for (auto [compiler, text] : cases)
        EXPECT_EQ(BuildDateText(compiler), text) << compiler;
    EXPECT_FALSE(ProgramBuildDate().empty());
    EXPECT_NE(BuildTimestamp("Sep 16 2006", "10:20:30"), 0);
}

} // namespace
