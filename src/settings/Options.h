#pragma once
// The program's settings: a thin layer over the per-user registry. Nothing is cached;
// every read asks the registry at the moment of use, every write goes straight to it,
// so a change made anywhere is seen by the next read everywhere (other processes too).
#include "platform/Registry.h"
#include "platform/SystemInfo.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct NumberOption
{
    const char* Name;
    int32_t Default;
};

struct TextOption
{
    const char* Name;
    const char* Default;
};

namespace Opt {
inline constexpr NumberOption PromptOnAllUsers{"PromptOnAllUsers", 1};
inline constexpr NumberOption ClearChatOnClose{"ClearChatOnClose", 0};
inline constexpr NumberOption DefaultToLastSender{"DefaultToLastSender", 1};
inline constexpr NumberOption LogMessages{"LogMessages", 0};
inline constexpr NumberOption PlaySnd{"PlaySnd", 0};
inline constexpr NumberOption RepeatSound{"RepeatSound", 0};
inline constexpr NumberOption OnNewMessage{"OnNewMessage", 0};
inline constexpr NumberOption DlgX{"dlg-x", -1};
inline constexpr NumberOption DlgY{"dlg-y", -1};
inline constexpr NumberOption DlgWidth{"dlg-width", 468};
inline constexpr NumberOption DlgHeight{"dlg-height", 413};
inline constexpr NumberOption DlgMaximized{"dlg-maximized", 0};
inline constexpr NumberOption Turing{"Turing", 0};
inline constexpr NumberOption RecipientLinks{"RecipientLinks", 1};
inline constexpr NumberOption SelfChat{"SelfChat", 0};
inline constexpr NumberOption NetworkingType{"NetworkingType", 0};
inline constexpr NumberOption SendLaterHours{"SendLaterHours", 0};
inline constexpr NumberOption SendLaterMinutes{"SendLaterMinutes", 0};
inline constexpr NumberOption LogHistoryMonths{"LogHistoryMonths", 0};
inline constexpr NumberOption ClassicLogViewer{"ClassicLogViewer", 0};
inline constexpr NumberOption AllowAllUsers{"AllowAllUsers", 1};
inline constexpr NumberOption OnNewMessageAllUsers{"OnNewMessageAllUsers", 0};
inline constexpr NumberOption OnNewMessageAllUsersOverride{"OnNewMessageAllUsersOverride", 0};
inline constexpr NumberOption PortNumber{"PortNumber", 34300};

inline constexpr TextOption Username{"Username", ""};
inline constexpr TextOption LogPrefix{"LogPrefix", "<a>u</a> ('to' <a>r</a>) m/d/yy h:nn TT> "};
inline constexpr TextOption MessagePrefix{"MessagePrefix", "<a>u</a> ('to' <a>r</a>) h:nn TT> "};
inline constexpr TextOption DefaultRecipients{"DefaultRecipients", ""};
inline constexpr TextOption SoundPath{"SoundPath", ""};
inline constexpr TextOption ChatTextBackground{"ChatTextBackground", ""};
inline constexpr TextOption AutoType{"AutoType", ""};
inline constexpr TextOption Server{"Server", ""};
inline constexpr TextOption Install{"Install", ""};
inline constexpr TextOption LogPath{"LogPath", ""};
inline constexpr TextOption Version{"Version", ""};
} // namespace Opt

// Every plain value of the product key, in the order of the tables.
std::span<const NumberOption> AllNumberOptions();
std::span<const TextOption> AllTextOptions();

// The stored character format of a font (a rich-edit character format).
struct FontRecord
{
    static constexpr uint32_t kEffectsMask = 0x0000000F;
    static constexpr uint32_t kSize = 0x80000000;
    static constexpr uint32_t kOffset = 0x10000000;
    static constexpr uint32_t kColor = 0x40000000;
    static constexpr uint32_t kCharSet = 0x08000000;
    static constexpr uint32_t kFace = 0x20000000;
    static constexpr uint32_t kBold = 0x1, kItalic = 0x2, kUnderline = 0x4, kStrikeOut = 0x8;

    uint32_t Mask = 0;
    uint32_t Effects = 0;
    int32_t Height = 0; // twips; -1 = the control's default size
    int32_t Offset = 0;
    uint32_t Color = 0; // 0x00BBGGRR
    uint8_t CharSet = 0;
    uint8_t PitchAndFamily = 0;
    std::string FaceName;

    bool operator==(const FontRecord&) const = default;
};

enum class FontKey
{
    General,
    Prefix
};

// A row of the notification choices: what is stored, what the notifier acts on, what
// the options dialog lists.
struct NotificationChoice
{
    int32_t StoredValue;
    int Behaviour;
    const char* Text;
};

// One auto-responder rule as stored.
struct StoredRule
{
    std::string Name;
    std::string Condition;
    std::vector<std::string> Responses;
};

// The product key name for a primary or a secondary copy.
std::string ProductKeyPath(bool secondary);

// "Username" normalisation: brackets removed, tabs to blanks, trimmed, at most 25
// characters; the all-users names become empty.
std::string NormalizeUserName(const std::string& name);

// The options password is stored scrambled, one Windows-1252 byte per character. It
// holds the characters of Windows-1252 that show (letters, digits, punctuation, blanks,
// accented letters among them); the descrambled form keeps only those.
bool IsPasswordCharacter(unsigned char character);
std::string ScramblePassword(const std::string& password);
std::string DescramblePassword(const std::string& stored);

// "NetworkingType" as stored: how this copy reaches the other users.
enum class NetworkingType : int32_t
{
    NotChosen = 0,  // the first run asks
    PeerToPeer = 1, // no server
    Client = 2,     // client of the "Server"
    Server = 3,     // runs the server and is a client of it
};

class COptions
{
public:
    COptions(IRegistry& registry, const ISystemInfo& system, bool secondary);

    IRegistry& Registry() const { return m_registry; }
    const std::string& ProductKey() const { return m_productPath; }

    int32_t Get(const NumberOption& option) const;
    bool Set(const NumberOption& option, int32_t value);
    std::string Get(const TextOption& option) const;
    bool Set(const TextOption& option, const std::string& value);

    // Anything but the stored numbers of the types reads NotChosen.
    NetworkingType GetNetworkingType() const;
    bool SetNetworkingType(NetworkingType type);

    // The normalised stored name in `name`; true when it is non-empty. When it is empty,
    // `name` holds the normalised logon name instead (not stored).
    bool GetUserName(std::string& name) const;
    std::string GetUserName() const;
    bool SetUserName(const std::string& name);

    uint32_t GetChatTextBackground() const;
    bool SetChatTextBackground(uint32_t color);

    FontRecord GetFont(FontKey which) const;
    bool SetFont(FontKey which, const FontRecord& font);

    static const NotificationChoice& NotificationRow(int row); // rows 0..3, others refused
    static bool IsNotificationRow(int row) { return row >= 0 && row < 4; }
    // Behaviour code for a new message.
    int GetNotification(bool allUsers) const;
    bool SetNotification(int behaviour);
    bool SetAllUsersNotification(bool override, int behaviour);

    bool ReadRule(int n, StoredRule& rule) const;
    bool WriteRule(int n, const StoredRule& rule);
    bool DeleteRule(int n);

    std::string GetPassword() const;
    bool SetPassword(const std::string& password);

    // Derived paths.
    std::string GetBasePath() const;
    std::string GetLogPath() const;
    std::string GetStaleTempLogPath() const;
    std::string GetLogTempPath() const;
    std::string GetPermissionsPath() const;

private:
    std::string FontKeyPath(FontKey which) const;

    IRegistry& m_registry;
    const ISystemInfo& m_system;
    std::string m_productPath;
    CRegKey m_product;
};
