#pragma once
// What Owen's real chat window is built on in the window tests: his settings, fakes and
// transport factory on a simulated network ("OFFICE1"), on a clock the test moves. Other
// users' copies (ControllerRig) join the same network.
#include "ControllerFixture.h"

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
