#pragma once
// Fills a text document from RTF through the program's RTF reader: text runs with their
// character format, paragraphs with their alignment. Bytes are Windows-1252.
#include <string>

class QTextDocument;

void FillFromRtf(QTextDocument& document, const std::string& rtf);
