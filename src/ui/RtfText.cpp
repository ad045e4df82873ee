#include "ui/RtfText.h"

#include "platform/QtText.h"

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>
#include <cctype>
#include <vector>

namespace {

struct GroupState
{
    QTextCharFormat Format;
    bool Skip = false; // a destination that is not text (font table, colour table)
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

void FillFromRtf(QTextDocument& document, const std::string& rtf)
{
    document.clear();
    QTextCursor cursor(&document);
    std::vector<QColor> colors;
    std::vector<GroupState> stack(1);
    std::string pending; // text bytes not yet inserted
    QColor building;
    bool inColorTable = false;

    auto flush = [&] {
        if (!pending.empty() && !stack.back().Skip)
            cursor.insertText(FromCp1252(pending), stack.back().Format);
        pending.clear();
    };

    for (size_t i = 0; i < rtf.size();) {
        char c = rtf[i];
        if (c == '{') {
            flush();
            stack.push_back(stack.back());
            ++i;
        } else if (c == '}') {
            flush();
            if (stack.size() > 1)
                stack.pop_back();
            inColorTable = false;
            ++i;
        } else if (c == '\\' && i + 1 < rtf.size()) {
            char next = rtf[i + 1];
            if (next == '\\' || next == '{' || next == '}') {
                pending += next;
                i += 2;
            } else if (next == '\'' && i + 3 < rtf.size() && HexDigit(rtf[i + 2]) >= 0 &&
                       HexDigit(rtf[i + 3]) >= 0) {
                pending += static_cast<char>(HexDigit(rtf[i + 2]) * 16 + HexDigit(rtf[i + 3]));
                i += 4;
            } else if (std::isalpha(static_cast<unsigned char>(next))) {
                size_t start = i + 1, end = start;
                while (end < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[end])))
                    ++end;
                std::string word = rtf.substr(start, end - start);
                bool hasNumber = false;
                int number = 0, sign = 1;
                if (end < rtf.size() && rtf[end] == '-') {
                    sign = -1;
                    ++end;
                }
                while (end < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[end]))) {
                    number = number * 10 + (rtf[end] - '0');
                    hasNumber = true;
                    ++end;
                }
                number *= sign;
                if (end < rtf.size() && rtf[end] == ' ')
                    ++end;
                i = end;
                flush();
                QTextCharFormat& format = stack.back().Format;
                if (word == "par") {
                    if (!stack.back().Skip)
                        cursor.insertBlock();
                } else if (word == "tab") {
                    pending += '\t';
                } else if (word == "b") {
                    format.setFontWeight(hasNumber && number == 0 ? QFont::Normal : QFont::Bold);
                } else if (word == "i") {
                    format.setFontItalic(!(hasNumber && number == 0));
                } else if (word == "ul") {
                    format.setFontUnderline(!(hasNumber && number == 0));
                } else if (word == "fs" && hasNumber && number > 0) {
                    format.setFontPointSize(number / 2.0);
                } else if (word == "cf" && hasNumber) {
                    if (number > 0 && static_cast<size_t>(number) < colors.size())
                        format.setForeground(colors[static_cast<size_t>(number)]);
                    else
                        format.clearForeground();
                } else if (word == "fonttbl" || word == "stylesheet" || word == "info") {
                    stack.back().Skip = true;
                } else if (word == "colortbl") {
                    stack.back().Skip = true;
                    inColorTable = true;
                    building = QColor(0, 0, 0);
                } else if (inColorTable && word == "red") {
                    building.setRed(number);
                } else if (inColorTable && word == "green") {
                    building.setGreen(number);
                } else if (inColorTable && word == "blue") {
                    building.setBlue(number);
                }
            } else {
                i += 2; // a control symbol we do not show
            }
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (inColorTable && c == ';') {
            colors.push_back(colors.empty() ? QColor() : building);
            building = QColor(0, 0, 0);
            ++i;
        } else {
            pending += c;
            ++i;
        }
    }
    flush();
}
