#include "platform/Identity.h"

#include "app/KeySequenceMatcher.h"
#include "common/BuildDate.h"

#include <gtest/gtest.h>

namespace {

TEST(IdentityTest, KindFollowsTheExecutableName)
{
    const std::pair<const char*, bool> cases[] = {
        {"/opt/zibtam/zibtam", false},       {"/opt/zibtam/Zib Tam (Secondary)", true},
        {"zib tam (secondary).exe", true},   {"/x/ZIB TAM (SECONDARY).bin", true},
        {"/x/SetupSecondary", true},         {"/x/setupsecondary.exe", true},
        {"/x/Zib Tam (Secondary) 2", false}, {"/Zib Tam (Secondary)/zibtam", false},
    };
    for (auto [path, secondary] : cases)
        EXPECT_EQ(IsSecondaryExecutable(path), secondary) << path;
}

TEST(IdentityTest, ModeAndMutexNames)
{
    EXPECT_EQ(ModeFromCommandLine("/log"), InstanceMode::LogViewer);
    EXPECT_EQ(ModeFromCommandLine("/logfile x"), InstanceMode::LogViewer);
    EXPECT_EQ(ModeFromCommandLine(" /log"), InstanceMode::Chat);
    EXPECT_EQ(ModeFromCommandLine("x /log"), InstanceMode::Chat);
    EXPECT_EQ(ModeFromCommandLine(""), InstanceMode::Chat);

    EXPECT_EQ(MutexName(false, InstanceMode::Chat), "ZibTamMutex");
    EXPECT_EQ(MutexName(false, InstanceMode::LogViewer), "ZibTamLogViewerMutex");
    EXPECT_EQ(MutexName(true, InstanceMode::Chat), "ZibTamSecondaryMutex");
    EXPECT_EQ(MutexName(true, InstanceMode::LogViewer), "ZibTamLogViewerSecondaryMutex");
}

TEST(IdentityTest, IdentificationExchange)
{
    const auto& primary = InstanceIdentity::For(false);
    const auto& secondary = InstanceIdentity::For(true);
    EXPECT_EQ(primary.Magic, 0x5B8C5911u);
    EXPECT_EQ(secondary.Magic, 0x042384EEu);
    EXPECT_EQ(primary.AlternativeReply, primary.Magic ^ 0x22DDE3DBu);
    EXPECT_EQ(secondary.AlternativeReply, secondary.Magic ^ 0x22DDE3DBu);

    // A chat window answers its own kind's magic with its chat atom, anything else with 0.
    uint32_t reply = IdentificationReply(primary, InstanceMode::Chat, primary.Magic);
    EXPECT_TRUE(IsRunningInstanceReply(primary, InstanceMode::Chat, reply));
    EXPECT_FALSE(IsRunningInstanceReply(primary, InstanceMode::LogViewer, reply));
    EXPECT_EQ(IdentificationReply(primary, InstanceMode::Chat, secondary.Magic), 0u);
    EXPECT_EQ(IdentificationReply(secondary, InstanceMode::Chat, primary.Magic), 0u);
    EXPECT_FALSE(IsRunningInstanceReply(secondary, InstanceMode::Chat, reply));

    uint32_t viewer = IdentificationReply(primary, InstanceMode::LogViewer, primary.Magic);
    EXPECT_TRUE(IsRunningInstanceReply(primary, InstanceMode::LogViewer, viewer));
    EXPECT_FALSE(IsRunningInstanceReply(primary, InstanceMode::Chat, viewer));
    // Older copies answer with the alternative value; it counts for the chat window only.
    EXPECT_TRUE(IsRunningInstanceReply(primary, InstanceMode::Chat, primary.AlternativeReply));
    EXPECT_FALSE(IsRunningInstanceReply(primary, InstanceMode::Chat, 0));
}

TEST(IdentityTest, BuildDateText)
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
