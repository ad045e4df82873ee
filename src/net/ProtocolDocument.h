#pragma once
// One unit of the client/server protocol, as kept in a connection's queues: a chat
// message, a log-on exchange, a user list, a keep-alive, a delivery receipt, or one of the
// three HTTP answers of the upgrade service.
#include "common/ChatMessage.h"
#include "net/Frame.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class DocumentType : unsigned
{
    Unknown = 0,
    Message = 1,
    LoginRequest = 2,
    LoginResponse = 4,
    Users = 8,
    KeepAlive = 16,
    Redirect = 32,
    File = 64,
    NotFound = 128,
    MessageReceipt = 256,
};

// For masks of several types ("a login-response or a users document").
constexpr unsigned TypeBit(DocumentType type)
{
    return static_cast<unsigned>(type);
}

// One line of a users document: the previous and the current name of a connection.
struct UserEntry
{
    std::string OldName;
    std::string Name;

    bool operator==(const UserEntry&) const = default;
};

struct ProtocolDocument
{
    DocumentType Type = DocumentType::Unknown;

    ChatMessage Message;          // Message
    std::string UserName;         // LoginRequest
    bool Result = false;          // LoginResponse
    std::string Error;            // LoginResponse
    std::vector<UserEntry> Users; // Users
    std::string Location;         // Redirect
    // File: the program's bytes, one copy shared by every download under way.
    std::shared_ptr<const std::string> FileBytes;
    // Any other type: its complete frame, made once for every connection it goes to (the
    // users document the server tells everybody) and written from there. See ShareFrame.
    std::shared_ptr<const std::string> SharedFrame;
    std::string ReceiptId;        // MessageReceipt: the id of the confirmed message,
    std::string ReceiptSender;    //   who sent it,
    std::string ReceiptRecipient; //   and who confirms it.

    // Outgoing side: the serialized frame (made when the writing starts) and how much of
    // it has gone out.
    std::string Frame;
    std::size_t Sent = 0;

    // A message or receipt read in this program's own form, when the reader was asked to
    // keep it: the frame this program writes for it, and where the sender's name stands in
    // it. Sent instead of writing the document again as long as the sender is unchanged
    // (a server forwarding a message sets the sender to the same name). Whoever changes
    // any other part of the document clears it.
    std::string WrittenFrame;
    std::size_t WrittenSenderAt = 0;
    std::size_t WrittenSenderLength = 0;

    // Outgoing side, a server's run of frames routed as they came (their bytes in Frame, one
    // after another): how many. Zero for every other document.
    std::size_t RoutedFrames = 0;

    static ProtocolDocument MakeMessage(const ChatMessage& message);
    static ProtocolDocument MakeLoginRequest(const std::string& userName);
    static ProtocolDocument MakeLoginResponse(bool result, const std::string& error);
    static ProtocolDocument MakeUsers(const std::vector<UserEntry>& users);
    static ProtocolDocument MakeKeepAlive();
    static ProtocolDocument MakeReceipt(const std::string& id, const std::string& sender,
                                        const std::string& recipient);
    static ProtocolDocument MakeRedirect(const std::string& location);
    static ProtocolDocument MakeFile(std::shared_ptr<const std::string> bytes);
    static ProtocolDocument MakeFile(std::string bytes);
    static ProtocolDocument MakeNotFound();
};

// The document text as written, before its line ends are converted (empty for a
// keep-alive and for the HTTP answers).
std::string FormatDocumentText(const ProtocolDocument& document);

// The complete bytes that go on the wire for a document. `now` is the calendar time
// stamped into a file answer's "Last-Modified" header.
std::string FormatDocumentFrame(const ProtocolDocument& document, long long now = 0,
                                int version = kProtocolVersion);
// The same, but a kept written frame is moved out rather than copied, and a file answer
// gives its head only: the file's bytes follow from the shared copy (SharedTail).
std::string TakeDocumentFrame(ProtocolDocument& document, long long now = 0);
// What goes on the wire after the document's own frame: a file answer's shared bytes, or
// the whole of a shared frame.
inline std::string_view SharedTail(const ProtocolDocument& document)
{
    const std::shared_ptr<const std::string>& shared =
        document.Type == DocumentType::File ? document.FileBytes : document.SharedFrame;
    if (!shared)
        return {};
    return *shared;
}
// Formats the document's frame once into SharedFrame and lets go of the fields it came
// from, so that copies of the document for many connections share one frame.
void ShareFrame(ProtocolDocument& document);

// The same bytes for the documents of the chat protocol, made the long way (text, converted
// copy, frame). The reference the fast formatting is checked against.
std::string FormatDocumentFrameSlowly(const ProtocolDocument& document,
                                      int version = kProtocolVersion);

// Reads a received body (line ends already LF) into a document: the root element gives the
// type, an unknown root leaves the type Unknown. False, with the XML reader's error, when
// the body does not parse.
// With `keepWrittenForm`, a message or receipt in this program's own form keeps its frame (see
// ProtocolDocument::WrittenFrame).
bool ReadProtocolDocument(std::string_view body, ProtocolDocument& document, std::string& error,
                          bool keepWrittenForm = false);
// A message or receipt in this program's own form as a server routes it, without reading it
// into a document: what routing needs, as views of the body.
struct RoutedFrame
{
    DocumentType Type = DocumentType::Unknown; // Message or MessageReceipt
    std::string_view Sender;                   // a message's sender, a receipt's message-sender
    bool AllUsers = false;
    std::string_view Recipients; // a message's "<user>name</user>" elements, one after another
};
// False when the body is not a message or receipt exactly as this program writes one (it is
// read into a document then). Whatever it accepts, ReadProtocolDocument reads the same way.
bool ReadRoutedFrame(std::string_view body, RoutedFrame& frame);
// Calls `each(name)` for each name of RoutedFrame::Recipients, in order.
template <typename Each> void ForEachRoutedRecipient(std::string_view recipients, Each each)
{
    constexpr std::string_view open = "<user>";
    constexpr std::string_view close = "</user>";
    while (recipients.starts_with(open)) {
        recipients.remove_prefix(open.size());
        std::size_t end = recipients.find(close);
        if (end == std::string_view::npos)
            return;
        each(recipients.substr(0, end));
        recipients.remove_prefix(end + close.size());
    }
}
// The same with the XML reader for every body: the reference the quick reading of
// messages and receipts is checked against.
bool ReadProtocolDocumentSlowly(std::string_view body, ProtocolDocument& document,
                                std::string& error);
