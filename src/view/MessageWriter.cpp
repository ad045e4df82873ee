#include "view/MessageWriter.h"

CMessageWriter::CMessageWriter() : m_buffer(std::make_unique<CTextBuffer>()) {}

CMessageWriter::~CMessageWriter() = default;

void CMessageWriter::BeginDocument(const FontSpec& prefixFont, const FontSpec& messageFont,
                                   uint32_t background)
{
    m_open = true;
    m_buffer->Clear();
    Begin(prefixFont, messageFont, background);
}

void CMessageWriter::Add(std::string_view prefix, std::string_view text)
{
    AddMessage(prefix, text);
}

void CMessageWriter::EndDocument(bool trailingParagraph)
{
    End(trailingParagraph);
    m_open = false;
}
