#pragma once
// Fills a text document from the About box's RTF: paragraphs, tabs, bold, italic,
// underline, font sizes and colours from the colour table; other control words are
// skipped. Bytes are Windows-1252.
#include <string>

class QTextDocument;

void FillFromRtf(QTextDocument& document, const std::string& rtf);
