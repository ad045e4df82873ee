#pragma once
// Who this copy is: primary or secondary (by the executable's name), chat or log viewer
// (by the command line). Everything a copy registers with the desktop derives from these.
#include <cstdint>
#include <ctime>
#include <string>

enum class InstanceMode
{
    Chat = 1,
    LogViewer = 2
};

struct InstanceIdentity
{
    bool Secondary = false;
    const char* ChatAtomName;
    const char* LogViewerAtomName;
    const char* AutoTypeAtomName;
    uint32_t ChatAtom;      // answer of a chat window to the identification message
    uint32_t LogViewerAtom; // answer of a log viewer window
    uint32_t AutoTypeAtom;
    uint32_t Magic; // sent with the identification message
    uint32_t AlternativeReply;
    int LargeIcon;
    int SmallIcon;

    static const InstanceIdentity& For(bool secondary);
};

// The name of the desktop entry (res/<name>.desktop): the window's app id on Wayland and the
// "desktop-entry" of its notifications, so docks, portals and notification servers find it.
inline constexpr char kDesktopEntryName[] = "com.fernquillsoft.zibtam";

// True when the file name, without folder and extension, is "Zib Tam (Secondary)" or
// "SetupSecondary" in any letter case.
bool IsSecondaryExecutable(const std::string& executablePath);

// Log-viewer mode when the command line (after the program name) starts with "/log".
InstanceMode ModeFromCommandLine(const std::string& arguments);

// "ZibTam" [+ "LogViewer"] [+ "Secondary"] + "Mutex".
std::string MutexName(bool secondary, InstanceMode mode);

// The reply a running copy gives to the identification message with `magic`.
uint32_t IdentificationReply(const InstanceIdentity& own, InstanceMode ownMode, uint32_t magic);
// Whether `reply` identifies the running copy we are looking for.
bool IsRunningInstanceReply(const InstanceIdentity& own, InstanceMode wanted, uint32_t reply);
