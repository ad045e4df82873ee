#include "net/Transport.h"

#include "common/NameCase.h"
#include "net/DeliveryReport.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"
#include "settings/Options.h"

#include <algorithm>

void CTransportSink::NotifyConnected()
{
    if (m_connected)
        return;
    m_connected = true;
    OnConnected();
}

void CTransportSink::NotifyDisconnected()
{
    if (!m_connected)
        return;
    m_connected = false;
    OnDisconnected();
}

void CTransportSink::NotifyUserArrived(const std::string& name)
{
    NotifyConnected();
    OnUserArrived(name);
}

void CTransportSink::NotifyUserDeparted(const std::string& name)
{
    NotifyConnected();
    OnUserDeparted(name);
}

void CTransportSink::NotifyUserRenamed(const std::string& oldName, const std::string& newName)
{
    NotifyConnected();
    OnUserRenamed(oldName, newName);
}

std::string COptionsUserName::StoredUserName() const
{
    return m_options.GetUserName();
}

CTransport::CTransport(CTransportSink* sink, const IUserNameSource& names, const IClock& clock)
    : m_sink(sink), m_names(names), m_clock(clock)
{}

CTransport::~CTransport() = default;

bool CTransport::GetUserName(std::string&)
{
    return false;
}

bool CTransport::DoLogOn(const std::string&, std::string& error)
{
    error = kNotConnectedLogOn;
    return false;
}

bool CTransport::DoChangeUserName(const std::string&, std::string& error)
{
    error = kNotConnectedRename;
    return false;
}

void CTransport::Receive(std::vector<ChatMessage>&) {}

bool CTransport::DoSend(const std::vector<std::string>&, const std::string&, std::string& error)
{
    error = kNotConnectedSend;
    return false;
}

bool CTransport::DoSendToAll(const std::string&, std::string& error)
{
    error = kNotConnectedSend;
    return false;
}

bool CTransport::DoGetUpgradeURL(std::string&)
{
    return false;
}

bool CTransport::LogOn(const std::string& name, std::string& error)
{
    bool ok = DoLogOn(name, error);
    if (ok && m_sink)
        m_sink->NotifyConnected();
    return ok;
}

bool CTransport::ChangeUserName(const std::string& newName, std::string& error)
{
    return DoChangeUserName(newName, error);
}

bool CTransport::Send(const std::vector<std::string>& recipients, const std::string& text,
                      std::string& error)
{
    std::string body = RemoveCarriageReturns(text);
    std::string self = GetUserNameOrDefault();
    if (recipients.size() == 1 && NamesEqualNoCase(recipients[0], self)) {
        m_incoming.push_back(NewMessage(self, recipients, false, std::move(body), true));
        return true;
    }
    return DoSend(recipients, body, error);
}

bool CTransport::SendToAll(const std::string& text, std::string& error)
{
    return DoSendToAll(RemoveCarriageReturns(text), error);
}

void CTransport::AddNextWake(CNextWake&) const {}

void CTransport::NextWake(CNextWake& wake) const
{
    if (!m_incoming.empty())
        wake.Now();
    AddNextWake(wake);
}

bool CTransport::GetMessages(std::vector<ChatMessage>& messages)
{
    messages = std::move(m_incoming);
    m_incoming.clear();
    std::vector<ChatMessage> arrived;
    Receive(arrived);
    for (ChatMessage& message : arrived)
        m_incoming.push_back(std::move(message));
    return !messages.empty();
}

void CTransport::PostSystemMessage(const std::string& text, bool log)
{
    ChatMessage message = NewMessage(kSystemSender, {GetUserNameOrDefault()}, false,
                                     RemoveCarriageReturns(text), false);
    message.Log = log;
    m_incoming.push_back(std::move(message));
}

ChatMessage CTransport::NewMessage(const std::string& sender, std::vector<std::string> recipients,
                                   bool allUsers, std::string text, bool loopback)
{
    ChatMessage message;
    message.Loopback = loopback;
    message.AllUsers = allUsers;
    message.Id = NewUniqueId();
    message.Sender = sender;
    message.Text = std::move(text);
    message.Recipients = std::move(recipients);
    message.Time = MessageTime::From(m_clock.Now());
    message.Log = true;
    return message;
}

std::string CTransport::GetUserNameOrDefault()
{
    std::string name;
    if (GetUserName(name))
        return name;
    return m_names.StoredUserName();
}

std::string CTransport::NewUniqueId()
{
    return FormatBase36(static_cast<unsigned>(++m_idCounter));
}

void CTransport::NotifyUserArrived(const std::string& name)
{
    if (m_sink)
        m_sink->NotifyUserArrived(name);
}

void CTransport::NotifyUserDeparted(const std::string& name)
{
    if (m_sink)
        m_sink->NotifyUserDeparted(name);
}

void CTransport::NotifyUserRenamed(const std::string& oldName, const std::string& newName)
{
    if (m_sink)
        m_sink->NotifyUserRenamed(oldName, newName);
}

DeliveryStatus CTransport::GetDeliveryStatus() const
{
    return {AwaitedDeliveries(), m_unconfirmed, m_lastUnconfirmedReport};
}

void CTransport::PostDeliveryReport(bool confirmed, const std::string& description, bool log)
{
    std::string report = FormatDeliveryReport(confirmed, description);
    if (!confirmed) {
        ++m_unconfirmed;
        m_lastUnconfirmedReport = report;
    }
    PostSystemMessage(report, log);
}

std::string FormatBase36(unsigned value)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 36]);
        value /= 36;
    } while (value != 0);
    return text;
}

std::string RemoveCarriageReturns(const std::string& text)
{
    std::string result = text;
    std::erase(result, '\r');
    return result;
}
