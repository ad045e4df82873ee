#include "net/TcpIpServer.h"

#include "common/NameCase.h"
#include "net/Transport.h"
#include "net/UpgradeService.h"
#include "platform/Clock.h"
#include "platform/NextWake.h"
#include "view/PrefixFormat.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// The queue of connections waiting to be accepted. Offices log on all at once after a
// restart of the server; a short queue turns that into seconds of connect retries.
constexpr int kListenBacklog = SOMAXCONN;
// Accepts per notification, so that a flood of connects cannot starve the others.
constexpr int kAcceptBurst = 64;
// When the process runs out of descriptors the pending connect stays queued and the
// notifier would fire at once again; pause accepting for a moment instead of spinning.
constexpr int kAcceptPauseMs = 100;

bool Denies(const PermissionEntry& entry, const std::string& name)
{
    return !entry.Rules.empty() && CPermissions::Denies(entry, name);
}

// About what a document takes on the wire; only the order of magnitude matters.
std::size_t EstimatedSize(const ProtocolDocument& document)
{
    // A frame kept from reading is held besides the message until it is written.
    std::size_t size = 200 + document.WrittenFrame.size();
    switch (document.Type) {
    case DocumentType::Message:
        size += 300 + document.Message.Text.size() + document.Message.Sender.size();
        for (const std::string& name : document.Message.Recipients)
            size += 13 + name.size();
        break;
    case DocumentType::Users:
        if (document.SharedFrame)
            size += document.SharedFrame->size(); // each queue holding it keeps it alive
        for (const UserEntry& entry : document.Users)
            size += 70 + entry.OldName.size() + entry.Name.size();
        break;
    case DocumentType::File:
        break; // its bytes are shared by every download, not held per connection
    default:
        size += document.ReceiptId.size() + document.ReceiptSender.size() +
                document.ReceiptRecipient.size() + document.Error.size() + document.Location.size();
        break;
    }
    return size;
}

// Descriptors kept free for what the server opens for a moment: the permissions file, the
// program for a download, the settings store, the log.
constexpr std::size_t kReservedDescriptors = 16;

// An office server holds one descriptor per connection, and connections that never send
// stay open; the default soft limit (often 1,024) would lock everybody out long before the
// system's limit.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool HasDenyRule(const PermissionEntry& entry)
{
    for (const PermissionRule& rule : entry.Rules) {
        if (rule.Kind == PermissionKind::Deny)
            return true;
    }
    return false;
}

} // namespace

CTcpIpServer::CTcpIpServer(const IClock& clock, std::function<bool(std::string&)> readExecutable,
                           QObject* parent)
    : QObject(parent), m_clock(clock), m_readExecutable(std::move(readExecutable))
{}

CTcpIpServer::~CTcpIpServer()
{
    for (auto& connection : m_connections)
        connection->Socket->SetOwner(nullptr);
    m_connections.clear();
    m_acceptNotifier.reset();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

bool CTcpIpServer::Start(int port, std::string& error)
{
    if (IsListening())
        return true;
    RaiseDescriptorLimit();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = kStartFailed + CTaskSocket::SystemErrorText(errno);
        return false;
    }
    // A restarted server must get its port back while old connections linger in TIME_WAIT;
    // this does not let a second server listen on the same port.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, kListenBacklog) != 0) {
        error = kStartFailed + CTaskSocket::SystemErrorText(errno);
        ::close(fd);
        return false;
    }
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_listenFd = fd;
    m_acceptNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, [this] { OnAcceptable(); });
    return true;
}

std::size_t CTcpIpServer::ConnectionCapacity()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    std::size_t open = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error))
        ++open;
    std::size_t allowed = limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : limit.rlim_cur;
    return allowed > open + kReservedDescriptors ? allowed - open - kReservedDescriptors : 0;
}

bool CTcpIpServer::LoadPermissions(const std::string& path, std::string& error)
{
    for (auto& connection : m_connections)
        connection->Entry = nullptr; // the table they point into changes
    return m_permissions.LoadPermissions(path, error);
}

const PermissionEntry& CTcpIpServer::EntryOf(Connection& c)
{
    // The table is searched by name, one entry after another; a busy sender would pay
    // that for every message.
    if (!c.Entry)
        c.Entry = &m_permissions.EntryFor(c.CurrentName);
    return *c.Entry;
}

void CTcpIpServer::OnAcceptable()
{
    CNesting nesting(m_nesting);
    for (int i = 0; i < kAcceptBurst; ++i) {
        auto connection = std::make_unique<Connection>();
        connection->Socket =
            std::make_unique<CTaskSocket>(static_cast<ITaskSocketOwner*>(this), m_clock);
        connection->Socket->KeepWrittenForms(true);
        connection->Socket->RouteFrames(true);
        errno = 0;
        if (!connection->Socket->Accept(m_listenFd)) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                m_acceptNotifier->setEnabled(false);
                QTimer::singleShot(kAcceptPauseMs, this, [this] {
                    if (m_acceptNotifier)
                        m_acceptNotifier->setEnabled(true);
                });
            }
            return;
        }
        m_bySocket[connection->Socket.get()] = connection.get();
        m_connections.push_back(std::move(connection));
    }
}

CTcpIpServer::Connection* CTcpIpServer::Find(CTaskSocket& socket)
{
    auto it = m_bySocket.find(&socket);
    return it == m_bySocket.end() ? nullptr : it->second;
}

CTcpIpServer::Connection* CTcpIpServer::FindByName(std::string_view name)
{
    if (name.empty())
        return nullptr; // a connection without a name is nobody's address
    auto it = m_names.find(name);
    return it == m_names.end() ? nullptr : it->second;
}

void CTcpIpServer::SetName(Connection& c, const std::string& name)
{
    if (!c.CurrentName.empty()) {
        auto it = m_names.find(c.CurrentName);
        if (it != m_names.end() && it->second == &c)
            m_names.erase(it);
        NoteDeparture(c.CurrentName);
    }
    c.PreviousName = c.CurrentName;
    c.CurrentName = name;
    c.Entry = nullptr;
    if (!name.empty())
        m_names[name] = &c;
    NoteUsersChanged();
}

void CTcpIpServer::NoteDeparture(const std::string& name)
{
    std::uint32_t now = m_clock.TickCount();
    if (m_departed.size() >= kDepartedLimit) {
        for (auto it = m_departed.begin(); it != m_departed.end();) {
            if (now - it->second >= kIdleLimitMs)
                it = m_departed.erase(it);
            else
                ++it;
        }
        if (m_departed.size() >= kDepartedLimit)
            m_departed.clear(); // a storm of departures: forget rather than grow
    }
    m_departed[name] = now;
}

bool CTcpIpServer::LeftRecently(std::string_view name) const
{
    auto it = m_departed.find(name);
    return it != m_departed.end() && m_clock.TickCount() - it->second < kIdleLimitMs;
}

std::string CTcpIpServer::NewNoticeId()
{
    return FormatBase36(static_cast<unsigned>(++m_idCounter));
}

void CTcpIpServer::Poll()
{
    if (m_nesting > 0)
        return;
    CNesting nesting(m_nesting);
    ReleaseHeld(); // nothing held may point at a connection deleted below

    std::uint32_t now = m_clock.TickCount();
    for (auto& connection : m_connections) {
        CTaskSocket& socket = *connection->Socket;
        if (!socket.IsClosed() && socket.HasRead() && now - socket.LastReadTick() >= kIdleLimitMs)
            socket.Close();
    }

    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_connections.size(); ++i) {
        Connection& c = *m_connections[i];
        if (!c.Socket->IsClosed()) {
            if (kept != i)
                m_connections[kept] = std::move(m_connections[i]);
            ++kept;
            continue;
        }
        if (!c.CurrentName.empty()) {
            auto it = m_names.find(c.CurrentName);
            if (it != m_names.end() && it->second == &c)
                m_names.erase(it);
            NoteDeparture(c.CurrentName);
        }
        m_bySocket.erase(c.Socket.get());
        c.Socket->SetOwner(nullptr);
        m_connections[i].reset();
    }
    m_connections.resize(kept);

    if (m_usersChanged && UsersPauseLeft().count() <= 0)
        SendUsersDocuments();
}

void CTcpIpServer::NextWake(CNextWake& wake) const
{
    if (m_usersChanged) {
        auto left = UsersPauseLeft();
        // Rounded up: woken a moment early, the poll would find the pause not yet over.
        auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        wake.After(milliseconds > 0 ? static_cast<std::uint32_t>(milliseconds) : 0);
    }
    for (const auto& connection : m_connections) {
        const CTaskSocket& socket = *connection->Socket;
        if (socket.IsClosed())
            wake.Now();
        else if (socket.HasRead())
            wake.AtTick(socket.LastReadTick() + kIdleLimitMs);
    }
}

void CTcpIpServer::SendUsersDocuments()
{
    m_usersChanged = false;
    // Everyone whom no rule denies anything sees the same list: it is made and framed once
    // and its frame shared by all their queues. Made per recipient, a log-on storm of n
    // clients held n copies of a list of n names.
    ProtocolDocument shared;
    std::size_t bytes = 0;
    for (auto& connection : m_connections) {
        Connection& r = *connection;
        // Lists go to logged-on chat clients only: a web client fetching the upgrade must
        // get its HTTP answer and nothing else, and a client whose log-on has not been
        // decided yet must not take a list for its answer.
        if (r.Socket->IsClosed() || r.Http || r.CurrentName.empty())
            continue;
        const PermissionEntry& entry = EntryOf(r);
        if (HasDenyRule(entry)) {
            bytes += SendUsers(r, FilteredUsers(r, entry));
            continue;
        }
        if (!shared.SharedFrame) {
            std::vector<UserEntry> all;
            all.reserve(m_connections.size());
            for (auto& x : m_connections) {
                if (!x->PreviousName.empty() || !x->CurrentName.empty())
                    all.push_back(UserEntry{x->PreviousName, x->CurrentName});
            }
            shared = ProtocolDocument::MakeUsers(all);
            ShareFrame(shared);
        }
        bytes += SendUsers(r, shared);
    }
    m_usersSentAt = std::chrono::steady_clock::now();
    m_usersSentBytes = bytes;
}

void CTcpIpServer::NoteUsersChanged()
{
    auto now = std::chrono::steady_clock::now();
    m_usersChangeAlone = now - m_usersChangedAt >= kUsersQuiet;
    if (!m_usersChanged)
        m_usersFirstChangeAt = now;
    m_usersChangedAt = now;
    m_usersChanged = true;
}

std::chrono::steady_clock::duration CTcpIpServer::UsersPauseLeft() const
{
    auto atRate = [this](std::size_t bytes) {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(static_cast<double>(bytes) / m_usersBytesPerSecond));
    };
    auto now = std::chrono::steady_clock::now();
    // The clients' reading of the last lists.
    auto reading = m_usersSentAt + atRate(m_usersSentBytes) - now;
    if (m_usersChangeAlone)
        return reading;
    // A run of changes waits for its end, but no longer than about what the next lists take
    // (a list of every name for each logged-on client, as EstimatedSize counts it): while a
    // long storm goes on, the lists grow and wait longer, so that fewer of them go out.
    std::size_t list = 200;
    for (const auto& x : m_connections)
        list += 70 + x->PreviousName.size() + x->CurrentName.size();
    auto longest =
        m_usersFirstChangeAt + atRate(std::max(m_usersSentBytes, list * m_names.size())) - now;
    auto runEnd = m_usersChangedAt + kUsersQuiet - now;
    return std::max(reading, std::min(runEnd, longest));
}

ProtocolDocument CTcpIpServer::FilteredUsers(Connection& r, const PermissionEntry& entry) const
{
    std::vector<UserEntry> filtered;
    filtered.reserve(m_connections.size());
    for (auto& x : m_connections) {
        UserEntry e{x->PreviousName, x->CurrentName};
        if (x.get() != &r) {
            if (!e.OldName.empty() && Denies(entry, e.OldName))
                e.OldName.clear();
            if (!e.Name.empty() && Denies(entry, e.Name))
                e.Name.clear();
        }
        if (!e.OldName.empty() || !e.Name.empty())
            filtered.push_back(std::move(e));
    }
    return ProtocolDocument::MakeUsers(filtered);
}

std::size_t CTcpIpServer::SendUsers(Connection& r, ProtocolDocument document)
{
    TrimQueued(r);
    std::size_t size = EstimatedSize(document);
    if (r.QueuedUsers > 0) {
        std::size_t place = r.Socket->ReplaceUnsent(document);
        if (place != std::string::npos) {
            Connection::Queued& queued = r.QueuedDocuments[place];
            std::size_t added = size > queued.Size ? size - queued.Size : 0;
            r.QueuedBytes = r.QueuedBytes - queued.Size + size;
            queued.Size = size;
            return added;
        }
    }
    return SendTo(r, std::move(document)) ? size : 0;
}

void CTcpIpServer::ReleaseHeld()
{
    m_releaseScheduled = false;
    // Releasing may report a failed write, whose notice may hold another connection.
    std::vector<CTaskSocket*> held = std::move(m_corked);
    m_corked.clear();
    for (CTaskSocket* socket : held)
        socket->ReleaseWrites();
}

void CTcpIpServer::Cork(CTaskSocket& socket)
{
    if (socket.IsClosed() || socket.WritesHeld())
        return; // closed, or held already (only the server holds a connection's writes)
    socket.HoldWrites();
    m_corked.push_back(&socket);
    if (!m_releaseScheduled) {
        m_releaseScheduled = true;
        // A zero timer fires in the next pass, after everything ready now.
        QTimer::singleShot(0, this, [this] { ReleaseHeld(); });
    }
}

void CTcpIpServer::TrimQueued(Connection& c)
{
    // The socket writes and drops documents from the front of its queue only.
    std::size_t left = c.Socket->OutgoingCount();
    while (c.QueuedDocuments.size() > left) {
        const Connection::Queued& front = c.QueuedDocuments.front();
        c.QueuedBytes -= front.Size;
        c.QueuedUsers -= front.Users;
        c.QueuedCount -= front.Count;
        c.QueuedDocuments.pop_front();
    }
}

bool CTcpIpServer::SendTo(Connection& target, ProtocolDocument&& document)
{
    if (target.Socket->IsClosed())
        return false;
    Cork(*target.Socket);
    std::size_t size = EstimatedSize(document);
    bool isUsers = document.Type == DocumentType::Users;
    std::string error;
    if (!target.Socket->SendDocument(std::move(document), nullptr, false, error))
        return false;
    target.QueuedDocuments.push_back({size, isUsers, 1});
    target.QueuedBytes += size;
    target.QueuedUsers += isUsers;
    ++target.QueuedCount;
    return WithinLimits(target);
}

bool CTcpIpServer::SendFrameTo(Connection& target, std::string_view body)
{
    if (target.Socket->IsClosed())
        return false;
    Cork(*target.Socket);
    // In step with the socket's queue first: a frame that joins the last entry adds to it.
    TrimQueued(target);
    // About what a forwarded document was counted at (see EstimatedSize).
    std::size_t size = 300 + body.size();
    bool appended = false;
    if (!target.Socket->SendFrame(body, appended))
        return false;
    if (appended && !target.QueuedDocuments.empty()) {
        target.QueuedDocuments.back().Size += size;
        ++target.QueuedDocuments.back().Count;
    } else {
        target.QueuedDocuments.push_back({size, false, 1});
    }
    target.QueuedBytes += size;
    ++target.QueuedCount;
    return WithinLimits(target);
}

bool CTcpIpServer::WithinLimits(Connection& target)
{
    TrimQueued(target);
    std::size_t queued = target.QueuedCount;
    // One document larger than the limit may still go out on its own.
    if (queued > m_outgoingLimit || (queued > 1 && target.QueuedBytes > m_outgoingBytes)) {
        // It stopped reading: holding more for it would only grow without end.
        target.Socket->Close();
        return false;
    }
    return true;
}

void CTcpIpServer::SendNotice(Connection& to, const std::string& text)
{
    ChatMessage notice;
    notice.Sender = CTransport::kSystemSender;
    notice.Recipients = {to.CurrentName};
    notice.AllUsers = false;
    notice.Text = text;
    notice.Time = MessageTime::From(m_clock.Now());
    notice.Id = NewNoticeId();
    notice.Loopback = false;
    notice.Log = true;
    SendTo(to, ProtocolDocument::MakeMessage(notice));
}

void CTcpIpServer::OnDocumentArrived(CTaskSocket& socket)
{
    CNesting nesting(m_nesting);
    // Connections are deleted only by the poll, which never runs inside this.
    Connection* s = Find(socket);
    // One document per notification, each in its place in the queue (and moved on from
    // there: a document is large). Messages forwarded as they came arrive between the
    // documents, each with a notification of its own; taking more documents at once would
    // let them overtake those. Nothing the handlers do reads from this connection.
    CDocumentQueue& incoming = socket.Incoming();
    if (!incoming.empty()) {
        ProtocolDocument& document = incoming.front();
        switch (document.Type) {
        case DocumentType::LoginRequest:
            if (s)
                HandleLoginRequest(*s, document.UserName);
            break;
        case DocumentType::Message:
            if (!s) {
                socket.Close();
                return;
            }
            HandleMessage(*s, document);
            break;
        case DocumentType::MessageReceipt:
            if (s)
                HandleReceipt(*s, document);
            break;
        default:
            break;
        }
        incoming.pop_front();
    }
}

void CTcpIpServer::HandleLoginRequest(Connection& s, const std::string& name)
{
    if (NamesEqualNoCase(name, CTransport::kSystemSender) || NamesEqualNoCase(name, "all users")) {
        SendTo(s, ProtocolDocument::MakeLoginResponse(false, kReservedName));
        return;
    }
    Connection* holder = nullptr;
    if (name.empty()) {
        for (auto& c : m_connections) {
            if (c->CurrentName.empty()) {
                holder = c.get();
                break;
            }
        }
    } else {
        holder = FindByName(name);
    }
    if (!holder) {
        SetName(s, name);
    } else if (holder == &s) {
        if (s.CurrentName == name)
            SendTo(s, ProtocolDocument::MakeLoginResponse(false, kAlreadyYours));
        else
            SetName(s, name);
    } else {
        SendTo(s, ProtocolDocument::MakeLoginResponse(false, kNameTaken));
    }
}

template <typename EachName>
void CTcpIpServer::NamedTargets(Connection& s, const PermissionEntry& entry, EachName eachName,
                                std::vector<std::string>& failed)
{
    // A name given twice (in any letter case) is one user: he gets one copy and is named
    // once in the notice. A list of one name repeated would otherwise queue that many
    // copies for him and cut him off at the queue's limit.
    ++m_routing;
    std::unique_ptr<std::unordered_set<std::string, NameCaseHash, NameCaseEqual>>
        failedNames; // made at the first
    auto fail = [&](std::string_view name) {
        if (!failedNames)
            failedNames =
                std::make_unique<std::unordered_set<std::string, NameCaseHash, NameCaseEqual>>();
        if (failedNames->emplace(name).second)
            failed.emplace_back(name);
    };
    eachName([&](std::string_view name) {
        Connection* c = FindByName(name);
        if (!c || c->Socket->IsClosed()) {
            fail(name);
        } else if (c == &s || c->RoutedFor == m_routing) {
            return;
        } else if (!entry.Rules.empty() && Denies(entry, std::string(name))) {
            c->RoutedFor = m_routing;
            fail(name);
        } else {
            c->RoutedFor = m_routing;
            m_targets.push_back(c);
        }
    });
}

void CTcpIpServer::ReportUnsent(Connection& s, const std::vector<std::string>& failed)
{
    if (!failed.empty() && !s.Socket->IsClosed())
        SendNotice(s, "Zib Tam could not send your message to " + FormatRecipients(false, failed) +
                          ".");
}

void CTcpIpServer::HandleMessage(Connection& s, ProtocolDocument& received)
{
    ChatMessage& message = received.Message;
    // Only a logged-on user sends, and always under the name he logged on with: the
    // permission check and the receipts' way back both go by that name.
    if (s.CurrentName.empty())
        return;
    message.Sender = s.CurrentName;
    const PermissionEntry& entry = EntryOf(s);

    std::vector<Connection*>& targets = m_targets;
    targets.clear();
    std::vector<std::string> failed;
    if (!message.AllUsers) {
        NamedTargets(
            s, entry,
            [&](auto each) {
                for (const std::string& name : message.Recipients)
                    each(name);
            },
            failed);
    } else {
        for (auto& c : m_connections) {
            if (c.get() == &s || c->Socket->IsClosed() || c->CurrentName.empty() || c->Http)
                continue;
            if (!Denies(entry, c->CurrentName))
                targets.push_back(c.get());
        }
    }

    if (!targets.empty()) {
        // The received document goes out itself: a message document, changed in its sender
        // only, with the frame it came in, which is sent unchanged when the sender was
        // already the logged-on name.
        for (std::size_t i = 0; i < targets.size(); ++i) {
            Connection* target = targets[i];
            bool ok = i + 1 < targets.size() ? SendTo(*target, ProtocolDocument(received))
                                             : SendTo(*target, std::move(received));
            if (!ok)
                failed.push_back(target->CurrentName);
        }
    }
    ReportUnsent(s, failed);
}

void CTcpIpServer::OnFrameArrived(CTaskSocket& socket, const RoutedFrame& frame,
                                  std::string_view body)
{
    CNesting nesting(m_nesting);
    Connection* s = Find(socket);
    if (frame.Type == DocumentType::MessageReceipt) {
        if (!s)
            return;
        if (Connection* sender = ReceiptTarget(*s, frame.Sender))
            SendFrameTo(*sender, body);
        return;
    }
    if (!s) {
        socket.Close();
        return;
    }
    // Routed as it came when it goes out unchanged: to named users, from the logged-on
    // name, with no permission rules to apply. Anything else as a document.
    if (s->CurrentName.empty())
        return;
    if (frame.AllUsers || frame.Sender != s->CurrentName || !EntryOf(*s).Rules.empty()) {
        ProtocolDocument document;
        std::string error;
        if (ReadProtocolDocument(body, document, error, true))
            HandleMessage(*s, document);
        return;
    }
    m_targets.clear();
    std::vector<std::string> failed;
    NamedTargets(
        *s, EntryOf(*s), [&](auto each) { ForEachRoutedRecipient(frame.Recipients, each); },
        failed);
    for (Connection* target : m_targets) {
        if (!SendFrameTo(*target, body))
            failed.push_back(target->CurrentName);
    }
    ReportUnsent(*s, failed);
}

CTcpIpServer::Connection* CTcpIpServer::ReceiptTarget(Connection& s, std::string_view sender)
{
    // Clients acknowledge the server's own notices too; those receipts end here. Taking
    // them for receipts of an absent user would cut off everyone who gets a notice.
    if (NameCaseEqual()(sender, CTransport::kSystemSender))
        return nullptr;
    Connection* target = FindByName(sender);
    // A sender who left (or took another name) a moment ago: the receipt was on its way
    // and goes nowhere. Closing its writer would cut off whoever got a message from
    // someone who did not stay.
    if (!target && !LeftRecently(sender))
        s.Socket->Close();
    return target;
}

void CTcpIpServer::HandleReceipt(Connection& s, ProtocolDocument& receipt)
{
    // Unchanged, in the frame it came in when it was written as this program writes it.
    if (Connection* sender = ReceiptTarget(s, receipt.ReceiptSender))
        SendTo(*sender, std::move(receipt));
}

void CTcpIpServer::OnConnectionClosed(CTaskSocket&)
{
    NoteUsersChanged();
}

void CTcpIpServer::OnSendFailed(CTaskSocket& socket, const ProtocolDocument& document)
{
    CNesting nesting(m_nesting);
    Connection* f = Find(socket);
    if (document.Type == DocumentType::Message &&
        !NamesEqualNoCase(document.Message.Sender, CTransport::kSystemSender)) {
        Connection* sender = FindByName(document.Message.Sender);
        if (sender && sender != f) {
            std::string who = f && !f->CurrentName.empty() ? f->CurrentName : std::string();
            std::string text =
                who.empty()
                    ? "Zib Tam was unable to send the following message to one of the "
                      "recipients.\n\n"
                    : "Zib Tam was unable to send the following message to " + who + ".\n\n";
            SendNotice(*sender, text + document.Message.Text);
        }
    }
    socket.Close();
}

void CTcpIpServer::OnHttpRequest(CTaskSocket& socket, const HttpRequest& request)
{
    CNesting nesting(m_nesting);
    Connection* c = Find(socket);
    if (!c)
        return;
    c->Http = true;
    ProtocolDocument answer;
    if (AnswerUpgradeRequest(
            request, [this] { return ExecutableBytes(); }, answer))
        SendTo(*c, std::move(answer));
}

std::shared_ptr<const std::string> CTcpIpServer::ExecutableBytes()
{
    // One copy for all downloads under way; read again once none is left.
    if (std::shared_ptr<const std::string> bytes = m_executable.lock())
        return bytes;
    std::string bytes;
    if (!m_readExecutable || !m_readExecutable(bytes))
        return nullptr;
    auto shared = std::make_shared<const std::string>(std::move(bytes));
    m_executable = shared;
    return shared;
}

void CTcpIpServer::CloseAll()
{
    CNesting nesting(m_nesting);
    for (auto& connection : m_connections)
        connection->Socket->Close();
}
