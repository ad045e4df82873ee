// The notification policy on a clock moved by hand, with a window that records.
#include "../session/ControllerFixture.h"
#include "TestSupport.h"
#include "app/desktop/ChatNotifier.h"
#include "app/desktop/HotKeys.h"
#include "app/desktop/IconAnimation.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

class FakeHost : public INotifierHost
{
public:
    bool Looking = false;
    bool Foreground = false;
    bool PasswordFocused = false;
    bool DialogOpen = false;
    bool Hidden = true;
    bool FilePlays = true;

    std::vector<std::string> Actions;

    bool IsUserLooking() const override { return Looking; }
    bool IsChatWindowForeground() const override { return Foreground; }
    bool IsPasswordBoxFocused() const override { return PasswordFocused; }
    bool IsDialogOpen() const override { return DialogOpen; }
    bool IsWindowHidden() const override { return Hidden; }
    void ShowMinimizedWithoutActivation() override
    {
        Hidden = false;
        Actions.push_back("minimised");
    }
    void Flash(bool on) override { Actions.push_back(on ? "flash on" : "flash off"); }
    void PopUp() override
    {
        Hidden = false;
        Actions.push_back("pop up");
    }
    void SelectDefaultRecipients() override { Actions.push_back("default recipients"); }
    bool PlaySoundFile(const std::string& path, bool repeat) override
    {
        Actions.push_back("file " + path + (repeat ? " repeating" : " once"));
        return FilePlays;
    }
    void PlaySystemSound(bool repeat) override
    {
        Actions.push_back(std::string("system sound") + (repeat ? " repeating" : " once"));
    }
    void StopSound() override { Actions.push_back("stop sound"); }

    std::vector<std::string> Take() { return std::exchange(Actions, {}); }
};

using Actions = std::vector<std::string>;

class NotifierTest : public testing::Test
{
protected:
    TestSettings settings;
    CManualClock clock;
    FakeTimers timers;
    FakeHost host;
    CChatNotifier notifier{settings.options, clock, timers, host};

    // Fires a running timer after its period, as the window's loop would.
    void Fire(int id)
    {
        ASSERT_TRUE(timers.IsRunning(id)) << "timer " << id;
        clock.Advance(timers.Running[id]);
        EXPECT_TRUE(notifier.OnTimer(id));
    }
    void Choose(int behaviour) { ASSERT_TRUE(settings.options.SetNotification(behaviour)); }
};

TEST_F(NotifierTest, EachBehaviourCodeShowsItsWay)
{
    struct Case
    {
        int Behaviour;
        Actions Expected;
        int Timer; // the flash timer left running, or 0
    } cases[] = {
        {CChatNotifier::kFlash, {"minimised"}, CChatNotifier::kFlashTimer},
        {CChatNotifier::kFlashThenPopUp, {"minimised"}, CChatNotifier::kFlashThenPopUpTimer},
        {CChatNotifier::kPopUp, {"pop up"}, 0},
        {CChatNotifier::kNothing, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Behaviour);
        TestSettings fresh;
        FakeTimers freshTimers;
        FakeHost freshHost;
        CChatNotifier fresher(fresh.options, clock, freshTimers, freshHost);
        ASSERT_TRUE(fresh.options.SetNotification(c.Behaviour));
        fresher.Notify(false);
        EXPECT_EQ(freshHost.Actions, c.Expected);
        EXPECT_EQ(freshTimers.IsRunning(CChatNotifier::kFlashTimer),
                  c.Timer == CChatNotifier::kFlashTimer);
        EXPECT_EQ(freshTimers.IsRunning(CChatNotifier::kFlashThenPopUpTimer),
                  c.Timer == CChatNotifier::kFlashThenPopUpTimer);
        EXPECT_TRUE(fresher.HasUnseenMessages());
    }
}

TEST_F(NotifierTest, MessagesForAllUsersFollowTheirOwnChoiceWhenOverridden)
{
    Choose(CChatNotifier::kPopUp);
    ASSERT_TRUE(settings.options.SetAllUsersNotification(true, CChatNotifier::kNothing));
    notifier.Notify(true);
    EXPECT_EQ(host.Take(), Actions{});
    notifier.Notify(false);
    EXPECT_EQ(host.Take(), Actions{"pop up"});
}

TEST_F(NotifierTest, NothingHappensWhileTheUserIsLooking)
{
    settings.options.Set(Opt::PlaySnd, 1);
    Choose(CChatNotifier::kPopUp);
    host.Looking = host.Foreground = true;
    notifier.Notify(false);
    EXPECT_EQ(host.Actions, Actions{});
    EXPECT_TRUE(timers.Running.empty());
    EXPECT_TRUE(notifier.HasUnseenMessages());
}

TEST_F(NotifierTest, AFlashedWindowAlreadyShownOrBehindADialogIsNotShownAgain)
{
    host.DialogOpen = true;
    notifier.Notify(false);
    host.DialogOpen = false;
    host.Hidden = false;
    notifier.Notify(false);
    EXPECT_EQ(host.Actions, Actions{});
    EXPECT_TRUE(timers.IsRunning(CChatNotifier::kFlashTimer));
}

TEST_F(NotifierTest, SoundRepeatsOnlyWhenAskedAndNotForAPopUp)
{
    struct Case
    {
        int RepeatSound;
        int Behaviour;
        std::string Path;
        bool FilePlays;
        Actions Expected;
    } cases[] = {
        {0, CChatNotifier::kFlash, "", true, {"system sound once", "minimised"}},
        {1, CChatNotifier::kFlash, "", true, {"system sound repeating", "minimised"}},
        {1, CChatNotifier::kNothing, "", true, {"system sound repeating"}},
        {1, CChatNotifier::kPopUp, "", true, {"system sound once", "pop up"}},
        {1,
         CChatNotifier::kFlash,
         "/s/ding.wav",
         true,
         {"file /s/ding.wav repeating", "minimised"}},
        // A file that cannot be played gives way to the desktop's sound, repeating the same.
        {1,
         CChatNotifier::kFlashThenPopUp,
         "/s/missing.wav",
         false,
         {"file /s/missing.wav repeating", "system sound repeating", "minimised"}},
        {0,
         CChatNotifier::kPopUp,
         "/s/ding.wav",
         false,
         {"file /s/ding.wav once", "system sound once", "pop up"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.RepeatSound << " " << c.Behaviour << " " << c.Path);
        TestSettings fresh;
        FakeTimers freshTimers;
        FakeHost freshHost;
        freshHost.FilePlays = c.FilePlays;
        CChatNotifier fresher(fresh.options, clock, freshTimers, freshHost);
        fresh.options.Set(Opt::PlaySnd, 1);
        fresh.options.Set(Opt::RepeatSound, c.RepeatSound);
        fresh.options.Set(Opt::SoundPath, c.Path);
        ASSERT_TRUE(fresh.options.SetNotification(c.Behaviour));
        fresher.Notify(false);
        EXPECT_EQ(freshHost.Take(), c.Expected);
        EXPECT_EQ(fresher.IsSoundRepeating(),
                  c.RepeatSound != 0 && c.Behaviour != CChatNotifier::kPopUp);
    }
}

TEST_F(NotifierTest, ActivationStopsARepeatingSoundOnceAndMarksMessagesSeen)
{
    settings.options.Set(Opt::PlaySnd, 1);
    settings.options.Set(Opt::RepeatSound, 1);
    notifier.Notify(false);
    host.Take();
    notifier.OnWindowActivated();
    notifier.OnWindowActivated();
    EXPECT_EQ(host.Take(), Actions{"stop sound"});
    EXPECT_FALSE(notifier.HasUnseenMessages());

    // A sound that plays once is left to end by itself.
    settings.options.Set(Opt::RepeatSound, 0);
    notifier.Notify(false);
    host.Take();
    notifier.OnWindowActivated();
    EXPECT_EQ(host.Take(), Actions{});
}

TEST_F(NotifierTest, FlashingAlternatesUntilTheUserLooks)
{
    notifier.Notify(false);
    host.Take();
    EXPECT_EQ(timers.Running[CChatNotifier::kFlashTimer], 500u);
    for (int i = 0; i < 4; ++i)
        Fire(CChatNotifier::kFlashTimer);
    EXPECT_EQ(host.Take(), (Actions{"flash on", "flash off", "flash on", "flash off"}));

    // "Flash taskbar." never pops up, however long nobody looks.
    clock.Advance(10 * 60 * 1000);
    Fire(CChatNotifier::kFlashTimer);
    EXPECT_EQ(host.Take(), Actions{"flash on"});

    host.Looking = true;
    Fire(CChatNotifier::kFlashTimer);
    EXPECT_EQ(host.Take(), Actions{"flash off"});
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kFlashTimer));
}

TEST_F(NotifierTest, FlashThenPopUpPopsUpAfterAMinuteUnlessLookedAt)
{
    Choose(CChatNotifier::kFlashThenPopUp);
    notifier.Notify(false);
    host.Take();
    // The last tick within the minute still flashes.
    clock.Advance(CChatNotifier::kPopUpAfterMs - 500);
    Fire(CChatNotifier::kFlashThenPopUpTimer);
    EXPECT_EQ(host.Take(), Actions{"flash on"});
    clock.Advance(1);
    EXPECT_TRUE(notifier.OnTimer(CChatNotifier::kFlashThenPopUpTimer));
    EXPECT_EQ(host.Take(), Actions{"pop up"});
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kFlashThenPopUpTimer));

    // Looked at within the minute: no pop-up.
    host.Hidden = true;
    notifier.Notify(false);
    host.Take();
    clock.Advance(10000);
    host.Looking = true;
    Fire(CChatNotifier::kFlashThenPopUpTimer);
    EXPECT_EQ(host.Take(), Actions{"flash off"});
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kFlashThenPopUpTimer));
}

TEST_F(NotifierTest, ANewFlashReplacesTheOtherKind)
{
    Choose(CChatNotifier::kFlashThenPopUp);
    notifier.Notify(false);
    Choose(CChatNotifier::kFlash);
    notifier.Notify(false);
    EXPECT_TRUE(timers.IsRunning(CChatNotifier::kFlashTimer));
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kFlashThenPopUpTimer));
    // The minute counts from the latest message.
    Choose(CChatNotifier::kFlashThenPopUp);
    clock.Advance(50000);
    notifier.Notify(false);
    clock.Advance(50000);
    Fire(CChatNotifier::kFlashThenPopUpTimer);
    EXPECT_EQ(host.Actions.back(), "flash on");
}

TEST_F(NotifierTest, ANotificationWaitsWhileAPasswordIsTyped)
{
    settings.options.Set(Opt::PlaySnd, 1);
    Choose(CChatNotifier::kPopUp);
    host.PasswordFocused = true;
    notifier.Notify(false);
    // The sound is no secret; only the window waits.
    EXPECT_EQ(host.Take(), Actions{"system sound once"});
    EXPECT_EQ(timers.Running[CChatNotifier::kRetryTimer], 150u);

    Fire(CChatNotifier::kRetryTimer);
    Fire(CChatNotifier::kRetryTimer);
    EXPECT_EQ(host.Take(), Actions{});
    EXPECT_TRUE(timers.IsRunning(CChatNotifier::kRetryTimer));

    host.PasswordFocused = false;
    Fire(CChatNotifier::kRetryTimer);
    EXPECT_EQ(host.Take(), Actions{"pop up"});
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kRetryTimer));
}

TEST_F(NotifierTest, AWaitingMessageToAllUsersKeepsItsOwnChoice)
{
    Choose(CChatNotifier::kPopUp);
    ASSERT_TRUE(settings.options.SetAllUsersNotification(true, CChatNotifier::kFlash));
    host.PasswordFocused = true;
    notifier.Notify(true);
    EXPECT_TRUE(timers.IsRunning(CChatNotifier::kRetryAllUsersTimer));
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kRetryTimer));
    host.PasswordFocused = false;
    Fire(CChatNotifier::kRetryAllUsersTimer);
    EXPECT_EQ(host.Take(), Actions{"minimised"});
    EXPECT_TRUE(timers.IsRunning(CChatNotifier::kFlashTimer));
}

TEST_F(NotifierTest, AWindowInFrontWhenTheWaitEndsDoesNotFlash)
{
    host.PasswordFocused = true;
    notifier.Notify(false);
    host.PasswordFocused = false;
    host.Hidden = false;
    host.Looking = host.Foreground = true;
    Fire(CChatNotifier::kRetryTimer);
    EXPECT_FALSE(timers.IsRunning(CChatNotifier::kFlashTimer));
    EXPECT_FALSE(notifier.IsFlashing());
}

TEST_F(NotifierTest, ShowingTheWindowChoosesTheDefaultRecipientsOnlyWithNothingUnseen)
{
    notifier.ShowChatWindow();
    EXPECT_EQ(host.Take(), (Actions{"default recipients", "pop up"}));

    Choose(CChatNotifier::kNothing);
    notifier.Notify(false);
    notifier.ShowChatWindow();
    EXPECT_EQ(host.Take(), Actions{"pop up"});

    notifier.OnWindowActivated();
    notifier.ShowChatWindow();
    EXPECT_EQ(host.Take(), (Actions{"default recipients", "pop up"}));
}

TEST_F(NotifierTest, OtherTimersAreNotOurs)
{
    for (int id : {0, 5, 6, 7})
        EXPECT_FALSE(notifier.OnTimer(id)) << id;
    EXPECT_EQ(host.Actions, Actions{});
}

TEST(NeedsCentringTest, AWindowAlmostOffTheScreenIsCentred)
{
    // Two monitors side by side, the left one at negative coordinates.
    const ScreenRect screen{-1280, 0, 2560, 1024};
    struct Case
    {
        ScreenRect Window;
        bool Centred;
    } cases[] = {
        {{100, 100, 468, 413}, false},
        {{-1280, 0, 468, 413}, false},        // in the corner, wholly on screen
        {{1280 - 100, 500, 468, 413}, false}, // exactly 100 pixels left at the right
        {{1280 - 99, 500, 468, 413}, true},
        {{1280 - 50, 500, 468, 413}, true}, // dragged so that 50 pixels remain
        {{-1280 - 468 + 50, 500, 468, 413}, true},
        {{0, 1024 - 50, 468, 413}, true},
        {{0, -413 + 50, 468, 413}, true},
        {{0, -413 + 100, 468, 413}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NeedsCentring(c.Window, screen), c.Centred) << c.Window.X << "," << c.Window.Y;
    EXPECT_EQ(CentredIn({5000, 5000, 400, 300}, {0, 0, 1280, 1024}),
              (ScreenRect{440, 362, 400, 300}));
}

TEST(IconAnimationTest, FramesShowAFrameTimeEachThenTheStatusIcon)
{
    CManualClock clock;
    CIconAnimation animation(clock);
    EXPECT_EQ(animation.Step(), CIconAnimation::kNoChange);
    animation.Append({109, 200, 108});
    std::vector<int> shown;
    // A poll every 10 ms for a second.
    for (int i = 0; i < 100; ++i) {
        clock.Advance(10);
        int step = animation.Step();
        if (step != CIconAnimation::kNoChange)
            shown.push_back(step);
    }
    EXPECT_EQ(shown, (std::vector<int>{109, 200, 108, CIconAnimation::kStatusIcon}));
    EXPECT_FALSE(animation.IsRunning());

    // Frames queued while one runs follow on.
    animation.Append({200});
    clock.Advance(200);
    EXPECT_EQ(animation.Step(), 200);
    animation.Append({201});
    clock.Advance(101);
    EXPECT_EQ(animation.Step(), 201);
    clock.Advance(101);
    EXPECT_EQ(animation.Step(), CIconAnimation::kStatusIcon);
}

TEST(HotKeysTest, KeysOfEachKindAndTheirNames)
{
    const auto& primary = InstanceIdentity::For(false);
    const auto& secondary = InstanceIdentity::For(true);
    std::vector<std::string> names;
    for (const HotKey& key : ChatHotKeys(primary))
        names.push_back(HotKeyText(key));
    for (const HotKey& key : ChatHotKeys(secondary))
        names.push_back(HotKeyText(key));
    names.push_back(HotKeyText(AutoTypeHotKey(primary)));
    EXPECT_EQ(names, (std::vector<std::string>{"Super+G", "Shift+Super+G", "Super+Q",
                                               "Shift+Super+Q", "Control+Alt+Shift+N"}));
    EXPECT_EQ(ChatHotKeys(primary)[0].Id, primary.ChatAtom);
    EXPECT_EQ(ChatHotKeys(secondary)[1].Id, secondary.LogViewerAtom);
}

TEST(HotKeysTest, OneNoticeSaysWhatCouldNotBeHad)
{
    auto keys = ChatHotKeys(InstanceIdentity::For(false));
    auto autoType = AutoTypeHotKey(InstanceIdentity::For(false));
    using R = HotKeyResult;
    struct Case
    {
        std::vector<HotKeyOutcome> Outcomes;
        std::string Notice;
    } cases[] = {
        {{{keys[0], R::Registered}, {keys[1], R::Registered}}, ""},
        {{{keys[0], R::Taken}, {keys[1], R::Registered}},
         "Zib Tam could not register the hot key Super+G: another program holds it."},
        {{{keys[0], R::Taken}, {keys[1], R::Taken}, {autoType, R::Taken}},
         "Zib Tam could not register the hot keys Super+G, Shift+Super+G and "
         "Control+Alt+Shift+N: another program holds them."},
        {{{keys[0], R::Unavailable}, {keys[1], R::Unavailable}},
         "The hot keys Super+G and Shift+Super+G cannot be used on this desktop: global hot "
         "keys need an X11 session. Open Zib Tam from its icon instead."},
        {{{keys[0], R::Registered}, {keys[1], R::Invalid}},
         "Zib Tam could not register the hot key Shift+Super+G: the keyboard has no such key."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HotKeyNotice(c.Outcomes), c.Notice);
}

} // namespace
