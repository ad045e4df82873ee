#include "app/desktop/KeySequenceMatcher.h"

#include <gtest/gtest.h>

namespace {

TEST(KeySequenceMatcherTest, ProductNameTypedAnywhere)
{
    struct Case
    {
        const char* keys;
        int completed; // variant after the last key
    };
    const Case cases[] = {
        {"ZIBTAM", 1},
        {"ZIB TAM", 2},
        {"ZZIBTAM", 0}, // a wrong key restarts without comparing it
                        // with the first
        {"XZIBTAM", 1},
        {"ZIBXTAM", 0},
        {"ZIBTAMZIBTAM", 1},
        {"ZIB", 0},
    };
    for (const Case& c : cases) {
        CKeySequenceMatcher matcher;
        int last = 0;
        for (const char* k = c.keys; *k; ++k)
            last = matcher.Feed(*k, false);
        EXPECT_EQ(last, c.completed) << c.keys;
    }
    CKeySequenceMatcher matcher;
    for (const char* k = "ZIBTA"; *k; ++k)
        matcher.Feed(*k, false);
    EXPECT_EQ(matcher.Feed('M', true), 0); // the chat window in front resets everything
    EXPECT_EQ(matcher.Feed('M', false), 0);
}

class FixedRandom : public IRandom
{
public:
    explicit FixedRandom(int value) : m_value(value) {}
    int Next() override { return m_value; }

private:
    int m_value;
};

TEST(KeySequenceMatcherTest, AnimationOnceInFour)
{
    FixedRandom no(5), yes(8);
    EXPECT_TRUE(CKeySequenceMatcher::AnimationFrames(1, false, no).empty());
    EXPECT_EQ(CKeySequenceMatcher::AnimationFrames(1, false, yes),
              (std::vector<int>{109, 200, 201, 205, 202, 206, 204, 203, 109}));
    EXPECT_EQ(CKeySequenceMatcher::AnimationFrames(2, true, yes),
              (std::vector<int>{109, 200, 109, 203, 109, 202, 108}));
    CRandom random(1);
    int shown = 0;
    for (int i = 0; i < 4000; ++i)
        shown += CKeySequenceMatcher::AnimationFrames(1, false, random).empty() ? 0 : 1;
    EXPECT_NEAR(shown, 1000, 150);
}

} // namespace
