#include "settings/Options.h"

#include "platform/PrivateFiles.h"
#include "platform/ProgramFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::array kNumberOptions = {Opt::PromptOnAllUsers,
                                       Opt::ClearChatOnClose,
                                       Opt::DefaultToLastSender,
                                       Opt::LogMessages,
                                       Opt::PlaySnd,
                                       Opt::RepeatSound,
                                       Opt::OnNewMessage,
                                       Opt::DlgX,
                                       Opt::DlgY,
                                       Opt::DlgWidth,
                                       Opt::DlgHeight,
                                       Opt::DlgMaximized,
                                       Opt::Turing,
                                       Opt::RecipientLinks,
                                       Opt::SelfChat,
                                       Opt::NetworkingType,
                                       Opt::SendLaterHours,
                                       Opt::SendLaterMinutes,
                                       Opt::LogHistoryMonths,
                                       Opt::ClassicLogViewer,
                                       Opt::AllowAllUsers,
                                       Opt::OnNewMessageAllUsers,
                                       Opt::OnNewMessageAllUsersOverride,
                                       Opt::PortNumber};

constexpr std::array kTextOptions = {
    Opt::Username,          Opt::LogPrefix, Opt::MessagePrefix,
    Opt::DefaultRecipients, Opt::SoundPath, Opt::ChatTextBackground,
    Opt::AutoType,          Opt::Server,    Opt::Install,
    Opt::LogPath,           Opt::Version};

constexpr std::array<NotificationChoice, 4> kNotificationChoices = {{
    {0, 0, "flash taskbar."},
    {3, 1, "flash taskbar, then pop up."},
    {1, 2, "pop up dialog."},
    {2, 3, "do nothing."},
}};

constexpr char kPasswordKey[] = "Lanterns Quill Harbor Basket Orchid";
constexpr size_t kPasswordKeyLength = sizeof kPasswordKey - 1;
constexpr size_t kMaxUserName = 25;

bool EqualsNoCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

std::string RuleKeyPath(const std::string& product, int n)
{
    return product + "\\Turing\\Rule" + std::to_string(n + 1);
}

int BehaviourOfStored(int32_t stored)
{
    for (const auto& row : kNotificationChoices)
        if (row.StoredValue == stored)
            return row.Behaviour;
    return kNotificationChoices[0].Behaviour;
}

int32_t StoredOfBehaviour(int behaviour)
{
    for (const auto& row : kNotificationChoices)
        if (row.Behaviour == behaviour)
            return row.StoredValue;
    return kNotificationChoices[0].StoredValue;
}

bool IsExistingFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

bool IsWritableFolder(const fs::path& folder)
{
    return !folder.empty() && access(folder.c_str(), W_OK) == 0;
}

// Everything from the last "." of the file name goes. A dot in a folder name is not an
// extension: cutting there would put the program's files into the parent folder.
std::string WithoutExtension(std::string path)
{
    std::size_t name = path.find_last_of('/') + 1; // 0 when there is no folder
    if (auto dot = path.rfind('.'); dot != std::string::npos && dot > name)
        path.erase(dot);
    return path;
}

} // namespace

std::span<const NumberOption> AllNumberOptions()
{
    return kNumberOptions;
}

std::span<const TextOption> AllTextOptions()
{
    return kTextOptions;
}

std::string ProductKeyPath(bool secondary)
{
    return secondary ? "Software\\FernquillSoft\\Zib Tam (Secondary)"
                     : "Software\\FernquillSoft\\Zib Tam";
}

std::string NormalizeUserName(const std::string& stored)
{
    std::string name;
    for (char c : stored) {
        if (c == '[' || c == ']')
            continue;
        name += c == '\t' ? ' ' : c;
    }
    auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    auto first = std::find_if_not(name.begin(), name.end(), isBlank);
    auto last = std::find_if_not(name.rbegin(), name.rend(), isBlank).base();
    name = first < last ? std::string(first, last) : std::string();
    if (name.size() > kMaxUserName)
        name.resize(kMaxUserName);
    if (EqualsNoCase(name, "(All Users)") || EqualsNoCase(name, "all users"))
        name.clear();
    return name;
}

bool IsPasswordCharacter(unsigned char character)
{
    if (character < 0x20 || character == 0x7F)
        return false;
    // The five positions Windows-1252 leaves undefined.
    return character != 0x81 && character != 0x8D && character != 0x8F && character != 0x90 &&
           character != 0x9D;
}

std::string ScramblePassword(const std::string& password)
{
    std::string stored;
    for (size_t i = 0; i < password.size(); ++i) {
        unsigned value = static_cast<unsigned char>(password[i]) ^
                         static_cast<unsigned char>(kPasswordKey[i % kPasswordKeyLength]);
        char digits[4];
        std::snprintf(digits, sizeof digits, "%03u", value);
        stored += digits;
    }
    return stored;
}

std::string DescramblePassword(const std::string& stored)
{
    std::string password;
    for (size_t i = 0; i < stored.size(); i += 3) {
        std::string piece = stored.substr(i, 3);
        long number = std::strtol(piece.c_str(), nullptr, 10);
        int c =
            static_cast<int>((number ^ static_cast<unsigned char>(
                                           kPasswordKey[password.size() % kPasswordKeyLength])) &
                             0xFF);
        // Only characters that show come back: a tampered value cannot inject controls. The
        // C library's classes would drop accented letters and so the protection with them.
        if (IsPasswordCharacter(static_cast<unsigned char>(c)))
            password += static_cast<char>(c);
    }
    return password;
}

COptions::COptions(IRegistry& registry, const ISystemInfo& system, bool secondary)
    : m_registry(registry), m_system(system), m_productPath(ProductKeyPath(secondary))
{
    m_product.Open(registry, m_productPath, true);
    CRegKey(registry, FontKeyPath(FontKey::General), true);
    CRegKey(registry, FontKeyPath(FontKey::Prefix), true);
}

int32_t COptions::Get(const NumberOption& option) const
{
    return m_product.GetNumber(option.Name, option.Default);
}

bool COptions::Set(const NumberOption& option, int32_t value)
{
    return m_product.SetNumber(option.Name, value);
}

std::string COptions::Get(const TextOption& option) const
{
    return m_product.GetString(option.Name, option.Default);
}

bool COptions::Set(const TextOption& option, const std::string& value)
{
    return m_product.SetString(option.Name, value);
}

NetworkingType COptions::GetNetworkingType() const
{
    int32_t type = Get(Opt::NetworkingType);
    return type >= 1 && type <= 3 ? static_cast<NetworkingType>(type) : NetworkingType::NotChosen;
}

bool COptions::SetNetworkingType(NetworkingType type)
{
    return Set(Opt::NetworkingType, static_cast<int32_t>(type));
}

bool COptions::GetUserName(std::string& name) const
{
    name = NormalizeUserName(Get(Opt::Username));
    if (!name.empty())
        return true;
    name = NormalizeUserName(m_system.LogonName().substr(0, 256));
    return false;
}

std::string COptions::GetUserName() const
{
    std::string name;
    GetUserName(name);
    return name;
}

bool COptions::SetUserName(const std::string& name)
{
    return Set(Opt::Username, name);
}

uint32_t COptions::GetChatTextBackground() const
{
    std::string text = Get(Opt::ChatTextBackground);
    if (text.empty() || text == "Lite")
        return m_system.WindowColor();
    return static_cast<uint32_t>(std::strtoll(text.c_str(), nullptr, 10));
}

bool COptions::SetChatTextBackground(uint32_t color)
{
    return Set(Opt::ChatTextBackground,
               color == m_system.WindowColor() ? std::string() : std::to_string(color));
}

std::string COptions::FontKeyPath(FontKey which) const
{
    return m_productPath + (which == FontKey::General ? "\\GeneralFont" : "\\PrefixFont");
}

FontRecord COptions::GetFont(FontKey which) const
{
    CRegKey key(m_registry, FontKeyPath(which), true);
    FontRecord font;
    font.Mask = static_cast<uint32_t>(key.GetNumber("Mask", 0));
    font.Effects = static_cast<uint32_t>(key.GetNumber("Effects", 0));
    font.Height = key.GetNumber("Height", 0);
    font.Offset = key.GetNumber("Offset", 0);
    font.Color = static_cast<uint32_t>(key.GetNumber("Color", 0));
    font.CharSet = static_cast<uint8_t>(key.GetNumber("CharSet", 0));
    font.PitchAndFamily = static_cast<uint8_t>(key.GetNumber("PitchAndFamily", 0));
    font.FaceName = key.GetString("FaceName");

    if (which == FontKey::Prefix && font.Mask == 0) {
        font.Mask = FontRecord::kEffectsMask;
        font.Effects = FontRecord::kBold;
    }
    if (font.Height == 0 || !(font.Mask & FontRecord::kSize))
        font.Height = -1;
    if (font.Height == -1)
        font.Mask &= ~FontRecord::kSize;
    else
        font.Mask |= FontRecord::kSize;
    if (font.FaceName.empty())
        font.Mask &= ~FontRecord::kFace;
    else
        font.Mask |= FontRecord::kFace;
    return font;
}

bool COptions::SetFont(FontKey which, const FontRecord& font)
{
    CRegKey key(m_registry, FontKeyPath(which), true);
    for (const RegValue& value : key.Values())
        if (!EqualsNoCase(value.Name, "Mask"))
            key.DeleteValue(value.Name);
    bool ok = key.SetNumber("Mask", static_cast<int32_t>(font.Mask));
    if (font.Mask & FontRecord::kEffectsMask)
        ok &= key.SetNumber("Effects", static_cast<int32_t>(font.Effects));
    if (font.Mask & FontRecord::kSize)
        ok &= key.SetNumber("Height", font.Height);
    if (font.Mask & FontRecord::kOffset)
        ok &= key.SetNumber("Offset", font.Offset);
    if (font.Mask & FontRecord::kColor)
        ok &= key.SetNumber("Color", static_cast<int32_t>(font.Color));
    if (font.Mask & FontRecord::kCharSet)
        ok &= key.SetNumber("CharSet", font.CharSet);
    if (font.Mask & FontRecord::kFace) {
        ok &= key.SetNumber("PitchAndFamily", font.PitchAndFamily);
        ok &= key.SetString("FaceName", font.FaceName);
    }
    return ok;
}

const NotificationChoice& COptions::NotificationRow(int row)
{
    return kNotificationChoices.at(static_cast<size_t>(row));
}

int COptions::GetNotification(bool allUsers) const
{
    if (allUsers && Get(Opt::OnNewMessageAllUsersOverride) != 0)
        return BehaviourOfStored(Get(Opt::OnNewMessageAllUsers));
    return BehaviourOfStored(Get(Opt::OnNewMessage));
}

bool COptions::SetNotification(int behaviour)
{
    return Set(Opt::OnNewMessage, StoredOfBehaviour(behaviour));
}

bool COptions::SetAllUsersNotification(bool override, int behaviour)
{
    bool ok = Set(Opt::OnNewMessageAllUsersOverride, override ? 1 : 0);
    return Set(Opt::OnNewMessageAllUsers, StoredOfBehaviour(behaviour)) && ok;
}

bool COptions::ReadRule(int n, StoredRule& rule) const
{
    CRegKey key(m_registry, RuleKeyPath(m_productPath, n), false);
    if (!key.IsOpen())
        return false;
    rule.Name = key.GetString("Name", "Rule" + std::to_string(n + 1));
    rule.Condition = key.GetString("Condition");
    rule.Responses.clear();
    for (int i = 1;; ++i) {
        std::string response = key.GetString("Response" + std::to_string(i));
        if (response.empty())
            break;
        rule.Responses.push_back(response);
    }
    return true;
}

bool COptions::WriteRule(int n, const StoredRule& rule)
{
    CRegKey key(m_registry, RuleKeyPath(m_productPath, n), true);
    bool ok = key.SetString("Name", rule.Name);
    ok &= key.SetString("Condition", rule.Condition);
    size_t i = 0;
    for (; i < rule.Responses.size(); ++i)
        ok &= key.SetString("Response" + std::to_string(i + 1), rule.Responses[i]);
    while (key.DeleteValue("Response" + std::to_string(++i)))
        ;
    return ok;
}

bool COptions::DeleteRule(int n)
{
    return m_registry.DeleteKey(RuleKeyPath(m_productPath, n));
}

std::string COptions::GetPassword() const
{
    return DescramblePassword(Get(Opt::Version));
}

bool COptions::SetPassword(const std::string& password)
{
    return Set(Opt::Version, ScramblePassword(password));
}

std::string COptions::GetBasePath() const
{
    std::string install = Get(Opt::Install);
    std::string program = IsExistingFile(install) ? install : m_system.ExecutablePath();
    fs::path base(WithoutExtension(program));
    // A copy in a folder the user cannot write to keeps its files in the data folder, and
    // so does a package's copy whoever runs it: root can write to /usr/bin, but the package
    // manager owns that folder.
    if (IsPackageInstall(program) || !IsWritableFolder(base.parent_path())) {
        fs::path folder = fs::path(m_system.DataHome()) / "zibtam";
        MakePrivateFolders(folder.string());
        base = folder / base.filename();
    }
    return base.string();
}

std::string COptions::GetLogPath() const
{
    std::string path = Get(Opt::LogPath);
    return path.empty() ? GetBasePath() + ".xml" : path;
}

std::string COptions::GetStaleTempLogPath() const
{
    return GetBasePath() + ".tmp";
}

std::string COptions::GetLogTempPath() const
{
    // The file name in lower case; the folders stay as they are, since here letter case
    // names another folder.
    std::string path = GetLogPath();
    size_t slash = path.rfind('/');
    size_t name = slash == std::string::npos ? 0 : slash + 1;
    std::transform(path.begin() + static_cast<std::ptrdiff_t>(name), path.end(),
                   path.begin() + static_cast<std::ptrdiff_t>(name),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (path.size() - name >= 4 && path.compare(path.size() - 4, 4, ".xml") == 0)
        path.resize(path.size() - 4);
    return path + ".tmp";
}

std::string COptions::GetPermissionsPath() const
{
    std::string beside = GetBasePath() + " Permissions.xml";
    if (IsExistingFile(beside))
        return beside;
    std::string install = Get(Opt::Install);
    std::string exe = IsExistingFile(install) ? install : m_system.ExecutablePath();
    fs::path own = exe;
    std::string stem = WithoutExtension(own.filename().string());
    std::string besideExe = (own.parent_path() / (stem + " Permissions.xml")).string();
    if (IsExistingFile(besideExe))
        return besideExe;
    std::string configured =
        (fs::path(m_system.ConfigHome()) / "zibtam" / (stem + " Permissions.xml")).string();
    return IsExistingFile(configured) ? configured : besideExe;
}
