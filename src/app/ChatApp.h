#pragma once
// The process: decides which copy is starting, keeps to one copy per kind and mode,
// runs the first-run prompts and creates the chat window (or runs the log viewer).
#include "app/AppShell.h"
#include "app/session/FirstRun.h"
#include "platform/Clock.h"
#include "platform/Identity.h"
#include "platform/InstanceGuard.h"
#include "platform/Prompt.h"
#include "platform/Random.h"
#include "settings/Options.h"

#include <memory>
#include <string>

struct ChatAppContext
{
    COptions& Options;
    IPrompt& Prompt;
    IAppShell& Shell;
    IClock& Clock;
    CRandom& Random;
    bool Secondary = false;
    std::string CommandLine;     // the arguments after the program name, joined by blanks
    std::string OldLogPath;      // where copies before the XML log kept theirs
    std::string RegistryProblem; // a one-time notice about an unusable settings file
};

class CChatApp
{
public:
    explicit CChatApp(ChatAppContext context);
    ~CChatApp();

    // True to run the event loop, false to end the process at once.
    bool Initialise();

    InstanceMode Mode() const { return m_mode; }
    const InstanceIdentity& Identity() const { return InstanceIdentity::For(m_context.Secondary); }

private:
    ChatAppContext m_context;
    InstanceMode m_mode = InstanceMode::Chat;
    std::unique_ptr<CInstanceGuard> m_guard;
};
