#include "net/TcpIpClient.h"

#include "common/NameCase.h"
#include "net/DeliveryReport.h"
#include "net/UpgradeService.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"
#include "settings/Options.h"
#include "view/PrefixFormat.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

std::string COptionsClientSettings::ServerHost() const
{
    if (m_options.GetNetworkingType() == NetworkingType::Server)
        return "127.0.0.1";
    return m_options.Get(Opt::Server);
}

int COptionsClientSettings::ServerPort() const
{
    return m_options.Get(Opt::PortNumber);
}

CTcpIpClient::CTcpIpClient(CTransportSink* sink, const IUserNameSource& names, const IClock& clock,
                           const IClientSettings& settings, IBusyIndicatorFactory& busy,
                           int version)
    : CTransport(sink, names, clock), m_settings(settings), m_busy(busy), m_version(version)
{}

CTcpIpClient::~CTcpIpClient()
{
    DropConnection();
}

void CTcpIpClient::DropConnection()
{
    if (!m_connection)
        return;
    CTaskSocket* socket = m_connection;
    m_connection = nullptr;
    socket->SetOwner(nullptr);
    socket->Close();
    // It may be in the middle of telling us something; let it finish first.
    socket->deleteLater();
}

bool CTcpIpClient::GetUserName(std::string& name)
{
    if (!m_connection)
        return false;
    name = m_ownName;
    return true;
}

bool CTcpIpClient::DoLogOn(const std::string& name, std::string& error)
{
    error.clear();
    if (m_connection)
        return false;
    std::unique_ptr<IBusyIndicator> busy = m_busy.StartBusy(kConnecting);
    std::string host = m_settings.ServerHost();
    int port = m_settings.ServerPort();

    auto* socket = new CTaskSocket(this, Clock());
    m_connection = socket;
    if (!socket->Connect(host, static_cast<std::uint16_t>(port), *busy, error)) {
        if (m_connection == socket)
            DropConnection();
        return false;
    }
    if (m_connection != socket)
        return false;
    m_host = host;
    m_port = port;
    busy->SetText(kCommunicating);
    return LogOnExchange(name, *busy, error);
}

bool CTcpIpClient::DoChangeUserName(const std::string& newName, std::string& error)
{
    if (!m_connection) {
        error = kNotConnected;
        return false;
    }
    std::unique_ptr<IBusyIndicator> busy = m_busy.StartBusy(kCommunicating);
    return LogOnExchange(newName, *busy, error);
}

bool CTcpIpClient::LogOnExchange(const std::string& name, IBusyIndicator& busy, std::string& error)
{
    if (!m_connection) {
        error = kNotConnected;
        return false;
    }
    QPointer<CTaskSocket> socket = m_connection;
    if (!socket->SendDocument(ProtocolDocument::MakeLoginRequest(name), &busy, true, error))
        return false;

    ProtocolDocument answer;
    ++m_waiting;
    bool answered = false;
    for (;;) {
        if (!socket || socket != m_connection || socket->IsClosed())
            break;
        if (socket->TakeFirstOf(TypeBit(DocumentType::LoginResponse) | TypeBit(DocumentType::Users),
                                answer)) {
            answered = true;
            break;
        }
        if (busy.WaitStep()) {
            --m_waiting;
            if (socket && socket == m_connection)
                socket->Close(); // tells us: log-off and the disconnect notice
            return false;
        }
    }
    --m_waiting;
    if (!answered)
        return false;

    if (answer.Type == DocumentType::LoginResponse) {
        error = answer.Error;
        if (answer.Result) {
            m_ownName = name;
            return true;
        }
        if (socket == m_connection)
            socket->Close();
        return false;
    }
    // The server answers a successful log-on with the new user list alone.
    m_ownName = name;
    ApplyUsers(answer.Users);
    return true;
}

void CTcpIpClient::LogOff()
{
    m_ownName.clear();
    m_host.clear();
    m_port = 0;
    DropConnection();
}

void CTcpIpClient::UpdateSelfChat()
{
    auto it = std::find_if(m_knownUsers.begin(), m_knownUsers.end(), [&](const std::string& user) {
        return NamesEqualNoCase(user, m_ownName);
    });
    bool found = it != m_knownUsers.end();
    if (!SelfChat() && found) {
        NotifyUserDeparted(m_ownName);
        m_knownUsers.erase(it);
    } else if (SelfChat() && !found) {
        NotifyUserArrived(m_ownName);
        m_knownUsers.push_back(m_ownName);
    }
}

bool CTcpIpClient::DoSend(const std::vector<std::string>& recipients, const std::string& text,
                          std::string& error)
{
    // Each recipient once, as the server routes them: a name repeated (in any letter case)
    // would also be awaited twice by the delivery report.
    std::vector<std::string> distinct;
    std::unordered_set<std::string> seen;
    for (const std::string& name : recipients) {
        if (seen.insert(FoldNameCase(name)).second)
            distinct.push_back(name);
    }
    return SendMessage(NewMessage(m_ownName, std::move(distinct), false, text, false), error);
}

bool CTcpIpClient::DoSendToAll(const std::string& text, std::string& error)
{
    return SendMessage(NewMessage(m_ownName, {}, true, text, false), error);
}

bool CTcpIpClient::SendMessage(ChatMessage message, std::string& error)
{
    if (!m_connection) {
        error = kNotConnected;
        return false;
    }
    std::time_t sendTime = Clock().Now();
    std::unique_ptr<IBusyIndicator> busy = m_busy.StartBusy(kSending);
    if (!m_connection->SendDocument(ProtocolDocument::MakeMessage(message), busy.get(), false,
                                    error))
        return false;

    PendingReceipt pending;
    pending.Message = message;
    pending.SendTime = sendTime;
    pending.SentTick = Clock().TickCount();
    const std::vector<std::string>& candidates =
        message.AllUsers ? m_knownUsers : message.Recipients;
    for (const std::string& name : candidates) {
        if (!NamesEqualNoCase(name, message.Sender))
            pending.Missing.push_back(name);
    }
    m_pending[message.Id] = std::move(pending);
    m_received.push_back(std::move(message)); // the user's own copy
    return true;
}

void CTcpIpClient::OnDocumentArrived(CTaskSocket&)
{
    if (m_waiting > 0)
        return; // the log-on exchange looks into the queue itself
    ProcessIncoming();
}

void CTcpIpClient::ProcessIncoming()
{
    if (m_processing)
        return; // the loop further up takes the rest in order
    m_processing = true;
    ProtocolDocument document;
    while (m_connection && m_connection->TakeDocument(document)) {
        switch (document.Type) {
        case DocumentType::Message: {
            ChatMessage message = std::move(document.Message);
            message.Time = MessageTime::From(Clock().Now()); // the receiver's clock
            message.Loopback = false;
            std::string id = message.Id;
            std::string sender = message.Sender;
            m_received.push_back(std::move(message));
            std::unique_ptr<IBusyIndicator> busy = m_busy.StartBusy(kAcknowledging);
            std::string error;
            if (!m_connection->SendDocument(ProtocolDocument::MakeReceipt(id, sender, m_ownName),
                                            busy.get(), false, error))
                PostSystemMessage(error, false);
            break;
        }
        case DocumentType::Users:
            ApplyUsers(document.Users);
            break;
        case DocumentType::MessageReceipt:
            HandleReceipt(document);
            break;
        default:
            break;
        }
    }
    m_processing = false;
}

void CTcpIpClient::ApplyUsers(const std::vector<UserEntry>& entries)
{
    auto skipped = [&](const UserEntry& entry) {
        return !SelfChat() && NamesEqualNoCase(entry.Name, m_ownName);
    };
    // Each name's first entry, as it stands and as it was before a rename: one look-up per
    // known user, not a pass over the list (a log-on storm sends lists of thousands of
    // names, one after another, and a pass per user froze the window for seconds).
    // Keys are views into `entries`, which outlives the maps.
    using NameIndex =
        std::unordered_map<std::string_view, std::size_t, NameCaseHash, NameCaseEqual>;
    NameIndex byName;
    NameIndex byOldName;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const UserEntry& entry = entries[i];
        if (skipped(entry))
            continue;
        if (entry.OldName.empty())
            byName.emplace(entry.Name, i);
        else
            byOldName.emplace(entry.OldName, i);
    }
    std::vector<bool> matched(entries.size(), false);
    for (std::size_t k = 0; k < m_knownUsers.size();) {
        const std::string_view known = m_knownUsers[k];
        std::size_t first = entries.size();
        if (auto it = byName.find(known); it != byName.end())
            first = it->second;
        if (auto it = byOldName.find(known); it != byOldName.end())
            first = std::min(first, it->second);
        if (first < entries.size()) {
            const UserEntry& entry = entries[first];
            if (!entry.OldName.empty()) {
                std::string old = m_knownUsers[k];
                m_knownUsers[k] = entry.Name;
                NotifyUserRenamed(old, entry.Name);
            }
            matched[first] = true;
            ++k;
            continue;
        }
        std::string gone = m_knownUsers[k];
        m_knownUsers.erase(m_knownUsers.begin() + static_cast<std::ptrdiff_t>(k));
        NotifyUserDeparted(gone);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (matched[i] || skipped(entries[i]))
            continue;
        m_knownUsers.push_back(entries[i].Name);
        NotifyUserArrived(entries[i].Name);
    }
}

void CTcpIpClient::HandleReceipt(const ProtocolDocument& receipt)
{
    auto it = m_pending.find(receipt.ReceiptId);
    if (it == m_pending.end())
        return;
    PendingReceipt& pending = it->second;
    auto end = std::remove_if(
        pending.Missing.begin(), pending.Missing.end(),
        [&](const std::string& name) { return NamesEqualNoCase(name, receipt.ReceiptRecipient); });
    bool removed = end != pending.Missing.end();
    pending.Missing.erase(end, pending.Missing.end());
    if (removed && pending.Reported)
        PostDeliveryReport(
            true,
            FormatSentDescription(receipt.ReceiptRecipient, pending.SendTime, pending.Message.Text),
            true);
}

void CTcpIpClient::AddNextWake(CNextWake& wake) const
{
    // Documents are taken in as they arrive; the messages among them wait for Receive.
    if (!m_received.empty())
        wake.Now();
    if (m_connection && !m_connection->IsClosed()) {
        wake.AtTick(m_connection->LastWriteTick() + kKeepAliveMs + 1);
        if (m_waiting == 0 && !m_connection->Incoming().empty())
            wake.Now();
    }
    for (const auto& [id, pending] : m_pending) {
        if (pending.Missing.empty())
            wake.Now();
        else if (!pending.Reported)
            wake.AtTick(pending.SentTick + kReceiptWaitMs);
    }
}

void CTcpIpClient::Receive(std::vector<ChatMessage>& messages)
{
    if (m_connection && !m_connection->IsClosed() &&
        Clock().TickCount() - m_connection->LastWriteTick() > kKeepAliveMs) {
        std::string error;
        m_connection->SendDocument(ProtocolDocument::MakeKeepAlive(), nullptr, false, error);
    }
    // Documents that came while a log-on exchange waited are still queued.
    if (m_connection && m_waiting == 0 && !m_connection->Incoming().empty())
        ProcessIncoming();

    std::uint32_t now = Clock().TickCount();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        PendingReceipt& pending = it->second;
        if (pending.Missing.empty()) {
            it = m_pending.erase(it);
            continue;
        }
        if (!pending.Reported && now - pending.SentTick >= kReceiptWaitMs) {
            PostDeliveryReport(false,
                               FormatSentDescription(FormatRecipients(false, pending.Missing),
                                                     pending.SendTime, pending.Message.Text),
                               false);
            pending.Reported = true;
        }
        ++it;
    }
    for (ChatMessage& message : m_received)
        messages.push_back(std::move(message));
    m_received.clear();
}

int CTcpIpClient::AwaitedDeliveries() const
{
    int awaited = 0;
    for (const auto& [id, pending] : m_pending)
        awaited += !pending.Reported && !pending.Missing.empty();
    return awaited;
}

bool CTcpIpClient::DoGetUpgradeURL(std::string& url)
{
    if (!m_connection)
        return false;
    return UpgradeUrlFromServerHeader(m_connection->ServerHeader(), m_host,
                                      static_cast<unsigned>(m_port), url, m_version);
}

void CTcpIpClient::OnConnectionClosed(CTaskSocket&)
{
    LogOff();
    if (Sink())
        Sink()->NotifyDisconnected();
}

void CTcpIpClient::OnSendFailed(CTaskSocket& socket, const ProtocolDocument&)
{
    socket.Close();
}
