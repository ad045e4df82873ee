// Typed console lines and terminal bytes of any shape: parsed, converted both ways and
// shown as a message, never a crash.
#include "app/console/ConsoleText.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    static const CTerminalCodec utf8("UTF-8");
    static const CTerminalCodec latin9("ISO-8859-15");

    std::string typed = utf8.FromTerminal(bytes);
    ConsoleCommand command = ParseConsoleLine(typed);
    if (command.Kind == ConsoleCommandKind::Later &&
        (command.Minutes < 0 || command.Minutes > 1439))
        __builtin_trap();
    latin9.FromTerminal(bytes);
    latin9.ToTerminal(typed);

    ChatMessage message;
    message.Sender = command.Names.empty() ? std::string("Owen") : command.Names.front();
    message.Recipients = command.Names;
    message.Text = command.Text;
    message.Time.Set(958'000'000);
    std::string shown = FormatConsoleMessage(message, typed.substr(0, 64));
    // The text is never cut: every byte of it is somewhere in the shown lines.
    if (shown.size() < message.Text.size())
        __builtin_trap();
    utf8.ToTerminal(shown);
    return 0;
}
