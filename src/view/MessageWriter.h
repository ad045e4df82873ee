#pragma once
// Writes a document of messages (each a prefix and a text, in two fonts) into a buffer:
// RTF for the chat history view, HTML for the log viewer's page. Callers begin, add each
// message and end, then take the buffer as the finished document.
#include "view/FontSpec.h"
#include "view/TextBuffer.h"

#include <cstdint>
#include <memory>
#include <string_view>

class CMessageWriter
{
public:
    CMessageWriter();
    virtual ~CMessageWriter();
    CMessageWriter(const CMessageWriter&) = delete;
    CMessageWriter& operator=(const CMessageWriter&) = delete;

    // Empties the buffer and writes the document head.
    void BeginDocument(const FontSpec& prefixFont, const FontSpec& messageFont,
                       uint32_t background);
    void Add(std::string_view prefix, std::string_view text);
    void EndDocument(bool trailingParagraph);

    bool IsOpen() const { return m_open; }
    const CTextBuffer& Buffer() const { return *m_buffer; }
    std::string_view Document() const { return m_buffer->View(); }

protected:
    virtual void Begin(const FontSpec& prefixFont, const FontSpec& messageFont,
                       uint32_t background) = 0;
    virtual void AddMessage(std::string_view prefix, std::string_view text) = 0;
    virtual void End(bool trailingParagraph) = 0;

    CTextBuffer& Out() { return *m_buffer; }
    void SetOpen(bool open) { m_open = open; }

private:
    std::unique_ptr<CTextBuffer> m_buffer;
    bool m_open = false;
};
