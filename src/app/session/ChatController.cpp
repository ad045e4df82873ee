#include "app/session/ChatController.h"

#include "platform/Clock.h"
#include "platform/NextWake.h"
#include "platform/Prompt.h"
#include "sendlater/SendLater.h"
#include "settings/Options.h"
#include "turing/TuringEngine.h"
#include "view/PrefixFormat.h"

#include <algorithm>

// Counts a network operation in progress (the reconnect timer keeps out meanwhile) and
// the depth of our calls into the transport.
class CChatController::BusyScope
{
public:
    BusyScope(CChatController& owner, bool busy) : m_owner(owner), m_busy(busy)
    {
        ++m_owner.m_depth;
        if (m_busy)
            ++m_owner.m_busy;
    }
    ~BusyScope()
    {
        --m_owner.m_depth;
        if (m_busy)
            --m_owner.m_busy;
    }

private:
    CChatController& m_owner;
    bool m_busy;
};

CChatController::CChatController(ChatControllerContext context)
    : m_context(context), m_network(context.Options, context.Clock, context.Factory, *this),
      m_disconnectTick(context.Clock.TickCount()), m_lastAttemptTick(m_disconnectTick)
{}

CChatController::~CChatController()
{
    Shutdown();
}

void CChatController::Initialise()
{
    m_context.Users.SetAllUsersAllowed(m_context.Options.Get(Opt::AllowAllUsers) != 0);
    m_context.Timers.StartPoll(kPollTimer, kPollPeriodMs, m_context.Clock,
                               [this](CNextWake& wake) { NextWake(wake); });
    m_context.Timers.StartTimer(kStartTimer, 0);
}

void CChatController::Shutdown()
{
    m_shuttingDown = true;
    m_context.Timers.StopTimer(kPollTimer);
    m_context.Timers.StopTimer(kStartTimer);
    m_context.Timers.StopTimer(kReconnectTimer);
    m_network.Stop();
}

std::string CChatController::TrimTypedText(const std::string& typed)
{
    std::string text = typed;
    std::erase(text, '\r');
    size_t leading = 0;
    while (leading + 1 < text.size() && text[leading] == '\n' && text[leading + 1] == '\n')
        ++leading;
    text.erase(0, leading);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

bool CChatController::SendTyped(std::string& typed, bool later)
{
    std::string text = TrimTypedText(typed);
    if (text.empty())
        return false;
    SendOptions how;
    how.Later = later;
    if (!Send(text, how))
        return false;
    typed.clear();
    return true;
}

bool CChatController::Send(const std::string& text, const SendOptions& how,
                           std::string* transportError)
{
    BusyScope depth(*this, false);
    m_context.Window.ShowWindow();

    std::vector<std::string> recipients;
    if (how.Recipients) {
        recipients = *how.Recipients;
    } else if (!m_context.Users.GetRecipients(recipients)) {
        m_context.Prompt.MessageBox(kSelectSomeone, kCaption, PromptButtons::Ok,
                                    PromptIcon::Warning);
        return false;
    }

    bool allUsers = recipients.empty();
    if (allUsers) {
        if (text.size() >= kAllUsersLimit) {
            m_context.Prompt.MessageBox(kAllUsersTooLong, kCaption, PromptButtons::Ok,
                                        PromptIcon::Information);
            return false;
        }
        if (!how.SkipAllUsersPrompt && m_context.Options.Get(Opt::PromptOnAllUsers) == 1 &&
            m_context.Prompt.MessageBox(kConfirmAllUsers, kCaption, PromptButtons::YesNoCancel,
                                        PromptIcon::Question) != PromptAnswer::Yes)
            return false;
    }

    if (how.Later) {
        std::string error;
        bool scheduled = m_context.SendLater.ScheduleMessage(
            text, recipients,
            [this](std::time_t& moment) { return m_context.Window.ChooseSendLaterMoment(moment); },
            error);
        if (!scheduled && !error.empty())
            m_context.Prompt.MessageBox(error, kCaption, PromptButtons::Ok, PromptIcon::Warning);
        if (scheduled)
            m_sendLaterChecked = -1; // it may be due at once
        return scheduled;
    }

    m_context.Window.SetWaitCursor(true);
    std::string error;
    bool sent;
    {
        BusyScope busy(*this, true);
        CTransport& transport = m_network.Transport();
        sent =
            allUsers ? transport.SendToAll(text, error) : transport.Send(recipients, text, error);
    }
    if (transportError)
        *transportError = error;
    if (sent) {
        ProcessIncoming();
        m_context.Window.SetWaitCursor(false);
        return true;
    }
    // The transport may have changed while it sent; the notice goes to the current one.
    m_network.Transport().PostSystemMessage(
        std::string(kNotSentStart) + FormatRecipients(allUsers, recipients) + kNotSentMiddle + text,
        true);
    m_context.Window.SetWaitCursor(false);
    return false;
}

void CChatController::ProcessIncoming()
{
    BusyScope depth(*this, false);
    m_network.PollServer();
    CheckUpgrade();

    std::vector<ChatMessage> messages;
    if (!m_network.Transport().GetMessages(messages))
        return;
    m_unseen = true;
    bool allForAllUsers = std::all_of(messages.begin(), messages.end(),
                                      [](const ChatMessage& m) { return m.AllUsers; });

    m_context.Window.AddToHistory(messages);

    std::vector<ChatMessage> logged;
    for (const ChatMessage& message : messages)
        if (message.Log)
            logged.push_back(message);
    if (!logged.empty()) {
        std::string error;
        if (!m_context.Log.AppendToLog(logged, error))
            m_context.Prompt.MessageBox(kLogWriteFailed + error, kCaption, PromptButtons::Ok,
                                        PromptIcon::Warning);
    }

    for (const ChatMessage& message : messages)
        if (!message.Loopback)
            m_context.Turing.ProcessMessage(message);

    if (m_context.Options.Get(Opt::DefaultToLastSender) != 0 && !m_context.Window.IsComposing()) {
        auto last = std::find_if(messages.rbegin(), messages.rend(),
                                 [](const ChatMessage& m) { return !m.Loopback; });
        if (last != messages.rend())
            m_context.Users.SelectSenderOf(*last, m_network.Transport().GetUserNameOrDefault());
    }

    m_context.Window.Notify(messages, allForAllUsers);
}

void CChatController::OnTimer(int id)
{
    switch (id) {
    case kPollTimer:
        Poll();
        break;
    case kStartTimer:
        m_context.Timers.StopTimer(kStartTimer);
        Reconnect();
        if (!m_network.IsConnected())
            ShowDisconnectedState();
        break;
    case kReconnectTimer:
        OnReconnectTimer();
        break;
    default:
        break;
    }
}

void CChatController::Poll()
{
    if (m_depth == 0)
        m_network.DeleteRetired();
    BusyScope depth(*this, false);
    m_context.Window.AnimateIcon();
    SendDueMessages();
    ProcessIncoming();
}

void CChatController::NextWake(CNextWake& wake) const
{
    if (std::optional<uint32_t> due = m_context.Turing.NextDueTick())
        wake.AtTick(*due);
    if (!ScheduledCanGo()) {
        // Held until the users are heard: look again when the roll call has had its time.
        if (m_network.IsConnected())
            wake.AtTick(m_connectedTick + kUsersHeardMs);
    } else if (m_sendLaterChecked == -1) {
        wake.Now();
    } else {
        if (m_nextMomentReadAt != m_sendLaterChecked) {
            m_nextMoment = m_context.SendLater.NextMoment();
            m_nextMomentReadAt = m_sendLaterChecked;
        }
        // Due once its second has passed, and the store is read at most once a second.
        if (m_nextMoment)
            wake.AtSecond(std::max(*m_nextMoment + 1, m_sendLaterChecked + 1));
    }
    m_network.NextWake(wake);
    m_context.Window.AddNextWake(wake);
}

void CChatController::SendDueMessages()
{
    std::vector<std::string> recipients;
    std::string text;
    while (m_context.Turing.TakeDueAnswer(recipients, text))
        Send(text, {.Recipients = recipients, .SkipAllUsersPrompt = true});

    // Messages that fell due while the program was off wait for the connection and for
    // the users it brings; sent before, they would fail for want of a recipient.
    if (!ScheduledCanGo())
        return;
    // A stored moment is in whole seconds: nothing new can fall due within one second,
    // so the store is read once a second (and again right after scheduling).
    std::time_t now = m_context.Clock.Now();
    if (now == m_sendLaterChecked)
        return;
    m_sendLaterChecked = now;
    std::time_t moment = 0;
    while (m_context.SendLater.GetDueMessage(recipients, text, &moment)) {
        if (Send(text, {.Recipients = recipients, .SkipAllUsersPrompt = true}))
            continue;
        // Refused while connected: the failure notice carries the text into the history and
        // the log, as for a typed message. Lost with the connection: it stays stored and goes
        // when the connection is back.
        if (!m_network.IsConnected()) {
            m_context.SendLater.Store({moment, recipients, text});
            break;
        }
    }
}

bool CChatController::ScheduledCanGo() const
{
    if (!m_network.IsConnected())
        return false;
    return m_network.Transport().KnowsUsersAtLogOn() ||
           m_context.Clock.TickCount() - m_connectedTick >= kUsersHeardMs;
}

void CChatController::Reconnect()
{
    BusyScope busy(*this, true);
    if (!Restart() && !m_logOnError.empty())
        m_network.Transport().PostSystemMessage(m_logOnError, false);
}

bool CChatController::Restart()
{
    ++m_logOnAttempts;
    return m_network.Restart(m_logOnError);
}

void CChatController::Refresh()
{
    BusyScope busy(*this, true);
    m_network.Transport().Refresh();
}

void CChatController::ApplySettings()
{
    m_context.Users.SetAllUsersAllowed(m_context.Options.Get(Opt::AllowAllUsers) != 0);
    BusyScope busy(*this, true);
    std::string error;
    if (!m_network.ApplySettings(error) && !error.empty())
        m_context.Prompt.MessageBox(error, kCaption, PromptButtons::Ok, PromptIcon::Warning);
}

uint32_t CChatController::RetryIntervalSeconds(uint32_t downSeconds)
{
    if (downSeconds < 60)
        return 5;
    if (downSeconds < 300)
        return 15;
    if (downSeconds < 600)
        return 30;
    return 60;
}

void CChatController::OnReconnectTimer()
{
    // Held back by a wait or a dialog: look again shortly.
    if (m_busy != 0) {
        m_context.Timers.StartTimer(kReconnectTimer, kReconnectPeriodMs);
        return;
    }
    if (m_network.IsConnected()) {
        m_context.Timers.StopTimer(kReconnectTimer);
        return;
    }
    if (m_context.Window.IsDialogOpen()) {
        m_context.Timers.StartTimer(kReconnectTimer, kReconnectPeriodMs);
        return;
    }
    uint32_t now = m_context.Clock.TickCount();
    uint32_t interval = RetryIntervalSeconds((now - m_disconnectTick) / 1000);
    uint32_t waited = now - m_lastAttemptTick;
    if (waited / 1000 <= interval) {
        // Nothing to look at before the attempt is due: sleep until then, not 500 ms at a time.
        m_context.Timers.StartTimer(kReconnectTimer,
                                    std::max(kReconnectPeriodMs, (interval + 1) * 1000 - waited));
        return;
    }
    m_lastAttemptTick = now;
    // Counted as busy: a log-on that waits inside a nested loop must not meet this timer
    // again and start a second attempt inside the first.
    BusyScope busy(*this, true);
    if (Restart())
        m_context.Timers.StopTimer(kReconnectTimer);
    else if (!m_shuttingDown && !m_network.IsConnected())
        m_context.Timers.StartTimer(kReconnectTimer, kReconnectPeriodMs);
}

void CChatController::OnConnected()
{
    m_connectedTick = m_context.Clock.TickCount();
    m_context.Timers.StopTimer(kReconnectTimer);
    m_context.Window.ShowConnectionState(true);
    m_context.Users.OnConnected();
    CheckUpgrade();
}

void CChatController::OnDisconnected()
{
    ShowDisconnectedState();
}

void CChatController::ShowDisconnectedState()
{
    m_disconnectTick = m_lastAttemptTick = m_context.Clock.TickCount();
    if (!m_shuttingDown)
        m_context.Timers.StartTimer(kReconnectTimer, kReconnectPeriodMs);
    m_network.Stop();
    m_context.Window.ShowConnectionState(false);
    m_context.Users.OnDisconnected();
    CheckUpgrade();
}

void CChatController::CheckUpgrade()
{
    std::string url;
    bool offered = m_network.GetUpgradeURL(url);
    if (offered == m_upgradeShown)
        return;
    m_upgradeShown = offered;
    m_upgradeURL = offered ? url : std::string();
    m_context.Window.ShowUpgradeLink(offered, m_upgradeURL);
    if (offered)
        m_network.Transport().PostSystemMessage(kUpgradeAvailable + url + ".", false);
}

void CChatController::OnUserArrived(const std::string& name)
{
    m_context.Users.UserArrived(name);
}

void CChatController::OnUserDeparted(const std::string& name)
{
    std::vector<std::string> before, after;
    bool chosen = m_context.Users.GetRecipients(before) && !before.empty();
    m_context.Users.UserDeparted(name);
    // The list falls back to everybody when the last chosen user leaves: said once, so the
    // next message does not go to all users unnoticed.
    if (chosen && m_context.Users.GetRecipients(after) && after.empty())
        m_network.Transport().PostSystemMessage(name + kRecipientLeft, false);
}

void CChatController::OnUserRenamed(const std::string& oldName, const std::string& newName)
{
    m_context.Users.UserRenamed(oldName, newName);
}
