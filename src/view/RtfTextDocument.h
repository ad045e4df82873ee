#pragma once
// Puts the RTF this program writes (history documents, the About text) into a
// QTextDocument through our reader. Positions agree with the history's message ranges:
// every character and every paragraph mark counts one.
//
//   QTextCursor cursor(edit->document());
//   InsertRtf(cursor, rtf, {}, true);          // the About box: the whole text
#include <QColor>
#include <QString>
#include <QTextCursor>
#include <cstdint>
#include <string_view>
#include <vector>

// Characters [Start, End) of the document to be inserted as a link with this target.
struct RtfLinkSpan
{
    int Start = 0;
    int End = 0;
    QString Href;
};

struct RtfInsertOptions
{
    // A stream that replaces the whole text ends with a paragraph mark that the document's
    // own end absorbs, as in a rich-edit control.
    bool AbsorbFinalParagraph = false;
    // Sorted by Start, not overlapping; positions in the document after insertion.
    std::vector<RtfLinkSpan> Links;
    QColor LinkColor = QColor(0, 0, 255);
};

void InsertRtf(QTextCursor& cursor, std::string_view rtf, const RtfInsertOptions& options);

// The Windows colour value 0x00BBGGRR as a QColor.
QColor ColorFromColorRef(uint32_t color);
