#include "settings/OptionsPages.h"

#include "platform/Cp1252.h"

#include <algorithm>

PasswordGate CheckOptionsPassword(const std::string& stored, bool entered, const std::string& entry)
{
    if (stored.empty())
        return PasswordGate::Open;
    if (!entered)
        return PasswordGate::Cancelled;
    return entry == stored ? PasswordGate::Open : PasswordGate::Refused;
}

PasswordChoice PasswordToStore(bool protect, std::string_view typed)
{
    PasswordChoice choice;
    if (!protect) {
        choice.Ok = true;
        return choice;
    }
    if (typed.empty()) {
        choice.Message = kPasswordMissing;
        return choice;
    }
    std::string password;
    char32_t unmapped = 0;
    Utf8Conversion conversion = Utf8ToCp1252Exact(typed, password, unmapped);
    if (conversion == Utf8Conversion::Ok) {
        auto shows = [](char c) { return IsPasswordCharacter(static_cast<unsigned char>(c)); };
        auto bad = std::find_if_not(password.begin(), password.end(), shows);
        if (bad == password.end()) {
            choice.Ok = true;
            choice.Password = password;
            return choice;
        }
        unmapped = Cp1252ToUnicode(static_cast<unsigned char>(*bad));
    }
    // Stored it would read back as another password (or none), which would not protect.
    choice.Message = kPasswordCharacters;
    if (conversion != Utf8Conversion::Malformed && unmapped >= 0x20 &&
        (unmapped < 0x7F || unmapped > 0x9F)) {
        std::string shown;
        AppendUtf8(shown, unmapped);
        choice.Message += " \"" + shown + "\" is not one of them.";
    }
    return choice;
}

SoundTest DecideSoundTest(const std::string& path, bool pathExists, bool repeatEnabled,
                          bool repeatChecked)
{
    SoundTest test;
    bool repeat = repeatEnabled && repeatChecked;
    if (!path.empty() && !pathExists) {
        test.Message = kMissingSoundFile + path;
        return test;
    }
    test.Play = true;
    test.Repeat = repeat;
    test.StayPressed = repeat;
    return test;
}

CustomColors InitialCustomColors()
{
    CustomColors colors;
    colors.fill(0x00FFFFFF);
    return colors;
}

void PrepareCustomColors(CustomColors& colors, uint32_t windowColor, uint32_t buttonFaceColor)
{
    colors[0] = windowColor;
    colors[8] = buttonFaceColor;
}

FontRecord MergeChosenFont(const FontRecord& working, const ChosenFont& chosen)
{
    FontRecord merged = working;
    const FontRecord& font = chosen.Font;
    auto take = [&](uint32_t bit) {
        if (chosen.Valid & bit)
            merged.Mask |= bit;
        else
            merged.Mask &= ~bit;
        return (chosen.Valid & bit) != 0;
    };
    // Effects one bit each: bold, italic, underline, strike-out, protected.
    for (uint32_t bit : {FontRecord::kBold, FontRecord::kItalic, FontRecord::kUnderline,
                         FontRecord::kStrikeOut, kProtectedMask}) {
        if (take(bit))
            merged.Effects = (merged.Effects & ~bit) | (font.Effects & bit);
    }
    if (take(FontRecord::kSize))
        merged.Height = font.Height;
    if (take(FontRecord::kOffset))
        merged.Offset = font.Offset;
    if (take(FontRecord::kColor))
        merged.Color = font.Color;
    if (take(FontRecord::kCharSet))
        merged.CharSet = font.CharSet;
    if (take(FontRecord::kFace)) {
        merged.FaceName = font.FaceName;
        merged.PitchAndFamily = font.PitchAndFamily;
    } else {
        merged.FaceName.clear();
    }
    return merged;
}

const std::array<ExampleMessage, 2>& FormatExampleMessages()
{
    static const std::array<ExampleMessage, 2> messages = {{
        {"RT Holm",
         true,
         {},
         2005,
         10,
         28,
         9,
         42,
         32,
         "Hey, everyone, check this out!  Here's a utility almost as cool as Zib Tam!  "
         "https://www.gnu.org/software/coreutils/"},
        {"Owen Pratley",
         false,
         {"RT Holm"},
         2005,
         10,
         28,
         13,
         34,
         17,
         "By the way, did you know you don't _always_ have to send messages to all users?"},
    }};
    return messages;
}

NetworkingChoice ChoiceForNetworkingType(int type)
{
    NetworkingChoice choice;
    choice.PeerToPeer = type == 1;
    choice.ClientServer = type == 2 || type == 3;
    choice.Role = type == 3 ? ServerRole::Server : ServerRole::Client;
    return choice;
}

NetworkingVisibility VisibilityFor(const NetworkingChoice& choice)
{
    NetworkingVisibility shown;
    if (!choice.ClientServer)
        return shown;
    shown.RoleButtons = true;
    shown.PortRow = choice.Role != ServerRole::None;
    shown.ServerEdit = choice.Role == ServerRole::Client;
    shown.ComputerName = choice.Role == ServerRole::Server;
    return shown;
}

bool ParsePortText(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535)
        return false;
    port = value;
    return true;
}

int32_t PortFromText(const std::string& text)
{
    int port = kDefaultPort;
    return ParsePortText(text, port) ? port : kDefaultPort;
}

NetworkingCheck CheckNetworking(const NetworkingChoice& choice, const std::string& server,
                                const std::string& portText)
{
    NetworkingCheck check;
    if (choice.PeerToPeer) {
        check.Type = 1;
    } else if (choice.ClientServer) {
        if (choice.Role == ServerRole::None) {
            check.Message = kChooseRole;
            return check;
        }
        check.Type = choice.Role == ServerRole::Client ? 2 : 3;
    } else {
        check.Message = kChooseMode;
        return check;
    }
    if (check.Type == 2 && server.empty()) {
        check.Message = kChooseServer;
        return check;
    }
    int port = 0;
    if (check.Type != 1 && !portText.empty() && !ParsePortText(portText, port)) {
        check.Message = kChoosePort;
        return check;
    }
    check.Ok = true;
    return check;
}

void StoreNetworking(COptions& options, int type, const std::string& server,
                     const std::string& portText)
{
    options.Set(Opt::NetworkingType, type);
    options.Set(Opt::Server, server);
    options.Set(Opt::PortNumber, PortFromText(portText));
}
