#include "net/TaskSocket.h"

#include "common/LastErrorText.h"
#include "net/BusyWait.h"
#include "platform/Clock.h"

#include <QPointer>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

const char kSendFailed[] = "Zib Tam could not send the message.\n\n";
const char kConnectFailed[] = "Zib Tam could not connect to the server.\n\n";
const char kCreateFailed[] = "The socket could not be created.\n\n";

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// The first frame of a run of routed frames, as this program writes them: its header ends
// at the first blank line and gives the length of the body after it. Size 0: none.
struct NextFrameInRun
{
    std::size_t Size = 0;
    std::string_view Body;
};

NextFrameInRun SplitRun(std::string_view run)
{
    constexpr std::string_view kLength = "Content-Length: ";
    std::size_t end = run.find("\n\n");
    std::size_t at = run.find(kLength);
    if (end == std::string_view::npos || at == std::string_view::npos || at > end)
        return {};
    std::size_t length = 0;
    for (std::size_t i = at + kLength.size(); i < end && run[i] >= '0' && run[i] <= '9'; ++i)
        length = length * 10 + static_cast<std::size_t>(run[i] - '0');
    if (end + 2 + length > run.size())
        return {};
    return {end + 2 + length, run.substr(end + 2, length)};
}

bool MakeNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

CTaskSocket::CTaskSocket(ITaskSocketOwner* owner, const IClock& clock, QObject* parent)
    : QObject(parent), m_owner(owner), m_clock(clock)
{}

CTaskSocket::~CTaskSocket()
{
    // Notifiers go before the descriptor they watch.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CTaskSocket::SystemErrorText(int error)
{
    return ::SystemErrorText(error);
}

void CTaskSocket::Attach(int descriptor)
{
    m_fd = descriptor;
    int on = 1;
    // Frames are small and written whole; waiting to fill segments only adds latency.
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_readNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] { OnWritable(); });
}

bool CTaskSocket::Create(std::string& systemText)
{
    if (m_fd >= 0 || m_closed) {
        systemText = SystemErrorText(EISCONN);
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        systemText = SystemErrorText(errno);
        return false;
    }
    Attach(fd);
    m_readNotifier->setEnabled(false); // until connected
    return true;
}

bool CTaskSocket::StartConnect(const std::string& host, std::uint16_t port, std::string& systemText)
{
    if (m_fd < 0 || m_closed) {
        systemText = SystemErrorText(EBADF);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        systemText = rc == EAI_SYSTEM ? SystemErrorText(errno) : gai_strerror(rc);
        return false;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);

    m_connectError.clear();
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        m_connectState = ConnectState::Connected;
        m_readNotifier->setEnabled(true);
        return true;
    }
    if (errno != EINPROGRESS) {
        systemText = SystemErrorText(errno);
        m_connectState = ConnectState::Failed;
        m_connectError = systemText;
        return false;
    }
    m_connectState = ConnectState::None;
    m_connecting = true;
    WantWritable(true);
    return true;
}

void CTaskSocket::FinishConnect()
{
    m_connecting = false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0) {
        m_connectState = ConnectState::Connected;
        m_readNotifier->setEnabled(true);
        WantWritable(!m_outgoing.empty());
    } else {
        m_connectState = ConnectState::Failed;
        m_connectError = SystemErrorText(error);
        WantWritable(false);
    }
}

bool CTaskSocket::Connect(const std::string& host, std::uint16_t port, IBusyWait& busy,
                          std::string& error)
{
    error.clear();
    std::string text;
    if (!Create(text)) {
        error = kCreateFailed + text;
        return false;
    }
    QPointer<CTaskSocket> self(this);
    if (!StartConnect(host, port, text)) {
        error = kConnectFailed + text;
        m_readNotifier.reset();
        m_writeNotifier.reset();
        ::close(m_fd);
        m_fd = -1;
        m_closed = true;
        return false;
    }
    while (m_connectState == ConnectState::None && !m_closed) {
        if (busy.WaitStep())
            return false;
        if (!self)
            return false;
    }
    if (m_connectState != ConnectState::Connected) {
        error = kConnectFailed + m_connectError;
        m_readNotifier.reset();
        m_writeNotifier.reset();
        ::close(m_fd);
        m_fd = -1;
        m_closed = true;
        return false;
    }
    return true;
}

bool CTaskSocket::Adopt(int descriptor)
{
    if (m_fd >= 0 || m_closed || descriptor < 0 || !MakeNonBlocking(descriptor))
        return false;
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    Attach(descriptor);
    m_connectState = ConnectState::Connected;
    return true;
}

bool CTaskSocket::Accept(int listeningDescriptor)
{
    if (m_fd >= 0 || m_closed)
        return false;
    int fd = ::accept4(listeningDescriptor, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    Attach(fd);
    m_connectState = ConnectState::Connected;
    return true;
}

void CTaskSocket::WantWritable(bool want)
{
    if (m_writeNotifier && m_writeNotifier->isEnabled() != want)
        m_writeNotifier->setEnabled(want);
}

void CTaskSocket::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_connecting = false;
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_owner)
        m_owner->OnConnectionClosed(*this);
}

bool CTaskSocket::TakeDocument(ProtocolDocument& document)
{
    if (m_incoming.empty())
        return false;
    document = std::move(m_incoming.front());
    m_incoming.pop_front();
    return true;
}

bool CTaskSocket::TakeFirstOf(unsigned typeMask, ProtocolDocument& document)
{
    for (auto it = m_incoming.begin(); it != m_incoming.end(); ++it) {
        if (static_cast<unsigned>(it->Type) & typeMask) {
            document = std::move(*it);
            m_incoming.erase(it);
            return true;
        }
    }
    return false;
}

std::size_t CTaskSocket::ReplaceUnsent(ProtocolDocument& document)
{
    std::size_t place = m_outgoing.size();
    for (auto it = m_outgoing.end(); it != m_outgoing.begin();) {
        --it;
        --place;
        if (it->Type != document.Type)
            continue;
        if (it->Sent > 0)
            break; // under way, and everything after it is newer
        document.Frame.clear();
        document.Sent = 0;
        *it = std::move(document);
        return place;
    }
    return std::string::npos;
}

CTaskSocket::WriteResult CTaskSocket::WriteFront()
{
    // Up to this many pieces (a document's frame, a download's shared bytes) go out in one
    // system call.
    constexpr std::size_t kGather = 64;
    while (!m_outgoing.empty()) {
        iovec parts[kGather];
        std::size_t count = 0;
        // The documents whose rest is in `parts`: only these can be done after the call.
        std::size_t gathered = 0;
        for (auto it = m_outgoing.begin(); it != m_outgoing.end() && count + 2 <= kGather;
             ++it, ++gathered) {
            if (it->Frame.empty() && it->Sent == 0) {
                // Only a file answer is stamped with the time; the clock is not free.
                long long now =
                    it->Type == DocumentType::File ? static_cast<long long>(m_clock.Now()) : 0;
                it->Frame = TakeDocumentFrame(*it, now);
            }
            if (it->Sent < it->Frame.size()) {
                parts[count].iov_base = it->Frame.data() + it->Sent;
                parts[count].iov_len = it->Frame.size() - it->Sent;
                ++count;
            }
            // The tail is shared and never written to; writing only reads from it.
            std::string_view tail = SharedTail(*it);
            std::size_t tailSent = it->Sent > it->Frame.size() ? it->Sent - it->Frame.size() : 0;
            if (tailSent < tail.size()) {
                parts[count].iov_base = const_cast<char*>(tail.data() + tailSent);
                parts[count].iov_len = tail.size() - tailSent;
                ++count;
            }
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (WouldBlock(errno))
                return WriteResult::WouldBlock;
            m_writeError = errno;
            return WriteResult::Failed;
        }
        if (n > 0) {
            m_lastWrite = m_clock.TickCount();
            m_hasWritten = true;
        }
        auto written = static_cast<std::size_t>(n);
        for (; gathered > 0; --gathered) {
            ProtocolDocument& front = m_outgoing.front();
            std::size_t rest = front.Frame.size() + SharedTail(front).size() - front.Sent;
            if (written < rest) {
                front.Sent += written;
                break;
            }
            written -= rest;
            m_outgoing.pop_front();
        }
    }
    return WriteResult::Done;
}

ProtocolDocument CTaskSocket::TakeFailedFront()
{
    ProtocolDocument front = std::move(m_outgoing.front());
    m_outgoing.pop_front();
    if (front.RoutedFrames == 0)
        return front;
    // A run of routed frames: the one the write stopped in is the message that failed.
    std::string_view run(front.Frame);
    std::size_t at = 0;
    for (;;) {
        NextFrameInRun next = SplitRun(run.substr(at));
        if (next.Size == 0)
            return ProtocolDocument();
        if (at + next.Size > front.Sent || at + next.Size == run.size()) {
            ProtocolDocument failed;
            std::string error;
            ReadProtocolDocument(next.Body, failed, error);
            return failed;
        }
        at += next.Size;
    }
}

bool CTaskSocket::SendFrame(std::string_view body, bool& appended)
{
    appended = false;
    if (m_closed || m_fd < 0)
        return false;
    char buffer[kFrameHeaderSize];
    std::string_view header = FrameHeader(body.size(), buffer);
    if (!m_outgoing.empty() && m_outgoing.back().RoutedFrames > 0 && m_outgoing.back().Sent == 0) {
        appended = true;
    } else {
        ProtocolDocument& run = m_outgoing.emplace_back();
        run.Frame.reserve(header.size() + body.size());
    }
    ProtocolDocument& run = m_outgoing.back();
    run.Frame += header;
    run.Frame += body;
    ++run.RoutedFrames;
    if (m_writers > 0 || m_connecting || m_held > 0)
        return true; // written by the writer further up, the end of the connect or the release
    return WriteWithoutWaiting();
}

bool CTaskSocket::WriteWithoutWaiting()
{
    WriteResult result = WriteFront();
    if (result == WriteResult::WouldBlock) {
        WantWritable(true);
        return true;
    }
    WantWritable(false);
    if (result == WriteResult::Failed) {
        Close();
        return false;
    }
    return true;
}

void CTaskSocket::ReleaseWrites()
{
    if (m_held == 0 || --m_held > 0)
        return;
    if (m_closed || m_fd < 0 || m_connecting || m_writers > 0 || m_outgoing.empty())
        return;
    WriteResult result = WriteFront();
    if (result == WriteResult::WouldBlock) {
        WantWritable(true);
        return;
    }
    WantWritable(false);
    if (result == WriteResult::Failed) {
        ProtocolDocument failed = TakeFailedFront();
        if (m_owner)
            m_owner->OnSendFailed(*this, failed);
    }
}

bool CTaskSocket::SendDocument(ProtocolDocument&& document, IBusyWait* busy, bool keepCancel,
                               std::string& error)
{
    if (m_closed || m_fd < 0) {
        error = kSendFailed + SystemErrorText(ENOTCONN);
        return false;
    }
    m_outgoing.push_back(std::move(document));
    m_outgoing.back().Frame.clear();
    m_outgoing.back().Sent = 0;
    if (m_writers > 0 || m_connecting)
        return true; // the writer further up (or the end of the connect) writes the queue
    if (m_held > 0 && !busy)
        return true; // ReleaseWrites writes the queue

    enum class Outcome
    {
        Written, // everything written, or left to the writable notification
        Failed,  // a write error; close
        Stopped, // stopped with a half-written document; close
        Closed,  // the connection closed while we waited
        Deleted, // ... and its owner deleted it
    };
    QPointer<CTaskSocket> self(this);
    ++m_writers;
    bool cancelDisabled = false;
    Outcome outcome = Outcome::Written;
    for (;;) {
        WriteResult result = WriteFront();
        if (result == WriteResult::Done) {
            WantWritable(false);
            break;
        }
        if (result == WriteResult::Failed) {
            outcome = Outcome::Failed;
            break;
        }
        if (!busy) {
            WantWritable(true); // the writable notification finishes the queue
            break;
        }
        if (m_outgoing.front().Sent > 0 && !keepCancel && !cancelDisabled) {
            busy->EnableCancel(false);
            cancelDisabled = true;
        }
        m_writable = false;
        WantWritable(true);
        bool stop = false;
        while (!m_writable && !stop) {
            stop = busy->WaitStep();
            if (!self) {
                outcome = Outcome::Deleted;
                break;
            }
            if (m_closed) {
                outcome = Outcome::Closed;
                break;
            }
        }
        if (outcome != Outcome::Written)
            break;
        if (!stop)
            continue;
        if (m_outgoing.front().Sent > 0) {
            outcome = Outcome::Stopped; // half a frame is out: the stream cannot recover
            break;
        }
        m_outgoing.pop_front(); // nothing of it went out: drop it, go on with the rest
    }

    if (cancelDisabled)
        busy->EnableCancel(true);
    if (outcome == Outcome::Deleted) {
        error = kSendFailed + SystemErrorText(ENOTCONN);
        return false;
    }
    --m_writers;
    switch (outcome) {
    case Outcome::Written:
        return true;
    case Outcome::Failed:
        error = kSendFailed + SystemErrorText(m_writeError);
        Close();
        return false;
    case Outcome::Stopped:
        Close();
        return false;
    default:
        error = kSendFailed + SystemErrorText(ENOTCONN);
        return false;
    }
}

void CTaskSocket::OnWritable()
{
    if (m_closed)
        return;
    if (m_connecting) {
        FinishConnect();
        if (m_connectState != ConnectState::Connected || m_outgoing.empty() || m_writers > 0)
            return;
    }
    if (m_writers > 0) {
        // A SendDocument further up is waiting for exactly this.
        m_writable = true;
        WantWritable(false);
        return;
    }
    // Write the rest of the queue, not only its first document: nothing else would wake
    // the later ones up.
    WriteResult result = WriteFront();
    if (result == WriteResult::WouldBlock)
        return;
    WantWritable(false);
    if (result == WriteResult::Failed) {
        ProtocolDocument failed = TakeFailedFront();
        if (m_owner)
            m_owner->OnSendFailed(*this, failed);
    }
}

void CTaskSocket::OnReadable()
{
    if (m_closed)
        return;
    QPointer<CTaskSocket> self(this);
    char* area = m_parser.WriteArea(kReadSize);
    ssize_t n = ::recv(m_fd, area, kReadSize, 0);
    if (n < 0) {
        if (errno == EINTR || WouldBlock(errno))
            return;
        Close();
        return;
    }
    if (n == 0) {
        Close(); // orderly end of stream
        return;
    }
    m_lastRead = m_clock.TickCount();
    m_hasRead = true;

    m_arrivals.clear();
    bool ok = m_parser.Commit(static_cast<std::size_t>(n), *this);
    std::vector<Arrival> arrivals = std::move(m_arrivals);
    m_arrivals.clear();

    // The owner hears about the documents only now, so that whatever it does (even wait
    // for the network, which reads again) never finds the parser in the middle of a read.
    for (const Arrival& arrival : arrivals) {
        if (!m_owner)
            break;
        if (arrival.What == Arrival::kRequest)
            m_owner->OnHttpRequest(*this, arrival.Request);
        else if (arrival.What == Arrival::kFrame)
            m_owner->OnFrameArrived(*this, arrival.Routed, arrival.Body);
        else
            m_owner->OnDocumentArrived(*this);
        if (!self || m_closed)
            return;
    }
    // Its storage serves the next read.
    if (m_arrivals.capacity() == 0) {
        arrivals.clear();
        m_arrivals.swap(arrivals);
    }
    if (!ok)
        Close(); // not our protocol: a bad length or a header without end
}

void CTaskSocket::OnFrameBody(std::string_view body)
{
    if (m_routeFrames) {
        Arrival arrival;
        if (ReadRoutedFrame(body, arrival.Routed)) {
            arrival.What = Arrival::kFrame;
            arrival.Body = body;
            m_arrivals.push_back(arrival);
            return;
        }
    }
    // Read in its place in the queue: a document is large, and moving it costs.
    std::string error;
    if (!ReadProtocolDocument(body, m_incoming.emplace_back(), error, m_keepWrittenForms)) {
        m_incoming.pop_back(); // a body that does not parse is dropped
        return;
    }
    m_arrivals.push_back(Arrival{});
}

void CTaskSocket::OnHttpRequest(const HttpRequest& request)
{
    Arrival arrival;
    arrival.What = Arrival::kRequest;
    arrival.Request = request;
    m_arrivals.push_back(std::move(arrival));
}
