#pragma once
// The program's global hot keys, what they are called, and the one notice that says which
// of them this desktop would not give us. On X11 CX11HotKeys grabs them; on Wayland
// CPortalHotKeys asks the desktop portal for them.
//
// Use (the chat window at initialisation):
//   for (const HotKey& key : ChatHotKeys(identity)) results.push_back({key, grab(key)});
//   std::string notice = HotKeyNotice(results);   // post it once when not empty
#include "platform/Identity.h"

#include <cstdint>
#include <string>
#include <vector>

enum HotKeyModifier : unsigned
{
    kHotKeyShift = 1,
    kHotKeyControl = 2,
    kHotKeyAlt = 4,
    kHotKeySuper = 8, // the Windows logo key
};

struct HotKey
{
    uint32_t Id = 0;          // the atom the key stands for
    unsigned Modifiers = 0;   // HotKeyModifier bits
    char Key = 0;             // a letter or digit, lower case
    const char* Purpose = ""; // what it does, as the desktop's shortcut settings show it
};

enum class HotKeyResult
{
    Registered,
    Taken,       // another program holds the key
    Unavailable, // no X11 here (a Wayland desktop, say)
    Invalid,     // the keyboard has no such key
    NotOffered,  // a Wayland desktop whose portal offers no global shortcuts
    Declined,    // the desktop asked the user, who did not allow the key
};

struct HotKeyOutcome
{
    HotKey Key;
    HotKeyResult Result;
};

// Super+G (Super+Q for a secondary copy) shows the chat window; Shift with it starts the
// log viewer.
std::vector<HotKey> ChatHotKeys(const InstanceIdentity& identity);
// Control+Alt+Shift+N types the "AutoType" text.
HotKey AutoTypeHotKey(const InstanceIdentity& identity);

// "Shift+Super+G", modifiers in the desktop's usual order.
std::string HotKeyText(const HotKey& key);
// The same as a shortcut trigger of the freedesktop portal: "SHIFT+LOGO+g".
std::string HotKeyTrigger(const HotKey& key);

// The notice for the history when some keys could not be had, or empty when all were.
std::string HotKeyNotice(const std::vector<HotKeyOutcome>& outcomes);
