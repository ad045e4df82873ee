#pragma once
// The RTF document the chat history view streams into its rich-text control: a font
// table of the prefix and message fonts, a colour table, and one paragraph per message.
#include "view/MessageWriter.h"

#include <string>
#include <string_view>

// One entry of the RTF escape table.
struct RtfEscape
{
    const char* Text;
    size_t Length;
};

// What each byte (taken as unsigned) is written as in RTF text.
const RtfEscape& RtfEscapeFor(unsigned char byte);
void AppendEscapedRtf(CTextBuffer& out, std::string_view text);
std::string EscapeRtf(std::string_view text);

class CRtfMessageWriter : public CMessageWriter
{
public:
    CRtfMessageWriter();

protected:
    void Begin(const FontSpec& prefixFont, const FontSpec& messageFont,
               uint32_t background) override;
    void AddMessage(std::string_view prefix, std::string_view text) override;
    void End(bool trailingParagraph) override;

private:
    FontSpec m_prefixFont;
    FontSpec m_messageFont;
    std::string m_prefixOn;
    std::string m_prefixOff;
    std::string m_messageOn;
    std::string m_messageOff;
};

// The control words that switch a font on ("\cf1\f0\fs20\b ") and its attributes off
// ("\b0"), for the given colour and font table indices.
std::string RtfFontOn(const FontSpec& font, int colorIndex, int fontIndex);
std::string RtfFontOff(const FontSpec& font);
