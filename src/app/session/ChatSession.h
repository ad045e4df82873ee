#pragma once
// One chat session, whatever shows it: the controller with the users list model, the
// auto-responder, Send Later and the message log, put together from the settings and the
// front end's interfaces. No widgets and no Qt: the chat window and the console are front
// ends over it, the controller tests drive it with fakes.
//
// How a front end uses it:
//  1. Implement IChatWindow (what the window shows) and IPrompt (message boxes, the input
//     box), and make the timers: CQtChatTimers (app/QtChatTimers.h) with a handler that
//     calls the session's OnTimer (and whatever the front end does after a poll). The poll
//     runs only after events and at the deadlines the session names; work of the front
//     end's own that waits for a poll says so through IChatWindow::AddNextWake.
//  2. Ask the first-run questions (app/FirstRun.h) before building the session.
//  3. Build the session with a ChatSessionContext: the settings, your prompt, window and
//     timers, the clock, a random source and the transport factory (CNetworkFactory, with
//     your busy indicator factory for the waits of the client). Leave Log null to write the
//     XML message log of the settings.
//  4. Start() when the window is ready: the poll starts and networking starts from a
//     one-shot timer. Stop() on exit, before the window goes away.
//  5. Forward input to Controller(): SendTyped for the "&Send!" button, Reconnect, Refresh,
//     ApplySettings after the options dialog. Read the state from the controller
//     (IsConnected, OwnName, Deliveries, UpgradeURL, ...) and from Users() (the list and the
//     selected recipients). Never reach for a transport.
#include "app/session/ChatController.h"
#include "app/session/UsersList.h"
#include "sendlater/SendLater.h"
#include "turing/TuringEngine.h"

#include <memory>

class COptions;
class IClock;
class IPrompt;
class IRandom;

struct ChatSessionContext
{
    COptions& Options;
    IPrompt& Prompt;
    const IClock& Clock;
    IRandom& Random;
    IChatWindow& Window;
    IChatTimers& Timers;
    ITransportFactory& Factory;
    // Where shown messages are kept; null: the XML message log of the settings.
    IMessageLog* Log = nullptr;
    // The front end's own users list (the chat window's "&To:" control, which keeps the
    // same rules); null: the session's model, Users(), is the list.
    IUsersList* UsersList = nullptr;
};

class CChatSession
{
public:
    explicit CChatSession(ChatSessionContext context);
    ~CChatSession();
    CChatSession(const CChatSession&) = delete;
    CChatSession& operator=(const CChatSession&) = delete;

    // The window's initialisation: the poll and, from a one-shot timer, networking.
    void Start();
    // Exit: networking down, timers stopped. Called again by the destructor.
    void Stop();
    // A timer of the front end's IChatTimers fired.
    void OnTimer(int id) { m_controller->OnTimer(id); }

    CChatController& Controller() { return *m_controller; }
    CUsersListModel& Users() { return m_users; }
    CTuringEngine& Turing() { return m_turing; }
    CSendLater& SendLater() { return m_later; }
    COptions& Options() { return m_options; }

private:
    COptions& m_options;
    CUsersListModel m_users;
    std::unique_ptr<IMessageLog> m_ownLog;
    CTuringEngine m_turing;
    CSendLater m_later;
    std::unique_ptr<CChatController> m_controller;
};
