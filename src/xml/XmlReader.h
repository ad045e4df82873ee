#pragma once
// The program's own small XML reader: one pass over a document held in memory, reporting
// each element with its value and attributes to a handler. It accepts the subset of XML
// the program writes (declaration first, elements with either a value or children,
// double-quoted attributes, CDATA, the five named entities and decimal byte entities)
// and reports every violation with a message and the byte offset where it stopped.
#include "xml/XmlElement.h"
#include "xml/XmlText.h"
#include "xml/YieldPacer.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What a caller implements to receive the elements. `stack` holds `depth` elements: the
// innermost (the one concerned) is stack[depth - 1]; stack[0] is the XML declaration,
// stack[1] the root element. Texts are views into the document and stay valid while it does.
class IXmlHandler
{
public:
    virtual ~IXmlHandler() = default;
    virtual void OnStartElement(const XmlElement* stack, int depth) = 0;
    virtual void OnEndElement(const XmlElement* stack, int depth) = 0;
};

class CXmlReader
{
public:
    // `yieldAfterElement`: give up the processor now and then while parsing (at most once
    // a millisecond, see CYieldPacer), so that a long parse on the user-interface thread
    // does not starve other processes.
    explicit CXmlReader(bool yieldAfterElement = true);
    // The same with a smaller first element stack (it still doubles when full): for callers
    // that parse many small documents, where making the usual 500 entries costs more than
    // the parse itself.
    CXmlReader(bool yieldAfterElement, size_t initialStack);

    // Parses `document` (it ends at its first zero byte, if any). One reader serves one
    // parse; a second call fails with "XML reader already in use.". On failure `error`
    // holds the message followed by "\nOffset: " and the byte offset.
    bool Parse(std::string_view document, IXmlHandler& handler, std::string& error);
    bool Parse(const char* document, IXmlHandler& handler, std::string& error)
    {
        return Parse(std::string_view(document ? document : ""), handler, error);
    }

private:
    bool ParseDocument();
    bool ParseDeclaration();
    bool ParseClosingTag();
    bool ParseOpeningTag();
    bool ParseAttributes(bool declaration, bool& selfClosing);
    bool ParseContent();
    bool Expect(char wanted);
    void SkipWhitespace();
    bool AtEnd() const { return m_pos >= m_end; }
    XmlElement& PushSlot();
    void Pop() { --m_depth; }
    void AfterElement();
    bool Fail(std::string message);

    IXmlHandler* m_handler = nullptr;
    std::vector<XmlElement> m_stack;
    int m_depth = 0;
    std::unique_ptr<CYieldPacer> m_pacer; // none when not yielding
    const char* m_begin = nullptr;
    const char* m_pos = nullptr;
    const char* m_end = nullptr;
    std::string m_message;
};

// Decodes "&lt;" "&gt;" "&amp;" "&apos;" "&quot;" and "&#N;" (decimal, at most 255).
bool DecodeXmlEntities(std::string_view value, std::string& decoded, std::string& error);

// Escapes a text for an element value or an attribute: the five markup characters become
// named entities, bytes outside 33..126 other than whitespace become "&#N;".
void EscapeXml(std::string& text);

// A small decimal number (1 to 4 characters once blanks and leading zeros are gone).
bool ParseXmlInt(const XmlText& text, int& value);

// Bytes 9 to 13 and the blank.
inline bool IsXmlWhitespace(char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}
