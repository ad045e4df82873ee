#include "common/NameCase.h"

#include <gtest/gtest.h>

namespace {

TEST(NamesEqualNoCase, FoldsWindows1252Letters)
{
    EXPECT_TRUE(NamesEqualNoCase("Owen", "oWEN"));
    EXPECT_TRUE(NamesEqualNoCase("\xC9mile", "\xE9MILE")); // É / é
    EXPECT_FALSE(NamesEqualNoCase("Owen", "Owen "));
    EXPECT_FALSE(NamesEqualNoCase("\xD7", "\xF7")); // × and ÷ are not letters
}

} // namespace
