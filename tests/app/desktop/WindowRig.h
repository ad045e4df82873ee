#pragma once
// What Owen's real chat window is built on in the window tests: his settings, fakes and
// transport factory on a simulated network ("OFFICE1"), on a clock the test moves. Other
// users' copies (ControllerRig) join the same network.
#include "../session/ControllerFixture.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/ChatNotifier.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>

struct OwenWindowRig
{
    OwenWindowRig()
    {
        system.Computer = "OFFICE1";
        options.Set(Opt::Username, "Owen");
        options.Set(Opt::NetworkingType, 1);
    }

    TempDir dir;
    CManualClock clock;
    CSimNetwork network{clock};
    CSqliteRegistry registry{dir.File("Owen.sqlite3")};
    FakeSystemInfo system;
    COptions options{registry, system, false};
    FakePrompt prompt;
    CRandom random{7};
    TestFactory factory{clock, &network, "OFFICE1"};
};

// Owen's real chat window beside Ann's copy, set to flash for her messages; both run on the
// test's clock; RunBoth moves them on.
struct FlashingWindowRig : OwenWindowRig
{
    ControllerRig ann{dir, "Ann", clock, &network, "OFFICE2"};
    std::unique_ptr<CChatDlg> owen;

    // Both copies up and knowing each other; the window has a tray icon when asked for.
    void StartBoth(bool useTray)
    {
        clock.SetNow(1'700'000'000);
        clock.SetTicks(5000);
        options.Set(Opt::PlaySnd, 0);
        EXPECT_TRUE(options.SetNotification(CChatNotifier::kFlash));
        ChatDlgContext context{options, prompt, clock, random, factory, false};
        context.UseTray = useTray;
        owen = std::make_unique<CChatDlg>(context);
        owen->Initialise();
        owen->Controller().OnTimer(CChatController::kStartTimer);
        ann.Start();
        RunBoth(1000);
    }
    void RunBoth(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 10) {
            clock.Advance(10);
            owen->Controller().OnTimer(CChatController::kPollTimer);
            ann.Poll();
            QCoreApplication::processEvents();
        }
    }
};
