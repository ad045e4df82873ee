#pragma once
// AutoType: the stored "AutoType" text, formatted with the current time, typed into
// whatever program has the keyboard focus. The key events are planned here; typing them
// goes through the platform's keyboard layout and injection, which tests replace.
#include "platform/Clock.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class COptions;

// One keyboard input event: a virtual key pressed or released.
struct KeyInput
{
    uint16_t VirtualKey = 0;
    uint32_t Flags = 0; // kKeyDown or kKeyUp

    bool operator==(const KeyInput&) const = default;
};

inline constexpr uint32_t kKeyDown = 0;
inline constexpr uint32_t kKeyUp = 2;
inline constexpr uint16_t kVirtualKeyShift = 0x10;
inline constexpr uint16_t kVirtualKeyControl = 0x11;
inline constexpr uint16_t kVirtualKeyAlt = 0x12;

// Where the current keyboard layout has a character: the key, and whether Shift is held
// to get it. Found is false when no key gives the character (a layout may lend one a key
// of its own for the time being).
struct KeyLookup
{
    bool Found = false;
    uint16_t VirtualKey = 0;
    bool Shift = false;
};

// The current keyboard layout.
class IKeyboardLayout
{
public:
    virtual ~IKeyboardLayout() = default;
    // `character` is a Windows-1252 byte.
    virtual KeyLookup LookupCharacter(unsigned char character) = 0;
};

// The platform's input injection: hands key events to the focused program.
class IKeyInjector
{
public:
    virtual ~IKeyInjector() = default;
    // False on a desktop that does not let a program inject key events.
    virtual bool IsAvailable() const = 0;
    // All events in one go; false when the platform rejected them.
    virtual bool Inject(std::span<const KeyInput> events) = 0;
};

class CAutoTyper
{
public:
    CAutoTyper(IKeyboardLayout& layout, IKeyInjector& injector);

    // Appends the events of every character of `text`, in order. A character the layout
    // finds no key for is left out; the others release Control, Alt and Shift (the hot
    // key's modifiers may still be held), then press and release their key, with Shift
    // held around it when the layout needs it.
    void TypeText(std::string_view text);
    // Hands the whole list to the injection in one call.
    bool Inject();

    const std::vector<KeyInput>& Events() const { return m_events; }

private:
    void Append(uint16_t virtualKey, uint32_t flags);

    IKeyboardLayout& m_layout;
    IKeyInjector& m_injector;
    std::vector<KeyInput> m_events;
};

// The text the hot key types: `format` read as a prefix format and formatted with the
// time `now`, an empty sender and empty recipients.
std::string AutoTypeText(std::string_view format, std::time_t now);

inline constexpr char kAutoTypeHotKeyTakenText[] =
    "Zib Tam could not register the \"AutoType\" hot key.";
inline constexpr char kAutoTypeUnavailableText[] =
    "Zib Tam cannot type the \"AutoType\" text on this desktop: it does not let programs send "
    "key strokes (the X11 XTest extension is missing; a Wayland session does not offer it).";

// What the AutoType hot key does. The hot key itself is registered by the chat window, at
// its initialisation, only while "AutoType" is non-empty (WantsHotKey).
class CAutoType
{
public:
    // `report` shows a text to the user; it is used once, when typing cannot work here.
    CAutoType(const COptions& options, const IClock& clock, IKeyboardLayout& layout,
              IKeyInjector& injector, std::function<void(const std::string&)> report);

    static bool WantsHotKey(const COptions& options);

    // Types the current "AutoType" text; nothing when it is empty.
    void OnHotKey();

private:
    const COptions& m_options;
    const IClock& m_clock;
    IKeyboardLayout& m_layout;
    IKeyInjector& m_injector;
    std::function<void(const std::string&)> m_report;
    bool m_reported = false;
};
