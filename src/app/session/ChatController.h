#pragma once
// What the chat window decides, without the window: sending, taking in what arrives,
// the poll, the connection state and reconnecting. The chat window and the console drive
// the same controller; each supplies its side through the interfaces below.
#include "app/session/NetworkManager.h"
#include "app/session/UsersList.h"
#include "common/ChatMessage.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CNextWake;
class COptions;
class CSendLater;
class CTuringEngine;
class IClock;
class IPrompt;

// The window's timers: the front end runs them and calls CChatController::OnTimer.
class IChatTimers
{
public:
    virtual ~IChatTimers() = default;
    // (Re)starts the timer; period 0 fires once as soon as the loop is idle.
    virtual void StartTimer(int id, uint32_t periodMs) = 0;
    virtual void StopTimer(int id) = 0;
    // Starts timer `id` as the poll: it fires after the front end handled an event when
    // `nextWake` then says work is due, and at the moments `nextWake` names; never while
    // nothing can have changed. StopTimer(id) stops it. Timers that cannot wait for
    // events tick every `periodMs` instead.
    virtual void StartPoll(int id, uint32_t periodMs, const IClock&,
                           std::function<void(CNextWake&)> /*nextWake*/)
    {
        StartTimer(id, periodMs);
    }
};

// The front end's side of the window.
class IChatWindow
{
public:
    virtual ~IChatWindow() = default;
    virtual void ShowWindow() = 0;
    // The user is writing: the window is shown and its input box is not empty.
    virtual bool IsComposing() const = 0;
    // One of the window's dialogs is open.
    virtual bool IsDialogOpen() const = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void ShowConnectionState(bool connected) = 0;
    virtual void ShowUpgradeLink(bool shown, const std::string& url) = 0;
    virtual void AddToHistory(const std::vector<ChatMessage>& messages) = 0;
    virtual void Notify(const std::vector<ChatMessage>& messages, bool allForAllUsers) = 0;
    // Asks when to send a message later (the Send Later dialog); false when cancelled.
    virtual bool ChooseSendLaterMoment(std::time_t& moment) = 0;
    // One step of the tray icon animation.
    virtual void AnimateIcon() {}
    // When the next step of that animation is due (nothing while it stands still).
    virtual void AddNextWake(CNextWake&) const {}
};

// Where shown messages are kept.
class IMessageLog
{
public:
    virtual ~IMessageLog() = default;
    // False with the system's error text when the log could not be written.
    virtual bool AppendToLog(const std::vector<ChatMessage>& messages, std::string& error) = 0;
};

struct ChatControllerContext
{
    COptions& Options;
    IPrompt& Prompt;
    const IClock& Clock;
    IChatWindow& Window;
    IUsersList& Users;
    IChatTimers& Timers;
    IMessageLog& Log;
    CTuringEngine& Turing;
    CSendLater& SendLater;
    ITransportFactory& Factory;
};

// How Send sends one message.
struct SendOptions
{
    // Unset: the users list's selection; empty: all users.
    std::optional<std::vector<std::string>> Recipients;
    bool Later = false;              // scheduled with Send Later instead of sent now
    bool SkipAllUsersPrompt = false; // the program sends it, nobody is there to confirm
};

class CChatController : public CTransportSink
{
public:
    enum Timer : int
    {
        kPollTimer = 0,
        kStartTimer = 5,
        kReconnectTimer = 6,
    };
    // The poll's period where the front end's timers cannot follow events and deadlines
    // (the platform's shortest timer period stands in for the requested 1 ms).
    static constexpr uint32_t kPollPeriodMs = 10;
    static constexpr uint32_t kReconnectPeriodMs = 500;
    static constexpr size_t kAllUsersLimit = 3000;
    // Peer-to-peer users answer the log-on's roll call at their next poll, well within this;
    // scheduled messages wait for them so that a present recipient is known.
    static constexpr uint32_t kUsersHeardMs = 3000;

    explicit CChatController(ChatControllerContext context);
    ~CChatController() override;
    CChatController(const CChatController&) = delete;
    CChatController& operator=(const CChatController&) = delete;

    // The window's initialisation: the users list, the poll and the networking start.
    void Initialise();
    // Exit: networking down, timers stopped.
    void Shutdown();

    // The "&Send!" button: the typed text trimmed as the button does; `text` is emptied
    // on success and kept otherwise.
    bool SendTyped(std::string& text, bool later);
    // Sends `text` as `how` says. `transportError` receives the transport's reason when it
    // refused.
    bool Send(const std::string& text, const SendOptions& how,
              std::string* transportError = nullptr);
    void ProcessIncoming();
    void OnTimer(int id);
    // When the poll next has work if nothing arrives: due answers, the next Send Later
    // second, the transport's and the server's moments, the window's animation.
    void NextWake(CNextWake& wake) const;
    // The "&Reconnect..." button (and the first start).
    void Reconnect();
    // F5.
    void Refresh();
    // After the options dialog.
    void ApplySettings();

    bool IsConnected() const { return m_network.IsConnected(); }
    // The name logged on under (the stored one while not connected).
    std::string OwnName() { return m_network.Transport().GetUserNameOrDefault(); }
    // How the deliveries of the messages sent over the current connection stand.
    DeliveryStatus Deliveries() const { return m_network.Transport().GetDeliveryStatus(); }
    // True when the log-on brought the list of everyone present (client/server); peer-to-peer
    // users announce themselves after it.
    bool KnowsUsersAtLogOn() const { return m_network.Transport().KnowsUsersAtLogOn(); }
    // Log-ons tried so far (the first start, reconnects) and why the last one failed
    // (empty when it succeeded, and when a failure gave no reason).
    int LogOnAttempts() const { return m_logOnAttempts; }
    const std::string& LogOnError() const { return m_logOnError; }

    CNetworkManager& Network() { return m_network; }
    int BusyCount() const { return m_busy; }
    bool HasUnseenMessages() const { return m_unseen; }
    void ClearUnseenMessages() { m_unseen = false; }
    bool UpgradeShown() const { return m_upgradeShown; }
    const std::string& UpgradeURL() const { return m_upgradeURL; }

    // The Send button's trimming: carriage returns out, a run of leading line feeds
    // down to one, trailing line feeds out.
    static std::string TrimTypedText(const std::string& text);

    static constexpr const char* kSelectSomeone =
        "Please select someone to whom you can send your message.";
    static constexpr const char* kAllUsersTooLong =
        "Messages sent to all users need to be under 3,000 characters.";
    static constexpr const char* kConfirmAllUsers =
        "Are you sure you want to send this to all users?\n\nYou can turn off this prompt in "
        "the Options dialog.";
    static constexpr const char* kNotSentStart = "The following message could not be sent to ";
    static constexpr const char* kNotSentMiddle = "; please try sending this message again.\n\n";
    static constexpr const char* kLogWriteFailed = "An error occurred while writing the log.\n";
    static constexpr const char* kUpgradeAvailable = "A Zib Tam upgrade is now available at ";
    static constexpr const char* kCaption = "Zib Tam Freeware";
    static constexpr const char* kRecipientLeft =
        " has left Zib Tam; your next message goes to (All Users).";

protected:
    void OnConnected() override;
    void OnDisconnected() override;
    void OnUserArrived(const std::string& name) override;
    void OnUserDeparted(const std::string& name) override;
    void OnUserRenamed(const std::string& oldName, const std::string& newName) override;

private:
    class BusyScope;
    void Poll();
    void SendDueMessages();
    // Connected, and the users present have been heard.
    bool ScheduledCanGo() const;
    void ShowDisconnectedState();
    void CheckUpgrade();
    void OnReconnectTimer();
    static uint32_t RetryIntervalSeconds(uint32_t downSeconds);
    bool Restart();

    ChatControllerContext m_context;
    CNetworkManager m_network;
    int m_busy = 0;
    int m_depth = 0; // calls of ours into the transport still on the stack
    bool m_unseen = false;
    bool m_shuttingDown = false;
    bool m_upgradeShown = false;
    std::string m_upgradeURL;
    int m_logOnAttempts = 0;
    std::string m_logOnError;
    uint32_t m_disconnectTick;
    uint32_t m_lastAttemptTick;
    uint32_t m_connectedTick = 0;
    std::time_t m_sendLaterChecked = -1; // the second Send Later was last looked at
    // The earliest stored moment as read at m_sendLaterChecked (read again once that moves).
    mutable std::time_t m_nextMomentReadAt = -1;
    mutable std::optional<std::time_t> m_nextMoment;
};
