#include "app/console/ConsoleText.h"

#include "platform/Cp1252.h"
#include "view/PrefixFormat.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

namespace {

bool IsUtf8Name(const std::string& codeset)
{
    return codeset.empty() || strcasecmp(codeset.c_str(), "UTF-8") == 0 ||
           strcasecmp(codeset.c_str(), "utf8") == 0 ||
           strcasecmp(codeset.c_str(), "ANSI_X3.4-1968") == 0 ||
           strcasecmp(codeset.c_str(), "ASCII") == 0 ||
           strcasecmp(codeset.c_str(), "US-ASCII") == 0;
}

std::string Trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return std::string(text.substr(begin, end - begin));
}

} // namespace

CTerminalCodec::CTerminalCodec(std::string codeset)
    : m_codeset(std::move(codeset)), m_utf8(IsUtf8Name(m_codeset))
{
    if (!m_utf8) {
        // A character set iconv does not know is spoken as UTF-8.
        iconv_t probe = iconv_open(m_codeset.c_str(), "WINDOWS-1252");
        if (probe == reinterpret_cast<iconv_t>(-1))
            m_utf8 = true;
        else
            iconv_close(probe);
    }
}

CTerminalCodec CTerminalCodec::ForCurrentLocale()
{
    const char* codeset = nl_langinfo(CODESET);
    return CTerminalCodec(codeset ? codeset : "");
}

std::string CTerminalCodec::ToTerminal(std::string_view cp1252) const
{
    if (m_utf8)
        return Cp1252ToUtf8(cp1252);
    return Convert(cp1252, m_codeset.c_str(), "WINDOWS-1252");
}

std::string CTerminalCodec::FromTerminal(std::string_view bytes) const
{
    if (m_utf8)
        return Utf8ToCp1252(bytes);
    // Through UTF-8, so that what Windows-1252 lacks becomes "?" character by character.
    return Utf8ToCp1252(Convert(bytes, "UTF-8", m_codeset.c_str()));
}

std::string CTerminalCodec::Convert(std::string_view bytes, const char* to, const char* from) const
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // Unconvertible or broken input: one "?" for the byte, then go on.
            out += '?';
            ++in;
            --inLeft;
        }
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    iconv_close(cd);
    return out;
}

std::string IndentContinuation(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        out += c;
        if (c == '\n')
            out += kContinuationIndent;
    }
    return out;
}

std::string FormatConsoleMessage(const ChatMessage& message, std::string_view prefixFormat)
{
    CPrefixFormat format(prefixFormat);
    std::string prefix =
        format.Format(message.Time, message.Sender, FormatRecipients(message), 0, 0);
    // A prefix that holds line breaks of its own stays on the first line.
    std::replace(prefix.begin(), prefix.end(), '\n', ' ');
    std::replace(prefix.begin(), prefix.end(), '\r', ' ');
    return prefix + IndentContinuation(message.Text);
}

ConsoleCommand ParseConsoleLine(const std::string& line)
{
    ConsoleCommand command;
    if (line.empty() || line[0] != '/') {
        command.Text = line;
        return command;
    }
    if (line.size() > 1 && line[1] == '/') {
        command.Text = line.substr(1);
        return command;
    }
    size_t space = line.find_first_of(" \t");
    std::string word = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    if (word == "to") {
        command.Kind = ConsoleCommandKind::To;
        std::string all = Trim(rest);
        if (strcasecmp(all.c_str(), "all") == 0 || strcasecmp(all.c_str(), "(All Users)") == 0) {
            command.AllUsers = true;
            return command;
        }
        size_t start = 0;
        while (start <= rest.size()) {
            size_t comma = rest.find(',', start);
            std::string name = Trim(std::string_view(rest).substr(
                start, comma == std::string::npos ? std::string::npos : comma - start));
            if (!name.empty())
                command.Names.push_back(name);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        if (command.Names.empty()) {
            command.Kind = ConsoleCommandKind::Bad;
            command.Error = "Whom to? Type /to NAME, NAME or /to all.";
        }
    } else if (word == "later") {
        command.Kind = ConsoleCommandKind::Later;
        std::string trimmed = Trim(rest);
        size_t digits = 0;
        while (digits < trimmed.size() && std::isdigit(static_cast<unsigned char>(trimmed[digits])))
            ++digits;
        // At most 23 hours and 59 minutes, as the Send Later dialog allows.
        if (digits == 0 || digits > 4 || std::stoi(trimmed.substr(0, digits)) > 23 * 60 + 59 ||
            (digits < trimmed.size() && trimmed[digits] != ' ' && trimmed[digits] != '\t')) {
            command.Kind = ConsoleCommandKind::Bad;
            command.Error = "Type /later MINUTES TEXT, with 0 to 1439 minutes.";
            return command;
        }
        command.Minutes = std::stoi(trimmed.substr(0, digits));
        command.Text = digits < trimmed.size() ? trimmed.substr(digits + 1) : std::string();
        // The text keeps its own leading blanks after the one separating blank.
    } else if (word == "refresh") {
        command.Kind = ConsoleCommandKind::Refresh;
    } else if (word == "who") {
        command.Kind = ConsoleCommandKind::Who;
    } else if (word == "quit" || word == "exit") {
        command.Kind = ConsoleCommandKind::Quit;
    } else if (word == "help" || word == "?") {
        command.Kind = ConsoleCommandKind::Help;
    } else {
        command.Kind = ConsoleCommandKind::Bad;
        command.Error = "Unknown command /" + word + "; type /help for the commands.";
    }
    return command;
}
