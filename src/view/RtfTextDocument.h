#pragma once
// Puts the RTF this program writes (the About text, history documents) into a
// QTextDocument through our reader: every character and every paragraph mark counts one.
//
//   QTextCursor cursor(edit->document());
//   InsertRtf(cursor, rtf, {.AbsorbFinalParagraph = true});   // the About box: the whole text
#include <QColor>
#include <QTextCursor>
#include <cstdint>
#include <string_view>

struct RtfInsertOptions
{
    // A stream that replaces the whole text ends with a paragraph mark that the document's
    // own end absorbs, as in a rich-edit control.
    bool AbsorbFinalParagraph = false;
};

void InsertRtf(QTextCursor& cursor, std::string_view rtf, const RtfInsertOptions& options);

// The Windows colour value 0x00BBGGRR as a QColor.
QColor ColorFromColorRef(uint32_t color);
