#pragma once
// A controller wired to fakes: timers fired by hand, a window that records, a log that can
// fail, and transports that are either scripted fakes or peer transports on a simulated
// network, all on a clock the test moves.
#include "TestSupport.h"
#include "app/session/ChatSession.h"
#include "net/PeerTransport.h"
#include "net/SimNetwork.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakeTimers : public IChatTimers
{
public:
    std::map<int, uint32_t> Running;
    void StartTimer(int id, uint32_t periodMs) override { Running[id] = periodMs; }
    void StopTimer(int id) override { Running.erase(id); }
    bool IsRunning(int id) const { return Running.count(id) != 0; }
};

class FakeWindow : public IChatWindow
{
public:
    std::vector<ChatMessage> History;
    std::vector<bool> Notified; // the all-for-all-users flag of each notification
    bool Composing = false;
    bool DialogOpen = false;
    int Shown = 0;
    int WaitCursor = 0;
    std::vector<bool> States; // connection states shown
    std::vector<std::pair<bool, std::string>> UpgradeLinks;
    std::time_t LaterMoment = 0;
    bool LaterChosen = true;

    void ShowWindow() override { ++Shown; }
    bool IsComposing() const override { return Composing; }
    bool IsDialogOpen() const override { return DialogOpen; }
    void SetWaitCursor(bool on) override { WaitCursor += on ? 1 : -1; }
    void ShowConnectionState(bool connected) override { States.push_back(connected); }
    void ShowUpgradeLink(bool shown, const std::string& url) override
    {
        UpgradeLinks.emplace_back(shown, url);
    }
    void AddToHistory(const std::vector<ChatMessage>& messages) override
    {
        History.insert(History.end(), messages.begin(), messages.end());
    }
    void Notify(const std::vector<ChatMessage>&, bool allForAllUsers) override
    {
        Notified.push_back(allForAllUsers);
    }
    bool ChooseSendLaterMoment(std::time_t& moment) override
    {
        moment = LaterMoment;
        return LaterChosen;
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const ChatMessage& m : History)
            texts.push_back(m.Sender + ": " + m.Text);
        return texts;
    }
};

class FakeLog : public IMessageLog
{
public:
    std::vector<ChatMessage> Written;
    std::string Failure; // non-empty: every append fails with it
    bool AppendToLog(const std::vector<ChatMessage>& messages, std::string& error) override
    {
        if (!Failure.empty()) {
            error = Failure;
            return false;
        }
        Written.insert(Written.end(), messages.begin(), messages.end());
        return true;
    }
};

// What the scripted transports do and what was asked of them.
struct TransportScript
{
    bool LogOnOk = true;
    bool SendOk = true;
    bool RenameOk = true;
    std::string Upgrade;
    bool DropInReceive = false;      // the next Receive reports the connection lost
    std::vector<std::string> LogOns; // "name@server"
    std::vector<std::string> Renames;
    std::vector<std::string> Sent; // "to A,B: text" or "to *: text"
    bool AliveAfterDrop = false;
    int Created = 0;
    bool KnowsUsers = false; // the log-on brings the users present, as a server's does
};

class ScriptedTransport : public CTransport
{
public:
    ScriptedTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                      TransportScript& script, std::string server)
        : CTransport(sink, names, clock), m_script(script), m_server(std::move(server))
    {
        Live().insert(this);
    }
    ~ScriptedTransport() override { Live().erase(this); }

    static std::set<const void*>& Live()
    {
        static std::set<const void*> live;
        return live;
    }

    bool GetUserName(std::string& name) override
    {
        name = m_name;
        return !m_name.empty();
    }
    bool DoLogOn(const std::string& name, std::string& error) override
    {
        m_script.LogOns.push_back(name + "@" + m_server);
        if (!m_script.LogOnOk) {
            error = "The server is not answering.";
            return false;
        }
        m_name = name;
        return true;
    }
    bool DoChangeUserName(const std::string& newName, std::string& error) override
    {
        m_script.Renames.push_back(newName);
        if (!m_script.RenameOk) {
            error = "That name is taken.";
            return false;
        }
        m_name = newName;
        return true;
    }
    void Receive(std::vector<ChatMessage>&) override
    {
        if (m_script.DropInReceive) {
            m_script.DropInReceive = false;
            if (Sink())
                Sink()->NotifyDisconnected();
            m_script.AliveAfterDrop = Live().count(this) != 0;
        }
    }
    bool DoSend(const std::vector<std::string>& recipients, const std::string& text,
                std::string& error) override
    {
        std::string to;
        for (const std::string& r : recipients)
            to += (to.empty() ? "" : ",") + r;
        return Record("to " + to + ": " + text, error);
    }
    bool DoSendToAll(const std::string& text, std::string& error) override
    {
        return Record("to *: " + text, error);
    }
    bool KnowsUsersAtLogOn() const override { return m_script.KnowsUsers && !m_name.empty(); }
    bool DoGetUpgradeURL(std::string& url) override
    {
        url = m_script.Upgrade;
        return !url.empty();
    }

private:
    bool Record(const std::string& what, std::string& error)
    {
        m_script.Sent.push_back(what);
        if (!m_script.SendOk)
            error = "The line went dead.";
        return m_script.SendOk;
    }

    TransportScript& m_script;
    std::string m_server;
    std::string m_name;
};

class FakeServer : public IChatServer
{
public:
    explicit FakeServer(int& live) : m_live(live) { ++m_live; }
    ~FakeServer() override { --m_live; }
    bool LoadPermissions(const std::string&, std::string&) override { return true; }
    bool Listen(int port, std::string& error) override
    {
        Port = port;
        if (port == 1) {
            error = "Zib Tam could not listen on port 1.";
            return false;
        }
        return true;
    }
    void Poll() override { ++Polls; }
    int Port = 0;
    int Polls = 0;

private:
    int& m_live;
};

// Peer transports on the simulated network, or scripted ones.
class TestFactory : public ITransportFactory
{
public:
    TestFactory(const IClock& clock, CSimNetwork* network, std::string computer)
        : m_clock(clock), m_network(network), m_computer(std::move(computer))
    {}

    TransportScript Script;
    int LiveServers = 0;
    int ServersMade = 0;

    std::unique_ptr<CTransport> CreatePeerTransport(CTransportSink* sink,
                                                    const IUserNameSource& names) override
    {
        ++Script.Created;
        if (!m_network)
            return std::make_unique<ScriptedTransport>(sink, names, m_clock, Script, "peer");
        m_services.push_back(std::make_unique<CSimDatagramService>(*m_network, m_computer));
        return std::make_unique<CPeerTransport>(sink, names, m_clock, *m_services.back(),
                                                m_computer);
    }
    std::unique_ptr<CTransport> CreateClientTransport(CTransportSink* sink,
                                                      const IUserNameSource& names,
                                                      const std::string& server, int port) override
    {
        ++Script.Created;
        return std::make_unique<ScriptedTransport>(sink, names, m_clock, Script,
                                                   server + ":" + std::to_string(port));
    }
    std::unique_ptr<IChatServer> CreateServer() override
    {
        ++ServersMade;
        return std::make_unique<FakeServer>(LiveServers);
    }

private:
    const IClock& m_clock;
    CSimNetwork* m_network;
    std::string m_computer;
    std::deque<std::unique_ptr<CSimDatagramService>> m_services;
};

// One user's copy: settings, fakes and the session over them.
class ControllerRig
{
public:
    ControllerRig(const TempDir& dir, const std::string& user, CManualClock& manualClock,
                  CSimNetwork* network, const std::string& computer)
        : registry(dir.File(user + ".sqlite3")), options(registry, system, false),
          clock(manualClock), random(7), factory(manualClock, network, computer),
          session(ChatSessionContext{options, prompt, manualClock, random, window, timers, factory,
                                     &log}),
          users(session.Users()), controller(&session.Controller())
    {
        system.Computer = computer;
        options.Set(Opt::Username, user);
        options.Set(Opt::NetworkingType, 1);
    }

    // Initialisation and the first tick of the start timer.
    void Start()
    {
        session.Start();
        controller->OnTimer(CChatController::kStartTimer);
    }
    void Poll() { controller->OnTimer(CChatController::kPollTimer); }

    CSqliteRegistry registry;
    FakeSystemInfo system;
    COptions options;
    CManualClock& clock;
    CRandom random;
    FakePrompt prompt;
    FakeWindow window;
    FakeTimers timers;
    FakeLog log;
    TestFactory factory;
    CChatSession session;
    CUsersListModel& users;
    CChatController* controller;
};
