#pragma once
// Reads the RTF this program writes (the chat history's documents, the About text) and hands
// it on as runs of Windows-1252 text with their character format, and paragraph ends.
// Understood: groups, \fonttbl (names with or without ";"), \colortbl, \deff, \plain, \pard,
// \par, \line (as a paragraph), \tab, \b \i \ul \ulnone \strike (each with "0" to end it),
// \cf, \f, \fs, \ql \qc \qr \qj, \lquote \rquote \ldblquote \rdblquote \bullet \endash
// \emdash, \~ \- \_ \\ \{ \} and \'hh. Other control words are skipped, and groups that
// start with \* or name a destination we do not show (\info, \stylesheet, \pict, ...) are
// skipped whole. Unbalanced braces end or close nothing; no input makes it fail.
#include <cstdint>
#include <string>
#include <string_view>

struct RtfCharFormat
{
    std::string FaceName; // empty: the reader's user keeps its own face
    int HalfPoints = 0;   // 0: the user keeps its own size
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    bool HasColor = false; // colour 0 of the table ("auto") and no \cf give no colour
    uint32_t Color = 0;    // 0x00BBGGRR

    bool operator==(const RtfCharFormat&) const = default;
};

enum class RtfAlignment : uint8_t
{
    Left,
    Center,
    Right,
    Justify,
};

class IRtfSink
{
public:
    virtual ~IRtfSink() = default;
    // A run of text in one format; never empty.
    virtual void Text(std::string_view cp1252, const RtfCharFormat& format) = 0;
    // The end of a paragraph (\par) with the paragraph's alignment.
    virtual void Paragraph(RtfAlignment alignment) = 0;
    // The end of the document; `alignment` belongs to the last, unended paragraph.
    virtual void End(RtfAlignment alignment) = 0;
};

void ReadRtf(std::string_view rtf, IRtfSink& sink);
