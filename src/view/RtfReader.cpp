#include "view/RtfReader.h"

#include <array>
#include <string>
#include <vector>

namespace {

enum class Destination : uint8_t
{
    Text,
    FontTable,
    FontEntry,
    ColorTable,
    Skip,
};

struct GroupState
{
    RtfCharFormat Format;
    int FontIndex = -1;
    RtfAlignment Alignment = RtfAlignment::Left;
    Destination Dest = Destination::Text;
};

// Control words that stand for one character, with the Windows-1252 byte they write.
struct SymbolWord
{
    std::string_view Word;
    char Byte;
};
constexpr std::array<SymbolWord, 8> kSymbolWords = {{
    {"tab", '\t'},
    {"lquote", '\x91'},
    {"rquote", '\x92'},
    {"ldblquote", '\x93'},
    {"rdblquote", '\x94'},
    {"bullet", '\x95'},
    {"endash", '\x96'},
    {"emdash", '\x97'},
}};

// Destinations whose text is not shown.
constexpr std::array<std::string_view, 12> kSkippedDestinations = {
    "info",   "stylesheet", "pict",      "header",    "footer",  "footnote",
    "object", "listtable",  "themedata", "generator", "filetbl", "revtbl",
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class CRtfParser
{
public:
    CRtfParser(std::string_view rtf, IRtfSink& sink) : m_in(rtf), m_sink(sink) {}

    void Run()
    {
        while (m_pos < m_in.size()) {
            char c = m_in[m_pos++];
            switch (c) {
            case '{':
                m_stack.push_back(m_state);
                m_groupStart = true;
                continue;
            case '}':
                EndGroup();
                break;
            case '\\':
                ControlWord();
                break;
            case '\r':
            case '\n':
                break; // line breaks of the file are not text
            default:
                if (static_cast<unsigned char>(c) >= 32 || c == '\t')
                    Char(c);
                break;
            }
            m_groupStart = false;
        }
        Flush();
        m_sink.End(m_state.Alignment);
    }

private:
    void EndGroup()
    {
        if (m_state.Dest == Destination::FontEntry)
            EndFontEntry();
        Flush();
        if (m_stack.empty())
            return; // a stray closing brace closes nothing
        m_state = m_stack.back();
        m_stack.pop_back();
    }

    void Char(char c)
    {
        switch (m_state.Dest) {
        case Destination::Text:
            if (m_pendingFormat != m_state.Format || m_pending.empty()) {
                Flush();
                m_pendingFormat = m_state.Format;
            }
            m_pending += c;
            break;
        case Destination::FontEntry:
            if (c == ';')
                EndFontEntry();
            else if (!m_fontNameDone)
                m_fontName += c;
            break;
        case Destination::ColorTable:
            if (c == ';') {
                m_colors.push_back(m_colorSet ? m_color : kNoColor);
                m_color = 0;
                m_colorSet = false;
            }
            break;
        default:
            break;
        }
    }

    void Flush()
    {
        if (m_pending.empty())
            return;
        m_sink.Text(m_pending, m_pendingFormat);
        m_pending.clear();
    }

    void EndFontEntry()
    {
        if (!m_fontNameDone && m_fontIndex >= 0) {
            if (m_fonts.size() <= static_cast<size_t>(m_fontIndex) && m_fontIndex < kMaxFonts)
                m_fonts.resize(static_cast<size_t>(m_fontIndex) + 1);
            if (static_cast<size_t>(m_fontIndex) < m_fonts.size())
                m_fonts[static_cast<size_t>(m_fontIndex)] = m_fontName;
        }
        m_fontNameDone = true;
    }

    void ControlWord()
    {
        if (m_pos >= m_in.size())
            return;
        char c = m_in[m_pos];
        if (!IsLetter(c)) {
            ++m_pos;
            Symbol(c);
            return;
        }
        size_t start = m_pos;
        while (m_pos < m_in.size() && IsLetter(m_in[m_pos]) && m_pos - start < 32)
            ++m_pos;
        std::string_view word = m_in.substr(start, m_pos - start);
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (m_pos < m_in.size() && m_in[m_pos] == '-' && m_pos + 1 < m_in.size() &&
            IsDigit(m_in[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_in.size() && IsDigit(m_in[m_pos])) {
            hasParam = true;
            if (param < 1'000'000'000)
                param = param * 10 + (m_in[m_pos] - '0');
            ++m_pos;
        }
        if (param > 1'000'000'000)
            param = 1'000'000'000;
        if (m_pos < m_in.size() && m_in[m_pos] == ' ')
            ++m_pos; // the delimiter belongs to the word
        Word(word, hasParam, static_cast<int>(negative ? -param : param));
    }

    void Symbol(char c)
    {
        switch (c) {
        case '\\':
        case '{':
        case '}':
            Char(c);
            break;
        case '~':
            Char('\xa0');
            break;
        case '-':
            Char('\xad');
            break;
        case '_':
            Char('-');
            break;
        case '*':
            if (m_groupStart)
                m_state.Dest = Destination::Skip;
            break;
        case '\'': {
            int high = m_pos < m_in.size() ? HexValue(m_in[m_pos]) : -1;
            int low = m_pos + 1 < m_in.size() ? HexValue(m_in[m_pos + 1]) : -1;
            if (high >= 0 && low >= 0) {
                m_pos += 2;
                Char(static_cast<char>(high * 16 + low));
            }
            break;
        }
        case '\r':
        case '\n':
            Paragraph();
            break;
        default:
            break;
        }
    }

    void Paragraph()
    {
        if (m_state.Dest != Destination::Text)
            return;
        Flush();
        m_sink.Paragraph(m_state.Alignment);
    }

    void Word(std::string_view word, bool hasParam, int param)
    {
        const bool on = !hasParam || param != 0;
        if (word == "fonttbl") {
            m_state.Dest = Destination::FontTable;
        } else if (word == "colortbl") {
            m_state.Dest = Destination::ColorTable;
            m_colors.clear();
            m_color = 0;
            m_colorSet = false;
        } else if (m_state.Dest == Destination::ColorTable) {
            int value = param < 0 ? 0 : (param > 255 ? 255 : param);
            if (word == "red")
                m_color = (m_color & 0xFFFF00u) | static_cast<uint32_t>(value);
            else if (word == "green")
                m_color = (m_color & 0xFF00FFu) | static_cast<uint32_t>(value) << 8;
            else if (word == "blue")
                m_color = (m_color & 0x00FFFFu) | static_cast<uint32_t>(value) << 16;
            else
                return;
            m_colorSet = true;
        } else if (word == "f") {
            if (m_state.Dest == Destination::FontTable || m_state.Dest == Destination::FontEntry) {
                if (m_state.Dest == Destination::FontEntry)
                    EndFontEntry();
                m_state.Dest = Destination::FontEntry;
                m_fontIndex = param;
                m_fontName.clear();
                m_fontNameDone = false;
            } else {
                SetFont(param);
            }
        } else if (m_state.Dest != Destination::Text) {
            return; // font families, charsets and the like
        } else if (word == "par" || word == "line") {
            Paragraph();
        } else if (word == "b") {
            m_state.Format.Bold = on;
        } else if (word == "i") {
            m_state.Format.Italic = on;
        } else if (word == "ul") {
            m_state.Format.Underline = on;
        } else if (word == "ulnone") {
            m_state.Format.Underline = false;
        } else if (word == "strike") {
            m_state.Format.StrikeOut = on;
        } else if (word == "fs") {
            m_state.Format.HalfPoints = hasParam && param > 0 && param <= 3276 ? param : 0;
        } else if (word == "cf") {
            SetColor(param);
        } else if (word == "plain") {
            m_state.Format = RtfCharFormat{};
            SetFont(m_defaultFont);
        } else if (word == "deff") {
            m_defaultFont = param;
            if (m_state.FontIndex < 0)
                m_state.FontIndex = param;
        } else if (word == "pard" || word == "ql") {
            m_state.Alignment = RtfAlignment::Left;
        } else if (word == "qc") {
            m_state.Alignment = RtfAlignment::Center;
        } else if (word == "qr") {
            m_state.Alignment = RtfAlignment::Right;
        } else if (word == "qj") {
            m_state.Alignment = RtfAlignment::Justify;
        } else {
            for (const SymbolWord& symbol : kSymbolWords)
                if (word == symbol.Word) {
                    Char(symbol.Byte);
                    return;
                }
            if (m_groupStart)
                for (std::string_view skipped : kSkippedDestinations)
                    if (word == skipped) {
                        m_state.Dest = Destination::Skip;
                        return;
                    }
        }
    }

    void SetFont(int index)
    {
        m_state.FontIndex = index;
        m_state.Format.FaceName = index >= 0 && static_cast<size_t>(index) < m_fonts.size()
                                      ? m_fonts[static_cast<size_t>(index)]
                                      : std::string();
    }

    void SetColor(int index)
    {
        bool known = index > 0 && static_cast<size_t>(index) < m_colors.size() &&
                     m_colors[static_cast<size_t>(index)] != kNoColor;
        m_state.Format.HasColor = known;
        m_state.Format.Color = known ? m_colors[static_cast<size_t>(index)] : 0;
    }

    static constexpr uint32_t kNoColor = 0xFFFFFFFFu;
    static constexpr int kMaxFonts = 4096;

    std::string_view m_in;
    IRtfSink& m_sink;
    size_t m_pos = 0;
    GroupState m_state;
    std::vector<GroupState> m_stack;
    bool m_groupStart = false; // the previous token was "{"
    std::string m_pending;
    RtfCharFormat m_pendingFormat;
    std::vector<std::string> m_fonts;
    int m_defaultFont = 0;
    int m_fontIndex = -1;
    std::string m_fontName;
    bool m_fontNameDone = true;
    std::vector<uint32_t> m_colors;
    uint32_t m_color = 0;
    bool m_colorSet = false;
};

} // namespace

void ReadRtf(std::string_view rtf, IRtfSink& sink)
{
    CRtfParser(rtf, sink).Run();
}
