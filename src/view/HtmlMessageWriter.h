#pragma once
// The log viewer's page: one paragraph per message (ids "msg0", "msg1", ...) and a small
// script, SelMsg(i), that outlines a message and scrolls it into the middle.
#include "view/MessageWriter.h"

#include <string>
#include <string_view>

class CHtmlMessageWriter : public CMessageWriter
{
public:
    CHtmlMessageWriter() = default;

protected:
    void Begin(const FontSpec& prefixFont, const FontSpec& messageFont,
               uint32_t background) override;
    void AddMessage(std::string_view prefix, std::string_view text) override;
    void End(bool trailingParagraph) override;

private:
    int m_messageCount = 0;
};

// "#rrggbb" of a Windows colour value.
std::string HtmlColor(uint32_t color);
// The style rules of a font's class: family, size in points, colour, then attributes.
std::string HtmlFontStyle(const FontSpec& font);

// Message text as HTML: runs of blanks keep their width, line ends become "<br>", other
// control characters blanks, markup characters entities.
void AppendEscapedHtml(CTextBuffer& out, std::string_view text);
std::string EscapeHtml(std::string_view text);
