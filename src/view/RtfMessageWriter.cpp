#include "view/RtfMessageWriter.h"

#include <array>
#include <cstring>

namespace {

struct RtfEscapeTable
{
    std::array<RtfEscape, 256> Entries;
    std::array<char, 256> Plain; // the byte itself, for the entries that write it
    std::array<char[5], 256> Hex;

    RtfEscapeTable()
    {
        static const char kHexDigits[] = "0123456789abcdef";
        for (int b = 0; b < 256; ++b) {
            Plain[b] = static_cast<char>(b);
            Hex[b][0] = '\\';
            Hex[b][1] = '\'';
            Hex[b][2] = kHexDigits[b >> 4];
            Hex[b][3] = kHexDigits[b & 15];
            Hex[b][4] = 0;
            const char* text;
            if (b < 32)
                text = "";
            else if (b < 128)
                text = nullptr; // the byte itself
            else
                text = Hex[b];
            switch (b) {
            case 9:
                text = "\\tab ";
                break;
            case 10:
                text = "\\par ";
                break;
            case 92:
                text = "\\\\";
                break;
            case 123:
                text = "\\{";
                break;
            case 125:
                text = "\\}";
                break;
            case 145:
                text = "\\lquote ";
                break;
            case 146:
                text = "\\rquote ";
                break;
            case 147:
                text = "\\ldblquote ";
                break;
            case 148:
                text = "\\rdblquote ";
                break;
            case 149:
                text = "\\bullet ";
                break;
            case 150:
                text = "\\endash ";
                break;
            case 151:
                text = "\\emdash ";
                break;
            case 160:
                text = "\\~";
                break;
            case 173:
                text = "\\-";
                break;
            default:
                break;
            }
            if (text == nullptr)
                Entries[b] = RtfEscape{&Plain[b], 1};
            else
                Entries[b] = RtfEscape{text, std::strlen(text)};
        }
    }
};

const RtfEscapeTable& Table()
{
    static const RtfEscapeTable table;
    return table;
}

void AppendColor(std::string& out, uint32_t color)
{
    out += "\\red" + std::to_string(ColorRed(color)) + "\\green" +
           std::to_string(ColorGreen(color)) + "\\blue" + std::to_string(ColorBlue(color)) + ";";
}

} // namespace

const RtfEscape& RtfEscapeFor(unsigned char byte)
{
    return Table().Entries[byte];
}

void AppendEscapedRtf(CTextBuffer& out, std::string_view text)
{
    const RtfEscapeTable& table = Table();
    const char* data = text.data();
    const size_t size = text.size();
    size_t run = 0; // start of the current run of bytes written as themselves
    for (size_t i = 0; i < size; ++i) {
        const RtfEscape& entry = table.Entries[static_cast<unsigned char>(data[i])];
        if (entry.Text == &table.Plain[static_cast<unsigned char>(data[i])])
            continue;
        out.Append(data + run, i - run);
        out.Append(entry.Text, entry.Length);
        run = i + 1;
    }
    out.Append(data + run, size - run);
}

std::string EscapeRtf(std::string_view text)
{
    CTextBuffer buffer;
    AppendEscapedRtf(buffer, text);
    return buffer.ToString();
}

std::string RtfFontOn(const FontSpec& font, int colorIndex, int fontIndex)
{
    std::string on = "\\cf" + std::to_string(colorIndex) + "\\f" + std::to_string(fontIndex);
    // A stored font without a size (height -1) keeps the control's size: "\fs0" would ask
    // for text of no height.
    const int halfPoints = font.Size / 10;
    if (halfPoints > 0)
        on += "\\fs" + std::to_string(halfPoints);
    if (font.Bold)
        on += "\\b";
    if (font.Italic)
        on += "\\i";
    if (font.Underline)
        on += "\\ul";
    if (font.StrikeOut)
        on += "\\strike";
    on += ' ';
    return on;
}

std::string RtfFontOff(const FontSpec& font)
{
    std::string off;
    if (font.Bold)
        off += "\\b0";
    if (font.Italic)
        off += "\\i0";
    if (font.Underline)
        off += "\\ul0";
    if (font.StrikeOut)
        off += "\\strike0";
    return off;
}

CRtfMessageWriter::CRtfMessageWriter()
{
    Table(); // built once, before the first document
}

void CRtfMessageWriter::Begin(const FontSpec& prefixFont, const FontSpec& messageFont,
                              uint32_t /*background: the view paints its own*/)
{
    m_prefixFont = prefixFont;
    m_messageFont = messageFont;
    m_prefixOn = RtfFontOn(m_prefixFont, 1, 0);
    m_prefixOff = RtfFontOff(m_prefixFont);
    m_messageOn = RtfFontOn(m_messageFont, 2, 1);
    m_messageOff = RtfFontOff(m_messageFont);

    CTextBuffer& out = Out();
    out.Append("{");
    out.Append("\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033");
    out.Append("{\\fonttbl{\\f0 ");
    AppendEscapedRtf(out, m_prefixFont.FaceName);
    out.Append("}{\\f1 ");
    AppendEscapedRtf(out, m_messageFont.FaceName);
    out.Append("}}");
    std::string colors = "{\\colortbl ;";
    AppendColor(colors, m_prefixFont.Color);
    AppendColor(colors, m_messageFont.Color);
    colors += '}';
    out.Append(colors);
}

void CRtfMessageWriter::AddMessage(std::string_view prefix, std::string_view text)
{
    CTextBuffer& out = Out();
    out.Append(m_prefixOn);
    AppendEscapedRtf(out, prefix);
    out.Append(m_prefixOff);
    out.Append(m_messageOn);
    AppendEscapedRtf(out, text);
    out.Append(m_messageOff);
    out.Append("\\par ");
    SetOpen(true);
}

void CRtfMessageWriter::End(bool trailingParagraph)
{
    if (trailingParagraph)
        Out().Append("\\par");
    Out().Append("}");
}
