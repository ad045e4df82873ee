#include "app/desktop/HotKeys.h"

#include <array>
#include <cctype>

std::vector<HotKey> ChatHotKeys(const InstanceIdentity& identity)
{
    char key = identity.Secondary ? 'q' : 'g';
    return {
        {identity.ChatAtom, kHotKeySuper, key, "Show the Zib Tam chat window"},
        {identity.LogViewerAtom, kHotKeyShift | kHotKeySuper, key, "Open the Zib Tam log viewer"}};
}

HotKey AutoTypeHotKey(const InstanceIdentity& identity)
{
    return {identity.AutoTypeAtom, kHotKeyControl | kHotKeyAlt | kHotKeyShift, 'n',
            "Type the Zib Tam AutoType text"};
}

namespace {

// The modifiers by the names `names` gives them (Control, Alt, Shift, Super), then the key.
std::string SpellKey(const HotKey& key, const std::array<const char*, 4>& names, bool upper)
{
    static constexpr uint32_t kOrder[] = {kHotKeyControl, kHotKeyAlt, kHotKeyShift, kHotKeySuper};
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        if (key.Modifiers & kOrder[i])
            text += std::string(names[i]) + '+';
    unsigned char letter = static_cast<unsigned char>(key.Key);
    text += static_cast<char>(upper ? std::toupper(letter) : std::tolower(letter));
    return text;
}

} // namespace

std::string HotKeyText(const HotKey& key)
{
    return SpellKey(key, {"Control", "Alt", "Shift", "Super"}, true);
}

std::string HotKeyTrigger(const HotKey& key)
{
    return SpellKey(key, {"CTRL", "ALT", "SHIFT", "LOGO"}, false);
}

namespace {

std::string JoinKeys(const std::vector<HotKey>& keys)
{
    std::string text;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0)
            text += i + 1 == keys.size() ? " and " : ", ";
        text += HotKeyText(keys[i]);
    }
    return text;
}

// "hot key Super+G" or "hot keys Super+G and Shift+Super+G".
std::string Keys(const std::vector<HotKey>& keys)
{
    return (keys.size() > 1 ? "hot keys " : "hot key ") + JoinKeys(keys);
}

} // namespace

std::string HotKeyNotice(const std::vector<HotKeyOutcome>& outcomes)
{
    std::vector<HotKey> unavailable, taken, invalid, notOffered, declined;
    for (const HotKeyOutcome& outcome : outcomes) {
        if (outcome.Result == HotKeyResult::Unavailable)
            unavailable.push_back(outcome.Key);
        else if (outcome.Result == HotKeyResult::Taken)
            taken.push_back(outcome.Key);
        else if (outcome.Result == HotKeyResult::Invalid)
            invalid.push_back(outcome.Key);
        else if (outcome.Result == HotKeyResult::NotOffered)
            notOffered.push_back(outcome.Key);
        else if (outcome.Result == HotKeyResult::Declined)
            declined.push_back(outcome.Key);
    }
    std::string notice;
    auto add = [&notice](const std::string& line) {
        if (!notice.empty())
            notice += "\n";
        notice += line;
    };
    if (!unavailable.empty())
        add("The " + Keys(unavailable) +
            " cannot be used on this desktop: global hot keys need an X11 session. Open Zib "
            "Tam from its icon instead.");
    if (!taken.empty())
        add("Zib Tam could not register the " + Keys(taken) + ": another program " +
            (taken.size() > 1 ? "holds them." : "holds it."));
    if (!invalid.empty())
        add("Zib Tam could not register the " + Keys(invalid) + ": the keyboard has no such key.");
    if (!notOffered.empty())
        add("The " + Keys(notOffered) +
            " cannot be used on this desktop: it offers programs no global shortcuts (its "
            "desktop portal has no GlobalShortcuts service).");
    if (!declined.empty())
        add("The " + Keys(declined) + (declined.size() > 1 ? " were" : " was") +
            " refused when the desktop asked whether Zib Tam may have " +
            (declined.size() > 1 ? "them." : "it."));
    if (!notOffered.empty() || !declined.empty())
        add("To bring Zib Tam up with a key, make a shortcut in the desktop's keyboard settings "
            "that runs zibtam: starting it again shows the window.");
    return notice;
}
