#pragma once
// One connection of the client/server mode: a non-blocking stream socket on the Qt event
// loop that writes queued documents in order (partial writes included), reads at most
// 16,384 bytes per notification, turns the bytes into documents and tells its owner.
#include "net/Frame.h"
#include "net/ProtocolDocument.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CTaskSocket;
class IBusyWait;
class IClock;
class QSocketNotifier;

// What a connection tells the object that owns it. The owner may close the connection
// from inside these calls; deleting it there is allowed too (deleteLater is kinder).
class ITaskSocketOwner
{
public:
    virtual ~ITaskSocketOwner() = default;
    // A document has been appended to the incoming queue.
    virtual void OnDocumentArrived(CTaskSocket& socket) = 0;
    // The connection was closed, by either side, after an error or on request.
    virtual void OnConnectionClosed(CTaskSocket& socket) = 0;
    // A document queued without waiting could not be written; it has left the queue.
    virtual void OnSendFailed(CTaskSocket& socket, const ProtocolDocument& document) = 0;
    // A message or receipt in this program's own form came in, on a connection that routes
    // frames (CTaskSocket::RouteFrames). The views hold during the call only.
    virtual void OnFrameArrived(CTaskSocket& socket, const RoutedFrame& frame,
                                std::string_view body)
    {
        (void)socket;
        (void)frame;
        (void)body;
    }
    // An HTTP GET request came in (the upgrade service answers it).
    virtual void OnHttpRequest(CTaskSocket& socket, const HttpRequest& request)
    {
        (void)socket;
        (void)request;
    }
};

// A connection's queue of documents, first in first out. A document is larger than a
// standard deque's block, so a deque would allocate for every document queued; this
// keeps its storage and reuses it.
class CDocumentQueue
{
public:
    using iterator = std::vector<ProtocolDocument>::iterator;

    bool empty() const { return m_head == m_items.size(); }
    std::size_t size() const { return m_items.size() - m_head; }
    ProtocolDocument& front() { return m_items[m_head]; }
    ProtocolDocument& back() { return m_items.back(); }
    iterator begin() { return m_items.begin() + static_cast<std::ptrdiff_t>(m_head); }
    iterator end() { return m_items.end(); }
    void push_back(ProtocolDocument&& document) { m_items.push_back(std::move(document)); }
    // A fresh document at the back, to be filled in place.
    ProtocolDocument& emplace_back() { return m_items.emplace_back(); }
    void pop_back()
    {
        m_items.pop_back();
        if (m_head == m_items.size()) {
            m_items.clear();
            m_head = 0;
        }
    }
    void pop_front()
    {
        if (++m_head == m_items.size()) {
            // Drained: keep the storage a busy connection needs, not what a backlog took.
            if (m_items.capacity() > kKeptCapacity)
                std::vector<ProtocolDocument>().swap(m_items);
            else
                m_items.clear();
            m_head = 0;
        } else if (m_head >= 64 && m_head * 2 >= m_items.size()) {
            // A long queue that drains slowly: let go of the documents already done.
            m_items.erase(m_items.begin(), begin());
            m_head = 0;
        }
    }
    void erase(iterator it)
    {
        if (it == begin())
            pop_front();
        else
            m_items.erase(it);
    }

private:
    static constexpr std::size_t kKeptCapacity = 256;
    std::vector<ProtocolDocument> m_items;
    std::size_t m_head = 0;
};

class CTaskSocket : public QObject, private IFrameSink
{
public:
    enum class ConnectState
    {
        None, // no connect started, or still under way
        Connected,
        Failed,
    };

    static constexpr std::size_t kReadSize = 16384;

    CTaskSocket(ITaskSocketOwner* owner, const IClock& clock, QObject* parent = nullptr);
    ~CTaskSocket() override;
    CTaskSocket(const CTaskSocket&) = delete;
    CTaskSocket& operator=(const CTaskSocket&) = delete;

    void SetOwner(ITaskSocketOwner* owner) { m_owner = owner; }

    // Client side. Create makes the socket; on failure `systemText` is the system's reason.
    bool Create(std::string& systemText);
    // Starts connecting to host (name or address) and port. Returns false with the
    // system's reason when it fails at once; otherwise true, and the result is
    // GetConnectState() once it is known (at once, or at a later notification).
    bool StartConnect(const std::string& host, std::uint16_t port, std::string& systemText);
    ConnectState GetConnectState() const { return m_connectState; }
    const std::string& ConnectErrorText() const { return m_connectError; }
    // Create + StartConnect + waiting with `busy` until the connect is decided. On failure
    // `error` is "Zib Tam could not connect to the server.\n\n" with the reason ("The socket
    // could not be created.\n\n" with it when the socket cannot be made), or empty when the
    // wait was stopped. A failed connect leaves the socket closed without telling the owner.
    bool Connect(const std::string& host, std::uint16_t port, IBusyWait& busy, std::string& error);

    // Server side: takes over a connected socket (made non-blocking here), or accepts the
    // next pending client of a listening socket.
    bool Adopt(int descriptor);
    bool Accept(int listeningDescriptor);

    // Queues the document and writes the queue in order. Without `busy` a write that would
    // block is finished later from the writable notification; with it, the wait step runs
    // until the socket takes more. While a document is half written Cancel is disabled,
    // unless `keepCancel` (the log-on exchange). Stopping drops a document nothing of which
    // was written and goes on with the next; a half-written one closes the connection and
    // gives false. Other write errors: "Zib Tam could not send the message.\n\n" with the
    // system's text, the connection is closed, false.
    bool SendDocument(ProtocolDocument&& document, IBusyWait* busy, bool keepCancel,
                      std::string& error);
    bool SendDocument(const ProtocolDocument& document, IBusyWait* busy, bool keepCancel,
                      std::string& error)
    {
        return SendDocument(ProtocolDocument(document), busy, keepCancel, error);
    }

    // Server side: received messages in this program's own form keep their frame, so that
    // forwarding them costs no writing (ProtocolDocument::WrittenFrame).
    void KeepWrittenForms(bool keep) { m_keepWrittenForms = keep; }
    // Server side: messages and receipts in this program's own form are not read into
    // documents at all but handed to the owner's OnFrameArrived as they stand, in their
    // place among the other arrivals. The owner must not wait for the network in there.
    void RouteFrames(bool route) { m_routeFrames = route; }
    // Queues a body received in this program's own form to go out as it came, in the frame
    // this program writes for it (see SendDocument without waiting). Frames sent one after
    // another share one entry of the queue as long as nothing of it has been written;
    // `appended` tells whether this one joined the last entry. A write error reports the
    // message of the frame that failed. False when the connection is closed.
    bool SendFrame(std::string_view body, bool& appended);

    // Server side: while held, documents sent without waiting only join the queue;
    // ReleaseWrites (the outermost one) writes the queue, several documents per system
    // call. A server routing what one read brought in sends each recipient one segment.
    // A write error found then is reported as OnSendFailed, like any write without waiting.
    void HoldWrites() { ++m_held; }
    bool WritesHeld() const { return m_held > 0; }
    void ReleaseWrites();

    // Incoming documents, oldest first. Owners take them out.
    CDocumentQueue& Incoming() { return m_incoming; }
    bool TakeDocument(ProtocolDocument& document);
    // The first document whose type is in `typeMask` (TypeBit values); others stay queued.
    bool TakeFirstOf(unsigned typeMask, ProtocolDocument& document);
    std::size_t OutgoingCount() const { return m_outgoing.size(); }
    // Puts `document` in the place of the last queued document of its type nothing of which
    // has been written yet (one that a newer one makes worthless, like a users document).
    // Returns that place, counted from the front of the queue; npos when there is none, and
    // then `document` is left as it was.
    std::size_t ReplaceUnsent(ProtocolDocument& document);

    // Marks the connection closed and tells the owner (once).
    void Close();
    bool IsClosed() const { return m_closed; }
    int Descriptor() const { return m_fd; }

    // Tick counts (milliseconds, wrapping) of the last read and last write.
    std::uint32_t LastReadTick() const { return m_lastRead; }
    std::uint32_t LastWriteTick() const { return m_lastWrite; }
    bool HasRead() const { return m_hasRead; }
    bool HasWritten() const { return m_hasWritten; }
    // The last "Server" header received, empty before the first.
    const std::string& ServerHeader() const { return m_parser.ServerHeader(); }

    // The system's text for an error number.
    static std::string SystemErrorText(int error);

private:
    enum class WriteResult
    {
        Done,       // the queue is empty
        WouldBlock, // the socket takes no more for now
        Failed,     // a write error; m_writeError holds it
    };

    void Attach(int descriptor);
    void OnReadable();
    void OnWritable();
    void FinishConnect();
    WriteResult WriteFront();
    void WantWritable(bool want);
    // IFrameSink: a body or a request completed during a read.
    void OnFrameBody(std::string_view body) override;
    void OnHttpRequest(const HttpRequest& request) override;

    ITaskSocketOwner* m_owner;
    const IClock& m_clock;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    CFrameParser m_parser;
    CDocumentQueue m_outgoing;
    CDocumentQueue m_incoming;
    // What one read brought, in order: documents (already queued) and requests, reported
    // to the owner only after the parser is done with the bytes.
    struct Arrival
    {
        enum Kind
        {
            kDocument,
            kRequest,
            kFrame,
        } What = kDocument;
        HttpRequest Request;
        RoutedFrame Routed;
        std::string_view Body; // of a frame: in the parser's buffer, kept until the next read
    };
    // After a write error: the document to report for the front of the queue.
    ProtocolDocument TakeFailedFront();
    // Writes without waiting, as SendDocument does when not held; false after a write error
    // (the connection is then closed).
    bool WriteWithoutWaiting();
    std::vector<Arrival> m_arrivals;
    std::uint32_t m_lastRead = 0;
    std::uint32_t m_lastWrite = 0;
    bool m_hasRead = false;
    bool m_hasWritten = false;
    bool m_closed = false;
    ConnectState m_connectState = ConnectState::None;
    bool m_connecting = false;
    std::string m_connectError;
    int m_writers = 0;       // SendDocument calls writing the queue further up the stack
    int m_held = 0;          // HoldWrites without ReleaseWrites yet
    bool m_writable = false; // the writable notification came while a writer waited
    int m_writeError = 0;
    bool m_keepWrittenForms = false;
    bool m_routeFrames = false;
};
