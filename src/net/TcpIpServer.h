#pragma once
// The server of the client/server mode: listens on the chat port, gives out user names,
// routes messages and receipts between the connections, tells every logged-on client who
// is online (filtered by the permission table) and answers the upgrade service's HTTP
// requests. Driven by socket notifications and by Poll() from a timer.
#include "common/NameCase.h"
#include "net/Permissions.h"
#include "net/TaskSocket.h"

#include <QObject>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CNextWake;
class IClock;
class QSocketNotifier;

class CTcpIpServer : public QObject, private ITaskSocketOwner
{
public:
    // A connection that has not read a byte for this long is closed by the poll.
    static constexpr std::uint32_t kIdleLimitMs = 90001;
    // Documents a connection may have waiting to be written before the server gives up on
    // it (a client that stopped reading). Far above what a reading client ever has queued.
    static constexpr std::size_t kDefaultOutgoingLimit = 2048;
    // The same in bytes (as estimated from the documents' contents).
    static constexpr std::size_t kDefaultOutgoingBytes = 8 * 1024 * 1024;
    // Users documents go out at about this rate, all connections together: after lists of
    // b bytes the next wait b / rate, the clients' reading. Every change tells everybody
    // about everybody; in a log-on storm of n clients that is n times n names, and the
    // clients would spend their time reading lists that the next one replaces. So changes
    // closer together than kUsersQuiet are a run (everybody logging on in the morning) whose
    // lists wait until it ends, at most max(b, b') / rate from its first change, b' the
    // bytes of the next lists; one list then tells the clients about the whole run. A
    // change alone goes out at once.
    static constexpr double kDefaultUsersBytesPerSecond = 256e6;
    static constexpr std::chrono::milliseconds kUsersQuiet{20};

    // `readExecutable` gives the bytes the upgrade download hands out (the running program).
    CTcpIpServer(const IClock& clock, std::function<bool(std::string&)> readExecutable,
                 QObject* parent = nullptr);
    ~CTcpIpServer() override;
    CTcpIpServer(const CTcpIpServer&) = delete;
    CTcpIpServer& operator=(const CTcpIpServer&) = delete;

    // Listens on all addresses. Port 0 picks a free port (see Port()). Failure: "Zib Tam
    // could not start the server.\n\n" with the system's text.
    bool Start(int port, std::string& error);
    bool IsListening() const { return m_listenFd >= 0; }
    // The port actually listened on.
    std::uint16_t Port() const { return m_port; }
    // How many connections the process can still hold: one descriptor each, from the
    // descriptors it may open (Start raises that limit as far as allowed) less those open
    // now and a few kept for the files the server opens for a moment.
    static std::size_t ConnectionCapacity();

    bool LoadPermissions(const std::string& path, std::string& error);
    const CPermissions& Permissions() const { return m_permissions; }

    // Periodic work: the idle rule, deleting closed connections, users documents.
    void Poll();
    // When Poll next has work without anything arriving: the next idle limit, connections
    // to delete, users documents owed.
    void NextWake(CNextWake& wake) const;

    void SetOutgoingLimit(std::size_t documents, std::size_t bytes = kDefaultOutgoingBytes)
    {
        m_outgoingLimit = documents;
        m_outgoingBytes = bytes;
    }

    // A slower rate makes the pauses long enough to watch.
    void SetUsersRate(double bytesPerSecond) { m_usersBytesPerSecond = bytesPerSecond; }

    // For the headless front end and for tests.
    std::size_t ConnectionCount() const { return m_connections.size(); }
    std::size_t LoggedOnCount() const { return m_names.size(); }
    // Closes every connection (the front end does this before ending).
    void CloseAll();

    static constexpr const char* kStartFailed = "Zib Tam could not start the server.\n\n";
    static constexpr const char* kReservedName =
        "Zib Tam has already reserved the requested user name.";
    static constexpr const char* kAlreadyYours = "You are already using the specified user name.";
    static constexpr const char* kNameTaken =
        "Another user is already using the requested user name.";

private:
    struct Connection
    {
        std::unique_ptr<CTaskSocket> Socket;
        std::string PreviousName;
        std::string CurrentName;
        // Asked for an upgrade: it speaks HTTP and gets nothing but its answers.
        bool Http = false;
        // The message being routed when it was last made a target (see m_routing).
        std::uint64_t RoutedFor = 0;
        // Its permission entry, looked up once per name (null: not looked up yet).
        const PermissionEntry* Entry = nullptr;
        // Estimated sizes of the documents still in its queue, oldest first: the socket
        // writes (or drops) them from the front, so its count tells how many are left.
        struct Queued
        {
            std::size_t Size;
            bool Users;
            std::size_t Count; // documents: 1, or the frames of a run of routed frames
        };
        std::deque<Queued> QueuedDocuments;
        std::size_t QueuedBytes = 0;
        std::size_t QueuedCount = 0; // their documents and frames
        // Users documents among them: at most one being written and one waiting. Only the
        // latest list matters, so a newer one takes the place of the one waiting, and a slow
        // reader gets one list instead of a pile of them.
        std::size_t QueuedUsers = 0;
    };

    // Raises the nesting counter for the life of a server operation.
    class CNesting
    {
    public:
        explicit CNesting(int& counter) : m_counter(counter) { ++m_counter; }
        ~CNesting() { --m_counter; }

    private:
        int& m_counter;
    };

    // Holds back the writes of a connection sent to until this pass of the event loop has
    // dispatched everything that was ready, so that what many reads bring in for one
    // recipient leaves in one write.
    void Cork(CTaskSocket& socket);
    void ReleaseHeld();
    void OnAcceptable();
    void OnDocumentArrived(CTaskSocket& socket) override;
    void OnConnectionClosed(CTaskSocket& socket) override;
    void OnSendFailed(CTaskSocket& socket, const ProtocolDocument& document) override;
    void OnHttpRequest(CTaskSocket& socket, const HttpRequest& request) override;

    void HandleLoginRequest(Connection& s, const std::string& name);
    void HandleMessage(Connection& s, ProtocolDocument& received);
    // A message or receipt in this program's own form, routed as it came.
    void OnFrameArrived(CTaskSocket& socket, const RoutedFrame& frame,
                        std::string_view body) override;
    // Fills m_targets with the connections a message to the names that `eachName` gives
    // goes to, once each; the names it cannot go to go to `failed`, once each.
    template <typename EachName>
    void NamedTargets(Connection& s, const PermissionEntry& entry, EachName eachName,
                      std::vector<std::string>& failed);
    // Tells the sender which recipients his message did not reach.
    void ReportUnsent(Connection& s, const std::vector<std::string>& failed);
    // The connection a receipt from `s` goes to: null when it goes nowhere (a receipt of
    // the server's own notices, or for a sender who is gone; `s` is closed unless that
    // sender left a moment ago).
    Connection* ReceiptTarget(Connection& s, std::string_view sender);
    void HandleReceipt(Connection& s, ProtocolDocument& receipt);
    // Sends without waiting; false when the send failed or the connection's queue grew
    // beyond the limit (the connection is then closed).
    bool SendTo(Connection& target, ProtocolDocument&& document);
    // The same for a body routed as it came (CTaskSocket::SendFrame).
    bool SendFrameTo(Connection& target, std::string_view body);
    // After a document or frame joined the queue: false, with the connection closed, when
    // the queue is over the limits.
    bool WithinLimits(Connection& target);
    void SendNotice(Connection& to, const std::string& text);
    // Forgets the documents the socket has written (or dropped) since the last look.
    static void TrimQueued(Connection& c);
    void SendUsersDocuments();
    void NoteUsersChanged();
    // How long the next users documents must still wait; zero or less when they are due.
    std::chrono::steady_clock::duration UsersPauseLeft() const;
    // The list as `r` may see it: names its permission entry denies left out.
    ProtocolDocument FilteredUsers(Connection& r, const PermissionEntry& entry) const;
    // Sends a users document, in the place of the one still waiting in the queue if any.
    // Gives the bytes it adds to the queue.
    std::size_t SendUsers(Connection& r, ProtocolDocument document);
    Connection* Find(CTaskSocket& socket);
    const PermissionEntry& EntryOf(Connection& c);
    Connection* FindByName(std::string_view name);
    void SetName(Connection& c, const std::string& name);
    std::string NewNoticeId();
    // Names that left or were given up lately: receipts addressed to them are still on
    // their way for a while (as long as a connection may stay silent).
    void NoteDeparture(const std::string& name);
    bool LeftRecently(std::string_view name) const;
    // The bytes the upgrade download hands out; null when they cannot be read.
    std::shared_ptr<const std::string> ExecutableBytes();

    const IClock& m_clock;
    std::function<bool(std::string&)> m_readExecutable;
    std::weak_ptr<const std::string> m_executable; // held by the downloads under way
    CPermissions m_permissions;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::unordered_map<CTaskSocket*, Connection*> m_bySocket;
    // Current name -> connection, in any letter case; names are unique among the connections.
    std::unordered_map<std::string, Connection*, NameCaseHash, NameCaseEqual> m_names;
    double m_usersBytesPerSecond = kDefaultUsersBytesPerSecond;
    bool m_usersChanged = false;
    // The first change not yet told and the latest, and whether that came alone (see
    // kUsersQuiet).
    std::chrono::steady_clock::time_point m_usersFirstChangeAt;
    std::chrono::steady_clock::time_point m_usersChangedAt;
    bool m_usersChangeAlone = false;
    // When the last users documents went out and their bytes (see kDefaultUsersBytesPerSecond).
    // Real time: the pause spares the network and the clients, whatever clock the rest of
    // the server keeps.
    std::chrono::steady_clock::time_point m_usersSentAt;
    std::size_t m_usersSentBytes = 0;
    int m_idCounter = 0;
    // Name (in any letter case) -> tick count of its departure; at most kDepartedLimit entries.
    static constexpr std::size_t kDepartedLimit = 16384;
    std::unordered_map<std::string, std::uint32_t, NameCaseHash, NameCaseEqual> m_departed;
    // Counts the messages routed to named users, so that a recipient named twice in one
    // message is recognised without a search.
    std::uint64_t m_routing = 0;
    // The recipients of the message being routed (kept for its storage).
    std::vector<Connection*> m_targets;
    int m_nesting = 0;
    std::vector<CTaskSocket*> m_corked; // held until ReleaseHeld
    bool m_releaseScheduled = false;
    std::size_t m_outgoingLimit = kDefaultOutgoingLimit;
    std::size_t m_outgoingBytes = kDefaultOutgoingBytes;
};
