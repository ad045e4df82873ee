#include "platform/Identity.h"

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

} // namespace
