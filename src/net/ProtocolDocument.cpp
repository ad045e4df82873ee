#include "net/ProtocolDocument.h"

#include "common/MessageElement.h"
#include "xml/XmlReader.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

const char kProlog[] = "<?xml version=\"1.0\"?>\n";
constexpr std::string_view kReceiptStart = "<?xml version=\"1.0\"?>\n<message-receipt>";

std::string Escaped(std::string text)
{
    EscapeXml(text);
    return text;
}

// "%a, %d %b %Y %H:%M:%S GMT" in English whatever the locale.
std::string HttpDate(long long now)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t when = static_cast<std::time_t>(now);
    std::tm gmt{};
    gmtime_r(&when, &gmt);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", days[gmt.tm_wday % 7],
                  gmt.tm_mday, months[gmt.tm_mon % 12], gmt.tm_year + 1900, gmt.tm_hour, gmt.tm_min,
                  gmt.tm_sec);
    return text;
}

std::string ServerLine(int version)
{
    return "Server: " + ProductToken(version) + "\r\n";
}

// A busy server formats one frame per routed message and per receipt. These write the
// body straight with LF line ends, in one pass and into one reused buffer, where the
// general path (text with CR LF, then a converted copy, then the framed copy) makes three
// strings. The bytes are the same.

bool IsPlainByte(unsigned char byte)
{
    return byte >= 33 && byte <= 126 && byte != '<' && byte != '>' && byte != '&' && byte != '\'' &&
           byte != '"';
}

// `value` as the escaping writes it, with the line ends already converted. In a message's
// text every LF is written as CR LF before the conversion, so there a CR LF becomes two
// line ends; elsewhere it becomes one.
void AppendValue(std::string& out, std::string_view value, bool messageText)
{
    const char* p = value.data();
    const char* end = p + value.size();
    while (p < end) {
        const char* run = p;
        while (p < end && IsPlainByte(static_cast<unsigned char>(*p)))
            ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == end)
            break;
        char c = *p++;
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
            out += '\n';
            if (!messageText && p < end && *p == '\n')
                ++p;
            break;
        default:
            if (IsXmlWhitespace(c)) {
                out += c;
            } else {
                out += "&#";
                out += std::to_string(static_cast<unsigned char>(c));
                out += ';';
            }
            break;
        }
    }
}

void AppendNumberField(std::string& out, std::string_view tag, bool present, int value)
{
    out += "         <";
    out += tag;
    out += '>';
    if (present) {
        char digits[16];
        auto [at, ec] = std::to_chars(digits, digits + sizeof digits, value);
        (void)ec;
        out.append(digits, at);
    }
    out += "</";
    out += tag;
    out += ">\n";
}

void AppendMessageBody(std::string& out, const ChatMessage& message)
{
    out += kProlog;
    out += "   <message>\n      <id>";
    AppendValue(out, message.Id, false);
    out += "</id>\n      <from>";
    AppendValue(out, message.Sender, false);
    out += "</from>\n      <to>";
    if (message.AllUsers) {
        out += "all users";
    } else {
        for (const std::string& name : message.Recipients) {
            out += "<user>";
            AppendValue(out, name, false);
            out += "</user>";
        }
    }
    out += "</to>\n      <time>\n";
    const MessageTime& time = message.Time;
    AppendNumberField(out, "month", time.HasMonth, time.Month);
    AppendNumberField(out, "day", time.HasDay, time.Day);
    AppendNumberField(out, "year", time.HasYear, time.Year);
    AppendNumberField(out, "hour", time.HasHour, time.Hour);
    AppendNumberField(out, "minute", time.HasMinute, time.Minute);
    AppendNumberField(out, "second", time.HasSecond, time.Second);
    out += "      </time>\n      <text>";
    AppendValue(out, message.Text, true);
    out += "</text>\n   </message>\n";
}

void AppendReceiptBody(std::string& out, const ProtocolDocument& document)
{
    out += kProlog;
    out += "<message-receipt>\n  <id>";
    AppendValue(out, document.ReceiptId, false);
    out += "</id>\n  <message-sender>";
    AppendValue(out, document.ReceiptSender, false);
    out += "</message-sender>\n  <message-recipient>";
    AppendValue(out, document.ReceiptRecipient, false);
    out += "</message-recipient>\n</message-receipt>";
}

std::string FormatFastFrame(const ProtocolDocument& document, int version)
{
    thread_local std::string body;
    body.clear();
    if (document.Type == DocumentType::Message)
        AppendMessageBody(body, document.Message);
    else
        AppendReceiptBody(body, document);
    std::string frame = FormatFrame(body, version);
    if (body.capacity() > 64 * 1024)
        std::string().swap(body); // one huge message need not stay in memory
    return frame;
}

// Fills a document from the reader's elements: the root names the type, the children by
// name and depth fill it. Depth 1 is the declaration, 2 the root.
class CDocumentHandler : public IXmlHandler
{
public:
    explicit CDocumentHandler(ProtocolDocument& document) : m_document(document) {}

    void OnStartElement(const XmlElement* stack, int depth) override
    {
        const XmlElement& element = stack[depth - 1];
        if (depth == 2) {
            m_document.Type = RootType(element.Name);
            if (m_document.Type == DocumentType::Message)
                StartMessage(m_document.Message);
            return;
        }
        if (depth < 3)
            return;
        switch (m_document.Type) {
        case DocumentType::Message:
            ReadMessagePart(m_document.Message, stack, depth);
            break;
        case DocumentType::LoginRequest:
            if (depth == 3 && element.Name.Is("username"))
                m_document.UserName = element.Value.ToString();
            break;
        case DocumentType::LoginResponse:
            if (depth == 3 && element.Name.Is("result")) {
                if (element.Value.Is("true"))
                    m_document.Result = true;
                else if (element.Value.Is("false"))
                    m_document.Result = false;
            } else if (depth == 3 && element.Name.Is("error")) {
                m_document.Error = element.Value.ToString();
            }
            break;
        case DocumentType::Users:
            if (depth == 3 && element.Name.Is("user")) {
                m_document.Users.emplace_back();
            } else if (depth == 4 && stack[2].Name.Is("user") && !m_document.Users.empty()) {
                if (element.Name.Is("oldusername"))
                    m_document.Users.back().OldName = element.Value.ToString();
                else if (element.Name.Is("username"))
                    m_document.Users.back().Name = element.Value.ToString();
            }
            break;
        case DocumentType::MessageReceipt:
            if (depth != 3)
                break;
            if (element.Name.Is("id"))
                m_document.ReceiptId = element.Value.ToString();
            else if (element.Name.Is("message-sender"))
                m_document.ReceiptSender = element.Value.ToString();
            else if (element.Name.Is("message-recipient"))
                m_document.ReceiptRecipient = element.Value.ToString();
            break;
        default:
            break;
        }
    }

    void OnEndElement(const XmlElement*, int) override {}

private:
    static DocumentType RootType(const XmlText& name)
    {
        if (name.Is("message"))
            return DocumentType::Message;
        if (name.Is("login-request"))
            return DocumentType::LoginRequest;
        if (name.Is("login-response"))
            return DocumentType::LoginResponse;
        if (name.Is("users"))
            return DocumentType::Users;
        if (name.Is("message-receipt"))
            return DocumentType::MessageReceipt;
        return DocumentType::Unknown;
    }

    // A received message is read as the log reads a logged one; it came from another
    // user's computer and is worth logging.
    static void StartMessage(ChatMessage& message)
    {
        message = ChatMessage();
        message.Loopback = false;
        message.Log = true;
    }
    static void ReadMessagePart(ChatMessage& message, const XmlElement* stack, int depth)
    {
        ReadMessageChild(stack, depth, 2, message);
    }

    ProtocolDocument& m_document;
};

// Reading a message (or a receipt) exactly as this program writes one, without the XML
// reader: every client sends them in that form, and a busy server reads each of them. Anything
// else (escaped characters, other layout, blanks the reader would trim, numbers it would
// read differently) is left to the reader, so the result is always the reader's.
class CCanonicalMessageReader
{
public:
    explicit CCanonicalMessageReader(std::string_view body) : m_rest(body), m_size(body.size()) {}

    // Into `out`, which takes the parts as views of the body: Id, Sender, AllUsers,
    // Recipient (each name in turn), Time and Text.
    template <typename Out> bool Read(Out& out)
    {
        std::string_view value;
        if (!Expect(kProlog) || !Expect("   <message>\n      <id>") || !Value<false>(value) ||
            !Expect("</id>\n      <from>"))
            return false;
        out.Id(value);
        m_senderAt = m_size - m_rest.size();
        if (!Value<false>(value) || !Expect("</from>\n      <to>"))
            return false;
        out.Sender(value);
        if (Expect("all users</to>")) {
            out.AllUsers();
        } else {
            while (Expect("<user>")) {
                if (!Value<false>(value) || value.empty() || !Expect("</user>"))
                    return false;
                out.Recipient(value);
            }
            if (!Expect("</to>"))
                return false;
        }
        MessageTime time;
        if (!Expect("\n      <time>\n") ||
            !Number("         <month>", "</month>\n", time.Month, time.HasMonth) ||
            !Number("         <day>", "</day>\n", time.Day, time.HasDay) ||
            !Number("         <year>", "</year>\n", time.Year, time.HasYear) ||
            !Number("         <hour>", "</hour>\n", time.Hour, time.HasHour) ||
            !Number("         <minute>", "</minute>\n", time.Minute, time.HasMinute) ||
            !Number("         <second>", "</second>\n", time.Second, time.HasSecond) ||
            !Expect("      </time>\n      <text>") || !Value<true>(value) ||
            !Expect("</text>\n   </message>\n") || !m_rest.empty())
            return false;
        out.Time(time);
        out.Text(value);
        return true;
    }

    // A receipt as this program writes it; its values as plain as a message's.
    bool ReadReceipt(std::string_view& id, std::string_view& sender, std::string_view& recipient)
    {
        if (!Expect(kProlog) || !Expect("<message-receipt>\n  <id>") || !Value<false>(id) ||
            !Expect("</id>\n  <message-sender>"))
            return false;
        m_senderAt = m_size - m_rest.size();
        return Value<false>(sender) && Expect("</message-sender>\n  <message-recipient>") &&
               Value<false>(recipient) && Expect("</message-recipient>\n</message-receipt>") &&
               m_rest.empty();
    }

    // Where the sender's name stands in the body.
    std::size_t SenderAt() const { return m_senderAt; }

private:
    // Every routed message passes here; with the length known, the comparison is a few
    // instructions rather than a call.
    template <std::size_t N> [[gnu::always_inline]] bool Expect(const char (&text)[N])
    {
        constexpr std::size_t size = N - 1;
        if (m_rest.size() < size)
            return false;
        // Eight bytes at a time; the library's comparison is a call that costs more than
        // the comparing for these lengths.
        const char* at = m_rest.data();
        std::size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, at + i, 8);
            std::memcpy(&b, text + i, 8);
            if (a != b)
                return false;
        }
        for (; i < size; ++i) {
            if (at[i] != text[i])
                return false;
        }
        m_rest.remove_prefix(size);
        return true;
    }

    // What a byte may be in a value: printable bytes that need no escaping; in a text also
    // line feeds and tabs.
    enum ByteClass : unsigned char
    {
        kPlain,
        kEnd, // '<': the value ends
        kTextOnly,
        kNever,
    };
    static constexpr std::array<ByteClass, 256> kClasses = [] {
        std::array<ByteClass, 256> classes{};
        for (int byte = 0; byte < 256; ++byte) {
            ByteClass c = kPlain;
            if (byte == '<')
                c = kEnd;
            else if (byte == '\n' || byte == '\t')
                c = kTextOnly;
            else if (byte < 32 || byte > 126 || byte == '>' || byte == '&' || byte == '\'' ||
                     byte == '"')
                c = kNever;
            classes[static_cast<std::size_t>(byte)] = c;
        }
        return classes;
    }();

    // A value up to the next '<'. No blank at either end: the reader trims those.
    template <bool text> bool Value(std::string_view& out)
    {
        std::size_t i = 0;
        for (; i < m_rest.size(); ++i) {
            ByteClass c = kClasses[static_cast<unsigned char>(m_rest[i])];
            if (c == kPlain)
                continue;
            if (c == kEnd)
                break;
            if (!(text && c == kTextOnly))
                return false;
        }
        if (i == m_rest.size())
            return false;
        if (i > 0 && (IsXmlWhitespace(m_rest[0]) || IsXmlWhitespace(m_rest[i - 1])))
            return false;
        out = m_rest.substr(0, i);
        m_rest.remove_prefix(i);
        return true;
    }

    // `open`, a number, `close`: the number empty (absent) or written as the writer writes
    // it and the reader reads it: "0" or up to four digits without a leading zero.
    template <std::size_t A, std::size_t B>
    bool Number(const char (&open)[A], const char (&close)[B], int& value, bool& present)
    {
        if (!Expect(open))
            return false;
        std::size_t i = 0;
        int number = 0;
        while (i < m_rest.size() && m_rest[i] >= '0' && m_rest[i] <= '9') {
            number = number * 10 + (m_rest[i] - '0');
            ++i;
        }
        if (i > 4 || (i > 1 && m_rest[0] == '0'))
            return false;
        m_rest.remove_prefix(i);
        if (!Expect(close))
            return false;
        present = i > 0;
        value = present ? number : 0;
        return true;
    }

    std::string_view m_rest;
    std::size_t m_size;
    std::size_t m_senderAt = 0;
};

// Takes a message's parts into a ChatMessage (as a fresh document holds it).
struct CMessageCopy
{
    ChatMessage& Message;
    void Id(std::string_view v) { Message.Id.assign(v); }
    void Sender(std::string_view v) { Message.Sender.assign(v); }
    void AllUsers() { Message.AllUsers = true; }
    void Recipient(std::string_view v) { Message.Recipients.emplace_back(v); }
    void Time(const MessageTime& time) { Message.Time = time; }
    void Text(std::string_view v) { Message.Text.assign(v); }
};

// Keeps only what routing needs, as views of the body.
struct CMessageRoute
{
    RoutedFrame& Frame;
    void Id(std::string_view) {}
    void Sender(std::string_view v) { Frame.Sender = v; }
    void AllUsers() { Frame.AllUsers = true; }
    void Recipient(std::string_view v)
    {
        // From the first name to the end of the last one's element.
        const char* end = v.data() + v.size() + std::string_view("</user>").size();
        const char* begin = Frame.Recipients.empty() ? v.data() - std::string_view("<user>").size()
                                                     : Frame.Recipients.data();
        Frame.Recipients = std::string_view(begin, static_cast<std::size_t>(end - begin));
    }
    void Time(const MessageTime&) {}
    void Text(std::string_view) {}
};

bool CanSendWrittenFrame(const ProtocolDocument& document, int version)
{
    if (document.WrittenFrame.empty() || version != kProtocolVersion)
        return false;
    const std::string* sender = nullptr;
    if (document.Type == DocumentType::Message)
        sender = &document.Message.Sender;
    else if (document.Type == DocumentType::MessageReceipt)
        sender = &document.ReceiptSender;
    else
        return false;
    return std::string_view(document.WrittenFrame)
               .substr(document.WrittenSenderAt, document.WrittenSenderLength) == *sender;
}

} // namespace

ProtocolDocument ProtocolDocument::MakeMessage(const ChatMessage& message)
{
    ProtocolDocument document;
    document.Type = DocumentType::Message;
    document.Message = message;
    return document;
}

ProtocolDocument ProtocolDocument::MakeLoginRequest(const std::string& userName)
{
    ProtocolDocument document;
    document.Type = DocumentType::LoginRequest;
    document.UserName = userName;
    return document;
}

ProtocolDocument ProtocolDocument::MakeLoginResponse(bool result, const std::string& error)
{
    ProtocolDocument document;
    document.Type = DocumentType::LoginResponse;
    document.Result = result;
    document.Error = error;
    return document;
}

ProtocolDocument ProtocolDocument::MakeUsers(const std::vector<UserEntry>& users)
{
    ProtocolDocument document;
    document.Type = DocumentType::Users;
    document.Users = users;
    return document;
}

ProtocolDocument ProtocolDocument::MakeKeepAlive()
{
    ProtocolDocument document;
    document.Type = DocumentType::KeepAlive;
    return document;
}

ProtocolDocument ProtocolDocument::MakeReceipt(const std::string& id, const std::string& sender,
                                               const std::string& recipient)
{
    ProtocolDocument document;
    document.Type = DocumentType::MessageReceipt;
    document.ReceiptId = id;
    document.ReceiptSender = sender;
    document.ReceiptRecipient = recipient;
    return document;
}

ProtocolDocument ProtocolDocument::MakeRedirect(const std::string& location)
{
    ProtocolDocument document;
    document.Type = DocumentType::Redirect;
    document.Location = location;
    return document;
}

ProtocolDocument ProtocolDocument::MakeFile(std::shared_ptr<const std::string> bytes)
{
    ProtocolDocument document;
    document.Type = DocumentType::File;
    document.FileBytes = std::move(bytes);
    return document;
}

ProtocolDocument ProtocolDocument::MakeFile(std::string bytes)
{
    return MakeFile(std::make_shared<const std::string>(std::move(bytes)));
}

ProtocolDocument ProtocolDocument::MakeNotFound()
{
    ProtocolDocument document;
    document.Type = DocumentType::NotFound;
    return document;
}

std::string FormatDocumentText(const ProtocolDocument& document)
{
    std::string text;
    switch (document.Type) {
    case DocumentType::Message:
        text = FormatMessageElement(document.Message);
        break;
    case DocumentType::LoginRequest:
        text = "<login-request>\n   <username>" + Escaped(document.UserName) +
               "</username>\n</login-request>\n";
        break;
    case DocumentType::LoginResponse:
        text = "<login-response>\n";
        text += document.Result ? "   <result>true</result>\n" : "   <result>false</result>\n";
        if (!document.Error.empty())
            text += "   <error>" + Escaped(document.Error) + "</error>\n";
        text += "</login-response>\n";
        break;
    case DocumentType::Users:
        text = "<users>\n";
        for (const UserEntry& entry : document.Users) {
            if (entry.OldName.empty() && entry.Name.empty())
                continue;
            text += "   <user>\n";
            if (!entry.OldName.empty())
                text += "      <oldusername>" + Escaped(entry.OldName) + "</oldusername>\n";
            if (!entry.Name.empty())
                text += "      <username>" + Escaped(entry.Name) + "</username>\n";
            text += "   </user>\n";
        }
        text += "</users>\n";
        break;
    case DocumentType::MessageReceipt:
        // Built piece by piece rather than by replacing placeholders, so that a value that
        // happens to contain a placeholder's text cannot be replaced a second time.
        text = "<message-receipt>\r\n  <id>" + Escaped(document.ReceiptId) +
               "</id>\r\n  <message-sender>" + Escaped(document.ReceiptSender) +
               "</message-sender>\r\n  <message-recipient>" + Escaped(document.ReceiptRecipient) +
               "</message-recipient>\r\n</message-receipt>";
        break;
    default:
        break;
    }
    return text;
}

namespace {

std::string FormatFileHead(const ProtocolDocument& document, long long now, int version)
{
    return "HTTP/1.1 200 OK\r\n" + ServerLine(version) +
           "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\n"
           "Last-Modified: " +
           HttpDate(now) +
           "\r\nAccept-Ranges: bytes\r\n"
           "Content-Length: " +
           std::to_string(SharedTail(document).size()) +
           "\r\nContent-Type: application/octet-stream\r\n"
           "Connection: close\r\n\r\n";
}

} // namespace

std::string FormatDocumentFrame(const ProtocolDocument& document, long long now, int version)
{
    if (document.SharedFrame && document.Type != DocumentType::File)
        return *document.SharedFrame;
    switch (document.Type) {
    case DocumentType::KeepAlive:
        return FormatFrame("", version);
    case DocumentType::Redirect:
        return "HTTP/1.1 302 Found\r\n" + ServerLine(version) + "Location: " + document.Location +
               "\r\nContent-Length: 0\r\n\r\n";
    case DocumentType::File:
        return FormatFileHead(document, now, version) + std::string(SharedTail(document));
    case DocumentType::NotFound:
        return "HTTP/1.1 404 Not Found\r\n" + ServerLine(version) +
               "Content-Length: 0\r\nConnection: close\r\n\r\n";
    case DocumentType::Message:
        if (CanSendWrittenFrame(document, version))
            return document.WrittenFrame;
        return FormatFastFrame(document, version);
    case DocumentType::MessageReceipt:
        if (CanSendWrittenFrame(document, version))
            return document.WrittenFrame;
        return FormatFastFrame(document, version);
    default:
        return FormatFrame(NormalizeLineEnds(kProlog + FormatDocumentText(document)), version);
    }
}

std::string TakeDocumentFrame(ProtocolDocument& document, long long now)
{
    if (document.Type == DocumentType::File)
        return FormatFileHead(document, now, kProtocolVersion);
    if (document.SharedFrame)
        return {}; // all of it is the shared tail
    if (CanSendWrittenFrame(document, kProtocolVersion)) {
        document.WrittenSenderLength = 0;
        return std::move(document.WrittenFrame);
    }
    return FormatDocumentFrame(document, now);
}

void ShareFrame(ProtocolDocument& document)
{
    if (document.Type == DocumentType::File || document.SharedFrame)
        return;
    document.SharedFrame = std::make_shared<const std::string>(FormatDocumentFrame(document));
    ProtocolDocument bare;
    bare.Type = document.Type;
    bare.SharedFrame = std::move(document.SharedFrame);
    document = std::move(bare);
}

std::string FormatDocumentFrameSlowly(const ProtocolDocument& document, int version)
{
    return FormatFrame(NormalizeLineEnds(kProlog + FormatDocumentText(document)), version);
}

bool ReadProtocolDocument(std::string_view body, ProtocolDocument& document, std::string& error,
                          bool keepWrittenForm)
{
    document = ProtocolDocument();
    CCanonicalMessageReader reader(body);
    // The root tells which of the two it can be; either way, what is not quite in this
    // program's form goes to the XML reader, which starts afresh.
    bool receipt = body.starts_with(kReceiptStart);
    if (receipt) {
        std::string_view id;
        std::string_view sender;
        std::string_view recipient;
        if (!reader.ReadReceipt(id, sender, recipient))
            return ReadProtocolDocumentSlowly(body, document, error);
        document.ReceiptId.assign(id);
        document.ReceiptSender.assign(sender);
        document.ReceiptRecipient.assign(recipient);
    } else {
        CMessageCopy copy{document.Message};
        if (!reader.Read(copy))
            return ReadProtocolDocumentSlowly(body, document, error);
    }
    document.Type = receipt ? DocumentType::MessageReceipt : DocumentType::Message;
    if (keepWrittenForm) {
        // The values need no escaping, so this is exactly the frame the writer makes.
        document.WrittenFrame = FormatFrame(body, kProtocolVersion);
        document.WrittenSenderAt = document.WrittenFrame.size() - body.size() + reader.SenderAt();
        document.WrittenSenderLength = document.Type == DocumentType::Message
                                           ? document.Message.Sender.size()
                                           : document.ReceiptSender.size();
    }
    return true;
}

bool ReadRoutedFrame(std::string_view body, RoutedFrame& frame)
{
    frame = RoutedFrame();
    CCanonicalMessageReader reader(body);
    if (body.starts_with(kReceiptStart)) {
        std::string_view id;
        std::string_view recipient;
        if (!reader.ReadReceipt(id, frame.Sender, recipient))
            return false;
        frame.Type = DocumentType::MessageReceipt;
        return true;
    }
    CMessageRoute route{frame};
    if (!reader.Read(route))
        return false;
    frame.Type = DocumentType::Message;
    return true;
}

bool ReadProtocolDocumentSlowly(std::string_view body, ProtocolDocument& document,
                                std::string& error)
{
    document = ProtocolDocument();
    CDocumentHandler handler(document);
    // Documents are small; giving up the processor after every element would only slow
    // a busy server down, and so would making a 500-element stack for each of them (the
    // deepest document, a message, nests four levels below the declaration).
    CXmlReader reader(false, 8);
    if (!reader.Parse(body, handler, error)) {
        document = ProtocolDocument();
        return false;
    }
    return true;
}
