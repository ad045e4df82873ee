#include "platform/QtText.h"

#include "platform/Cp1252.h"

#include <QList>

QString FromCp1252(std::string_view text)
{
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (unsigned char byte : text)
        out += QChar(static_cast<char16_t>(Cp1252ToUnicode(byte)));
    return out;
}

std::string ToCp1252(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        char32_t c = it->unicode();
        if (it->isHighSurrogate() && it + 1 != text.cend() && (it + 1)->isLowSurrogate()) {
            c = QChar::surrogateToUcs4(*it, *(it + 1));
            ++it;
        }
        out += UnicodeToCp1252(c);
    }
    return out;
}

std::string ToCp1252Password(const QString& text)
{
    std::string entry;
    for (char32_t c : text.toUcs4()) {
        char byte = UnicodeToCp1252(c);
        entry += byte == '?' && c != U'?' ? '\x7F' : byte;
    }
    return entry;
}
