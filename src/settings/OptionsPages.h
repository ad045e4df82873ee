#pragma once
// The decisions of the options pages, apart from their widgets: which controls are
// enabled or shown, what a page stores on OK and which input it refuses, with the
// message the user sees. The widgets only show these results and forward clicks.
#include "settings/Options.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kOptionsCaption[] = "Zib Tam Options";
inline constexpr char kPasswordPrompt[] = "Please enter the password"; // the box appends ":"
inline constexpr int kPasswordLimit = 255;
inline constexpr char kIncorrectPassword[] = "Incorrect password.";
inline constexpr int kNameEditLimit = 25; // the General page's name edit

// The password asked before the options open from the chat window. An empty stored
// password asks nothing; the comparison is case-sensitive. `stored` is the password as
// read from the settings.
enum class PasswordGate
{
    Open,      // no password, or the right one
    Cancelled, // the box was cancelled: nothing opens, nothing is said
    Refused    // a wrong entry: "Incorrect password." and nothing opens
};
PasswordGate CheckOptionsPassword(const std::string& stored, bool entered,
                                  const std::string& entry);

// General page: the password to store on OK, from the password edit's text (UTF-8).
// Unchecked, the empty password. Checked, the text as typed, blanks at its ends included
// (the password box gives them back as typed); refused with a message when it is empty or
// holds a character the stored form cannot keep, since either would leave the options
// open while the box said they were protected.
struct PasswordChoice
{
    bool Ok = false;
    std::string Password; // Windows-1252, when Ok
    std::string Message;  // why it was refused
};
PasswordChoice PasswordToStore(bool protect, std::string_view typed);
inline constexpr char kPasswordMissing[] =
    "Please enter a password, or clear the \"Password-protect options\" box.";
inline constexpr char kPasswordCharacters[] =
    "The password can hold letters (accented ones too), digits, punctuation and blanks of "
    "Western European languages only.";

// Notifications page.
inline constexpr int kPopUpBehaviour = 2; // "pop up dialog."
inline constexpr char kMissingSoundFile[] = "The sound file does not exist: ";
// The repeat box is of no use while a pop-up already stops the user.
inline bool RepeatSoundEnabled(int ordinaryBehaviour)
{
    return ordinaryBehaviour != kPopUpBehaviour;
}
inline int32_t RepeatSoundToStore(int ordinaryBehaviour, bool repeatChecked)
{
    return RepeatSoundEnabled(ordinaryBehaviour) && repeatChecked ? 1 : 0;
}

// What pressing "&Test" does: refuse a path naming no file, else play (repeating when
// the repeat box is enabled and checked); the button stays pressed only while a
// repeating sound plays.
struct SoundTest
{
    bool Play = false;
    bool Repeat = false;
    bool StayPressed = false;
    std::string Message; // non-empty when the file is missing
};
SoundTest DecideSoundTest(const std::string& path, bool pathExists, bool repeatEnabled,
                          bool repeatChecked);

// Format page.
// The colour chooser's sixteen custom colours: all white at first use; before each use
// the first becomes the window colour and the ninth the button-face colour.
using CustomColors = std::array<uint32_t, 16>;
CustomColors InitialCustomColors();
void PrepareCustomColors(CustomColors& colors, uint32_t windowColor, uint32_t buttonFaceColor);

// What the font chooser reports: the attributes it marks valid (FontRecord mask bits, the
// effects bits included) and their values.
struct ChosenFont
{
    uint32_t Valid = 0;
    FontRecord Font;
};
inline constexpr uint32_t kProtectedEffect = 0x10;
inline constexpr uint32_t kProtectedMask = 0x00000010;
// The working record takes each attribute the chooser marks valid; one it leaves
// unmarked loses its validity bit (the face also its name).
FontRecord MergeChosenFont(const FontRecord& working, const ChosenFont& chosen);

// Sample messages of the Format page's example.
struct ExampleMessage
{
    std::string Sender;
    bool AllUsers;
    std::vector<std::string> Recipients;
    int Year, Month, Day, Hour, Minute, Second;
    std::string Text;
};
const std::array<ExampleMessage, 2>& FormatExampleMessages();
inline constexpr char kExampleLinkNotice[] =
    "When you click a recipient link in the main Zib Tam dialog, Zib Tam will\n"
    "automatically select the appropriate recipients for your new message.";

// Networking page.
enum class ServerRole
{
    None,
    Client,
    Server
};
struct NetworkingChoice
{
    bool PeerToPeer = false;
    bool ClientServer = false;
    ServerRole Role = ServerRole::None;
};
// How the page opens for a stored "NetworkingType": "&Client" is preselected unless
// this copy is the server.
NetworkingChoice ChoiceForNetworkingType(int type);

struct NetworkingVisibility
{
    bool RoleButtons = false;  // "This computer is a", "&Client", "&Server"
    bool PortRow = false;      // "Server:", "Port:" and the port edit
    bool ServerEdit = false;   // server edit and "&Browse..."
    bool ComputerName = false; // the read-only field with this computer's name
};
NetworkingVisibility VisibilityFor(const NetworkingChoice& choice);

inline constexpr char kChooseRole[] =
    "Please specify whether this computer is a client or a server.";
inline constexpr char kChooseMode[] =
    "Please specify whether this Zib Tam should use peer-to-peer or client/server communication.";
inline constexpr char kChooseServer[] = "Please specify a Zib Tam server.";
inline constexpr char kChoosePort[] = "Please specify a port between 0 and 65535.";
inline constexpr char kBrowseTitle[] = "Please select a Zib Tam server.";
inline constexpr int32_t kDefaultPort = 34300;

// The port edit's text: digits only give that number, anything else the default. A
// number beyond the last TCP port (65535) would reach the socket cut to 16 bits, a
// different port than the one shown, so it counts as not a port.
int32_t PortFromText(const std::string& text);
// The same rule for a typed port (the Port edit, "--port"): false when `text` is not
// one to five digits naming a TCP port from 0 to 65535.
bool ParsePortText(const std::string& text, int& port);

struct NetworkingCheck
{
    bool Ok = false;
    int Type = 0;        // 1, 2 or 3 when Ok
    std::string Message; // why it was refused
};
// On leaving the page and on OK. A port the client/server rows show must be empty (the
// default) or a TCP port.
NetworkingCheck CheckNetworking(const NetworkingChoice& choice, const std::string& server,
                                const std::string& portText);

// What the Networking page stores on OK once the check passed.
void StoreNetworking(COptions& options, int type, const std::string& server,
                     const std::string& portText);
