#include "view/HtmlMessageWriter.h"

#include <array>
#include <cstdio>
#include <iterator>

namespace {

// The page head; "%s" marks, in order: the background colour (the invisible border), the
// prefix style, the message style, the background colour (border of the previous
// selection), the message colour (border of the selection), the background colour.
const char* const kPageTemplate[] = {
    "<html>",
    "<head>",
    "  <title>Zib Tam Log</title>",
    "  <style>",
    "    body { margin: 0px }",
    "    p { border: 1px solid %s; word-wrap:break-word;margin: 0 }",
    "    .prefix { %s }",
    "    .message { %s }",
    "    .sel { text-decoration: underline }",
    "  </style>",
    "</head>",
    "<script language=\"Javascript\"><!--",
    "var fg_iPrevMsg = -1;",
    "",
    "function GetMsg(iMsg)",
    "{",
    "   eval(\"var vMsg = window.msg\" + iMsg);",
    "   return vMsg;",
    "}",
    "",
    "function SelMsg(iMsg)",
    "{",
    "   //remove the border",
    "   if(fg_iPrevMsg != -1)",
    "   {",
    "      var vPrevMsg = GetMsg(fg_iPrevMsg);",
    "      vPrevMsg.style.borderColor = '%s';",
    "   }",
    "",
    "   if(iMsg != -1)",
    "   {",
    "      //add the border",
    "      var vMsg = GetMsg(iMsg);",
    "      vMsg.style.borderColor = '%s';",
    "",
    "      // center it in the window",
    "      var iScrollPos = vMsg.offsetTop;",
    "      if(vMsg.offsetTop > document.body.scrollHeight - document.body.clientHeight)",
    "      {",
    "         // DO NOTHING",
    "      }",
    "      else if(vMsg.scrollHeight < document.body.clientHeight)",
    "      {",
    "         iScrollPos -= (document.body.clientHeight / 2 - vMsg.scrollHeight / 2);",
    "      }",
    "      window.scroll(0, iScrollPos);",
    "   }",
    "",
    "   fg_iPrevMsg = iMsg;",
    "}",
    "//--></script>",
    "<body bgcolor=\"%s\" onload=\"window.scroll(0, document.body.scrollHeight)\">",
};
static_assert(std::size(kPageTemplate) == 52);

struct HtmlEscapeTable
{
    std::array<const char*, 256> Text{};
    std::array<char[2], 256> Single{};

    HtmlEscapeTable()
    {
        for (int b = 0; b < 256; ++b) {
            Single[b][0] = static_cast<char>(b);
            Single[b][1] = 0;
            Text[b] = Single[b];
        }
        for (int b = 0; b < 32; ++b)
            Text[b] = " ";
        Text[10] = Text[13] = "<br>";
        Text['&'] = "&amp;";
        Text['<'] = "&lt;";
        Text['>'] = "&gt;";
        Text[160] = "&nbsp;";
        Text[173] = "&shy;";
        // Box-drawing characters of the old OEM code page, drawn with what 1252 has.
        for (int b : {179, 186, 199, 217})
            Text[b] = "|";
        for (int b : {180, 181, 185, 187, 188, 197, 198, 200, 201})
            Text[b] = "+";
        Text[196] = Text[205] = "-";
        for (int b = 219; b <= 223; ++b)
            Text[b] = "\x81";
        Text[251] = "X";
    }
};

const HtmlEscapeTable& EscapeTable()
{
    static const HtmlEscapeTable table;
    return table;
}

} // namespace

void AppendEscapedHtml(CTextBuffer& out, std::string_view text)
{
    const HtmlEscapeTable& table = EscapeTable();
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte == ' ') {
            // A lone blank may break a line; a run keeps its width.
            if (i == 0 || text[i - 1] == ' ')
                out.Append("&nbsp;");
            else
                out.Append(' ');
            continue;
        }
        const char* escaped = table.Text[byte];
        if (escaped == table.Single[byte])
            out.Append(static_cast<char>(byte));
        else
            out.Append(std::string_view(escaped));
    }
}

std::string EscapeHtml(std::string_view text)
{
    CTextBuffer buffer;
    AppendEscapedHtml(buffer, text);
    return buffer.ToString();
}

std::string HtmlColor(uint32_t color)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", ColorRed(color), ColorGreen(color),
                  ColorBlue(color));
    return text;
}

std::string HtmlFontStyle(const FontSpec& font)
{
    std::string style = "font-family: " + font.FaceName;
    // A stored font without a size (height -1) keeps the page's size: "0pt" would hide it.
    const int points = font.Size / 20;
    if (points > 0)
        style += "; font-size: " + std::to_string(points) + "pt";
    style += "; color: " + HtmlColor(font.Color);
    if (font.Bold)
        style += "; font-weight: bold";
    if (font.Italic)
        style += "; font-style: italic";
    if (font.Underline)
        style += "; text-decoration: underline";
    else if (font.StrikeOut)
        style += "; text-decoration: line-through";
    return style;
}

void CHtmlMessageWriter::Begin(const FontSpec& prefixFont, const FontSpec& messageFont,
                               uint32_t background)
{
    m_messageCount = 0;
    const std::string back = HtmlColor(background);
    const std::string values[6] = {back, HtmlFontStyle(prefixFont),    HtmlFontStyle(messageFont),
                                   back, HtmlColor(messageFont.Color), back};
    size_t next = 0;
    CTextBuffer& out = Out();
    for (const char* line : kPageTemplate) {
        std::string_view rest(line);
        for (size_t mark = rest.find("%s"); mark != std::string_view::npos;
             mark = rest.find("%s")) {
            out.Append(rest.substr(0, mark));
            out.Append(values[next++]);
            rest.remove_prefix(mark + 2);
        }
        out.Append(rest);
        out.Append('\n');
    }
}

void CHtmlMessageWriter::AddMessage(std::string_view prefix, std::string_view text)
{
    CTextBuffer& out = Out();
    out.Append("<p id=\"msg");
    out.AppendInt(m_messageCount);
    out.Append("\"><span class=\"prefix\">");
    AppendEscapedHtml(out, prefix);
    out.Append("</span><span class=\"message\">");
    AppendEscapedHtml(out, text);
    out.Append("</span>\n</div></p>\n");
    ++m_messageCount;
}

void CHtmlMessageWriter::End(bool /*trailingParagraph: a page has none*/)
{
    Out().Append("</body>\n");
    Out().Append("</html>\n");
}
