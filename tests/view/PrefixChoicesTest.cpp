#include "view/PrefixChoices.h"

#include "view/PrefixFormat.h"

#include <gtest/gtest.h>

namespace {

TEST(PrefixChoicesTest, ReadyMadeFormatsThenTheCurrentOneWhenItIsNoneOfThem)
{
    const auto presets = PrefixFormatPresets();
    ASSERT_EQ(presets.size(), 7u);

    PrefixChoices known = BuildPrefixChoices(presets[3]);
    ASSERT_EQ(known.Entries.size(), 7u);
    EXPECT_EQ(known.Selected, 3);
    for (size_t i = 0; i < presets.size(); ++i) {
        EXPECT_EQ(known.Entries[i].Index, static_cast<int>(i));
        EXPECT_EQ(known.Entries[i].Format, presets[i]);
        EXPECT_EQ(known.Entries[i].Display, FormatPrefixSample(presets[i]));
    }

    // Case counts: a preset in other letters is a custom format, kept as the eighth entry.
    std::string custom = "U> ";
    for (const std::string& format : {custom, std::string("<A>U</A> h:nn> ")}) {
        PrefixChoices choices = BuildPrefixChoices(format);
        ASSERT_EQ(choices.Entries.size(), 8u) << format;
        EXPECT_EQ(choices.Selected, 7);
        EXPECT_EQ(choices.Entries[7].Index, -1);
        EXPECT_EQ(choices.Entries[7].Format, format);
    }
    EXPECT_EQ(BuildPrefixChoices(custom).Entries[7].Display, FormatPrefixSample(custom));
}

} // namespace
