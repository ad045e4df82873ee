#include "xml/XmlReader.h"

#include <cstring>
#include <unordered_set>

namespace {

constexpr size_t kInitialStack = 500;
// Above this many attributes on one element, duplicates are found through a hash set
// instead of a linear scan, so a hostile document cannot make the parse quadratic.
constexpr size_t kLinearAttributeLimit = 32;

const char* Find(const char* from, const char* end, char c)
{
    if (from >= end)
        return nullptr;
    return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

const char* FindText(const char* from, const char* end, std::string_view what)
{
    std::string_view rest(from, static_cast<size_t>(end - from));
    size_t at = rest.find(what);
    return at == std::string_view::npos ? nullptr : from + at;
}

bool StartsWith(const char* from, const char* end, std::string_view what)
{
    return static_cast<size_t>(end - from) >= what.size() &&
           std::memcmp(from, what.data(), what.size()) == 0;
}

std::string UnexpectedCharacter(char expected, char encountered)
{
    std::string message = "Unexpected character.  Expected: ";
    message += expected;
    message += ".  Encountered: ";
    message += encountered;
    message += '.';
    return message;
}

XmlText Trimmed(const char* from, const char* to)
{
    while (from < to && IsXmlWhitespace(*from))
        ++from;
    while (to > from && IsXmlWhitespace(to[-1]))
        --to;
    return XmlText::View(from, static_cast<int>(to - from));
}

} // namespace

// The entries are allocated up front but made only as the depth first reaches them, so a
// reader is cheap to create for a small document.
CXmlReader::CXmlReader(bool yieldAfterElement)
    : m_pacer(yieldAfterElement ? std::make_unique<CYieldPacer>() : nullptr)
{
    m_stack.reserve(kInitialStack);
}

CXmlReader::CXmlReader(bool yieldAfterElement, size_t initialStack)
    : m_pacer(yieldAfterElement ? std::make_unique<CYieldPacer>() : nullptr)
{
    m_stack.reserve(initialStack > 0 ? initialStack : 1);
}

bool CXmlReader::Parse(std::string_view document, IXmlHandler& handler, std::string& error)
{
    if (m_handler) {
        error = "XML reader already in use.";
        return false;
    }
    m_handler = &handler;
    size_t zero = document.find('\0');
    if (zero != std::string_view::npos)
        document = document.substr(0, zero);
    m_begin = m_pos = document.data();
    m_end = m_begin + document.size();
    if (ParseDocument())
        return true;
    if (m_message.empty())
        m_message = "An unknown error has occurred.";
    error = m_message + "\nOffset: " + std::to_string(m_pos - m_begin);
    return false;
}

bool CXmlReader::Fail(std::string message)
{
    m_message = std::move(message);
    return false;
}

void CXmlReader::SkipWhitespace()
{
    while (m_pos < m_end && IsXmlWhitespace(*m_pos))
        ++m_pos;
}

bool CXmlReader::Expect(char wanted)
{
    if (AtEnd())
        return Fail("Unexpected end of file found in read.");
    if (*m_pos != wanted)
        return Fail(UnexpectedCharacter(wanted, *m_pos));
    ++m_pos;
    return true;
}

XmlElement& CXmlReader::PushSlot()
{
    if (static_cast<size_t>(m_depth) == m_stack.size()) {
        if (m_stack.size() == m_stack.capacity())
            m_stack.reserve(m_stack.capacity() * 2);
        return m_stack.emplace_back();
    }
    XmlElement& slot = m_stack[static_cast<size_t>(m_depth)];
    slot.Name.Clear();
    slot.Value.Clear();
    slot.Attributes.clear();
    return slot;
}

void CXmlReader::AfterElement()
{
    if (m_pacer)
        m_pacer->Step();
}

bool CXmlReader::ParseDocument()
{
    SkipWhitespace();
    if (!ParseDeclaration())
        return false;
    for (;;) {
        SkipWhitespace();
        if (AtEnd())
            break;
        if (*m_pos != '<')
            return Fail(UnexpectedCharacter('<', *m_pos));
        bool ok = m_pos + 1 < m_end && m_pos[1] == '/' ? ParseClosingTag() : ParseOpeningTag();
        if (!ok)
            return false;
    }
    if (m_depth != 1)
        return Fail("Opening and closing tags are out of sync (" + std::to_string(m_depth) +
                    ").\n");
    return true;
}

bool CXmlReader::ParseDeclaration()
{
    if (!Expect('<') || !Expect('?'))
        return false;
    const char* start = m_pos;
    while (m_pos < m_end && !IsXmlWhitespace(*m_pos) && *m_pos != '?' && *m_pos != '>')
        ++m_pos;
    if (AtEnd())
        return Fail("Could not find the tag name of element.");
    XmlElement& declaration = PushSlot();
    declaration.Name = XmlText::View(start, static_cast<int>(m_pos - start));
    bool selfClosing = false;
    if (!ParseAttributes(true, selfClosing))
        return false;
    ++m_depth;
    m_handler->OnStartElement(m_stack.data(), m_depth);
    AfterElement();
    return true;
}

bool CXmlReader::ParseAttributes(bool declaration, bool& selfClosing)
{
    XmlElement& element = m_stack[static_cast<size_t>(m_depth)];
    std::unordered_set<std::string_view> names;
    for (;;) {
        const char* before = m_pos;
        SkipWhitespace();
        bool spaced = m_pos != before;
        if (AtEnd())
            return Fail("Unexpected end of file.");
        char c = *m_pos;
        if (declaration && c == '?') {
            ++m_pos;
            if (AtEnd() || *m_pos != '>')
                return Fail("The expected angle brace was not found in the root element.");
            ++m_pos;
            return true;
        }
        if (declaration && c == '>')
            return Fail(UnexpectedCharacter('?', c));
        if (!declaration && c == '/') {
            ++m_pos;
            SkipWhitespace();
            if (!Expect('>'))
                return false;
            selfClosing = true;
            return true;
        }
        if (!declaration && c == '>') {
            ++m_pos;
            return true;
        }
        if (!spaced)
            return Fail("Missing whitespace.");
        const char* equals = Find(m_pos, m_end, '=');
        if (!equals)
            return Fail("Could not find '=' for attribute.");
        XmlText name = Trimmed(m_pos, equals);
        m_pos = equals + 1;
        SkipWhitespace();
        if (!Expect('"'))
            return false;
        const char* quote = Find(m_pos, m_end, '"');
        if (!quote)
            return Fail("Could not find the quotation mark for attribute.");
        XmlText value = XmlText::View(m_pos, static_cast<int>(quote - m_pos));
        m_pos = quote + 1;

        // The first attribute of a name wins.
        bool duplicate;
        if (element.Attributes.size() < kLinearAttributeLimit) {
            duplicate = element.FindAttribute(name.Str()) != nullptr;
        } else {
            if (names.empty()) {
                for (const XmlAttribute& attribute : element.Attributes)
                    names.insert(attribute.Name.Str());
            }
            duplicate = !names.insert(name.Str()).second;
        }
        if (!duplicate)
            element.Attributes.push_back({std::move(name), std::move(value)});
    }
}

bool CXmlReader::ParseOpeningTag()
{
    ++m_pos; // past "<"
    const char* start = m_pos;
    // A name ends at whitespace, ">" or the "/>" of an empty element.
    while (m_pos < m_end && !IsXmlWhitespace(*m_pos) && *m_pos != '>' &&
           !(*m_pos == '/' && m_pos + 1 < m_end && m_pos[1] == '>'))
        ++m_pos;
    if (AtEnd())
        return Fail("Could not find the tag name of element.");
    XmlElement& element = PushSlot();
    element.Name = XmlText::View(start, static_cast<int>(m_pos - start));
    bool selfClosing = false;
    if (!ParseAttributes(false, selfClosing))
        return false;
    if (!selfClosing)
        return ParseContent();
    ++m_depth;
    m_handler->OnStartElement(m_stack.data(), m_depth);
    m_handler->OnEndElement(m_stack.data(), m_depth);
    --m_depth;
    AfterElement();
    return true;
}

bool CXmlReader::ParseContent()
{
    static constexpr std::string_view kCdataStart = "<![CDATA[";
    static constexpr std::string_view kCdataEnd = "]]>";
    XmlElement& element = m_stack[static_cast<size_t>(m_depth)];
    SkipWhitespace();
    if (AtEnd())
        return Fail("Unexpected end of file.");
    bool hasValue = true;
    if (StartsWith(m_pos, m_end, kCdataStart)) {
        const char* start = m_pos + kCdataStart.size();
        const char* stop = FindText(start, m_end, kCdataEnd);
        if (!stop)
            return Fail("Could not find the end of a CDATA section.");
        element.Value = XmlText::View(start, static_cast<int>(stop - start));
        m_pos = stop + kCdataEnd.size();
    } else if (*m_pos == '<') {
        hasValue = false;
    } else {
        const char* start = m_pos;
        const char* stop = Find(m_pos, m_end, '<');
        if (!stop) {
            m_pos = m_end;
            return Fail("Unexpected end of file.");
        }
        m_pos = stop;
        int length = static_cast<int>(stop - start);
        if (Find(start, stop, '&')) {
            std::string decoded, error;
            if (!DecodeXmlEntities(std::string_view(start, static_cast<size_t>(length)), decoded,
                                   error))
                return Fail(error);
            element.Value = XmlText(std::move(decoded));
        } else {
            element.Value = XmlText::View(start, length);
        }
    }
    if (hasValue) {
        SkipWhitespace();
        if (AtEnd())
            return Fail("Unexpected end of file.");
        if (!StartsWith(m_pos, m_end, "</"))
            return Fail("Cannot mix values with child elements.");
    }
    ++m_depth;
    m_handler->OnStartElement(m_stack.data(), m_depth);
    AfterElement();
    return true;
}

bool CXmlReader::ParseClosingTag()
{
    const char* start = m_pos + 2;
    const char* close = Find(start, m_end, '>');
    if (!close)
        return Fail("Unexpected end of file.");
    XmlText name = XmlText::View(start, static_cast<int>(close - start));
    if (m_depth <= 1)
        return Fail("Encountered unexpected closing tag (" + name.ToString() + ").");
    const XmlElement& open = m_stack[static_cast<size_t>(m_depth - 1)];
    if (!(open.Name == name))
        return Fail("Element names don't match in opening (" + open.Name.ToString() +
                    ") and closing (" + name.ToString() + ") tag.");
    m_pos = close + 1;
    m_handler->OnEndElement(m_stack.data(), m_depth);
    --m_depth;
    return true;
}

bool DecodeXmlEntities(std::string_view value, std::string& decoded, std::string& error)
{
    struct Named
    {
        std::string_view Entity;
        char Byte;
    };
    static constexpr Named kNamed[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};

    decoded.clear();
    decoded.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '&') {
            decoded += value[i];
            continue;
        }
        size_t semicolon = value.find(';', i);
        if (semicolon == std::string_view::npos) {
            error = "Could not find the end of the entity.";
            return false;
        }
        std::string_view entity = value.substr(i, semicolon - i + 1);
        bool valid = false;
        if (entity.size() >= 3 && entity[1] == '#') {
            std::string_view digits = entity.substr(2, entity.size() - 3);
            int number = 0;
            valid = digits.size() <= 3;
            for (char d : digits) {
                valid = valid && d >= '0' && d <= '9';
                if (valid)
                    number = number * 10 + (d - '0');
            }
            valid = valid && number <= 255;
            if (valid)
                decoded += static_cast<char>(number);
        } else {
            for (const Named& named : kNamed) {
                if (entity == named.Entity) {
                    decoded += named.Byte;
                    valid = true;
                    break;
                }
            }
        }
        if (!valid) {
            error = "The entity \"" + std::string(entity) + "\" is not valid.";
            return false;
        }
        i = semicolon;
    }
    return true;
}

void EscapeXml(std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '&':
            escaped += "&amp;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            if (IsXmlWhitespace(c) || (byte >= 33 && byte <= 126)) {
                escaped += c;
            } else {
                escaped += "&#";
                escaped += std::to_string(byte);
                escaped += ';';
            }
        }
    }
    text.swap(escaped);
}

bool ParseXmlInt(const XmlText& text, int& value)
{
    if (text.IsAbsent())
        return false;
    std::string_view digits = Trimmed(text.Data(), text.Data() + text.Length()).Str();
    while (digits.size() >= 2 && digits.front() == '0')
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 4)
        return false;
    // Read like the C library's atoi: an optional sign, then digits up to the first other byte.
    size_t i = 0;
    bool negative = false;
    if (digits[0] == '+' || digits[0] == '-') {
        negative = digits[0] == '-';
        i = 1;
    }
    int number = 0;
    for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i)
        number = number * 10 + (digits[i] - '0');
    value = negative ? -number : number;
    return true;
}
