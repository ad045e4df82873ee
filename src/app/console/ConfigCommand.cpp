#include "app/console/ConfigCommand.h"

#include "platform/Cp1252.h"

#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <strings.h>

namespace {

constexpr char kUsage[] = "usage: zibtam --config list | get NAME | set NAME VALUE | unset NAME";

struct ValuePath
{
    std::string Key;  // full key path
    std::string Name; // value name
    std::string Sub;  // subkey part relative to the product key ("" for the product key)
};

ValuePath Split(const COptions& options, const std::string& name)
{
    auto slash = name.rfind('\\');
    if (slash == std::string::npos)
        return {options.ProductKey(), name, {}};
    std::string sub = name.substr(0, slash);
    return {options.ProductKey() + "\\" + sub, name.substr(slash + 1), sub};
}

bool Is(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

const NumberOption* FindNumber(const std::string& name)
{
    for (const auto& option : AllNumberOptions())
        if (Is(name, option.Name))
            return &option;
    return nullptr;
}

const TextOption* FindText(const std::string& name)
{
    for (const auto& option : AllTextOptions())
        if (Is(name, option.Name))
            return &option;
    return nullptr;
}

// The type a value takes when the tables know it; nullopt for free-form values.
std::optional<RegType> KnownType(const ValuePath& path)
{
    if (path.Sub.empty()) {
        if (FindNumber(path.Name))
            return RegType::Number;
        if (FindText(path.Name))
            return RegType::String;
        return std::nullopt;
    }
    if (Is(path.Sub, "GeneralFont") || Is(path.Sub, "PrefixFont"))
        return Is(path.Name, "FaceName") ? RegType::String : RegType::Number;
    if (path.Sub.size() >= 6 && strncasecmp(path.Sub.c_str(), "Turing", 6) == 0)
        return RegType::String;
    if (Is(path.Sub, "SendLater"))
        return RegType::String;
    return std::nullopt;
}

std::string Show(const RegValue& value)
{
    if (value.Type == RegType::Number)
        return std::to_string(static_cast<int32_t>(value.Number));
    return Cp1252ToUtf8(value.Text);
}

bool ParseNumber(const std::string& text, int32_t& number)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno || *end || value < INT32_MIN || value > static_cast<long long>(UINT32_MAX))
        return false;
    number = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
}

// A value of the product key as the program reads it: defaults for what is missing, the
// user name normalised, an unknown networking type as 0, an empty text as its default.
std::optional<std::string> ReadAsProgram(const COptions& options, const std::string& name)
{
    if (Is(name, Opt::NetworkingType.Name))
        return std::to_string(static_cast<int>(options.GetNetworkingType()));
    if (const auto* number = FindNumber(name))
        return std::to_string(options.Get(*number));
    if (Is(name, Opt::Username.Name))
        return Cp1252ToUtf8(options.GetUserName());
    if (Is(name, Opt::ChatTextBackground.Name))
        return std::to_string(options.GetChatTextBackground());
    if (const auto* text = FindText(name))
        return Cp1252ToUtf8(options.Get(*text));
    return std::nullopt;
}

void List(COptions& options, std::ostream& out)
{
    IRegistry& registry = options.Registry();
    CRegKey product(registry, options.ProductKey(), false);
    // Known values first, in the order of the tables, as the program reads them; beside
    // them "(default)" where nothing is stored, or the stored value where it reads otherwise.
    auto known = [&](const char* name) {
        std::string read = *ReadAsProgram(options, name);
        auto stored = product.Query(name);
        out << name << " = " << read;
        if (!stored)
            out << " (default)";
        else if (Show(*stored) != read)
            out << " (stored: " << Show(*stored) << ")";
        out << '\n';
    };
    for (const auto& option : AllNumberOptions())
        known(option.Name);
    for (const auto& option : AllTextOptions())
        known(option.Name);
    for (const RegValue& value : product.Values())
        if (!FindNumber(value.Name) && !FindText(value.Name))
            out << value.Name << " = " << Show(value) << '\n';
    // Then every subkey, depth first, as KEY\NAME.
    std::vector<std::string> pending;
    for (const std::string& sub : registry.EnumSubkeys(product.Id()))
        pending.push_back(sub);
    while (!pending.empty()) {
        std::string sub = pending.front();
        pending.erase(pending.begin());
        CRegKey key(registry, options.ProductKey() + "\\" + sub, false);
        for (const RegValue& value : key.Values())
            out << Cp1252ToUtf8(sub) << '\\' << value.Name << " = " << Show(value) << '\n';
        auto children = registry.EnumSubkeys(key.Id());
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.insert(pending.begin(), sub + "\\" + *it);
    }
}

} // namespace

int RunConfigCommand(COptions& options, const std::vector<std::string>& arguments,
                     std::ostream& out, std::ostream& err)
{
    if (arguments.empty()) {
        err << kUsage << '\n';
        return 2;
    }
    const std::string& verb = arguments[0];
    if (verb == "list" && arguments.size() == 1) {
        List(options, out);
        return 0;
    }
    if (arguments.size() < 2) {
        err << kUsage << '\n';
        return 2;
    }
    ValuePath path = Split(options, Utf8ToCp1252(arguments[1]));
    IRegistry& registry = options.Registry();

    if (verb == "get" && arguments.size() == 2) {
        if (path.Sub.empty()) {
            if (auto read = ReadAsProgram(options, path.Name)) {
                out << *read << '\n';
                return 0;
            }
        }
        CRegKey key(registry, path.Key, false);
        if (auto stored = key.Query(path.Name)) {
            out << Show(*stored) << '\n';
            return 0;
        }
        err << "zibtam: no value named " << arguments[1] << '\n';
        return 1;
    }
    if (verb == "set" && arguments.size() == 3) {
        CRegKey key(registry, path.Key, true);
        std::optional<RegType> type = KnownType(path);
        if (!type) {
            auto existing = key.Query(path.Name);
            type = existing ? existing->Type : RegType::String;
        }
        bool stored = false;
        if (*type == RegType::Number) {
            int32_t number = 0;
            if (!ParseNumber(arguments[2], number)) {
                err << "zibtam: " << arguments[1] << " takes a number, not \"" << arguments[2]
                    << "\"\n";
                return 2;
            }
            stored = key.SetNumber(path.Name, number);
        } else {
            stored = key.SetString(path.Name, Utf8ToCp1252(arguments[2]));
        }
        if (!stored) {
            err << "zibtam: could not store " << arguments[1] << " in the settings\n";
            return 1;
        }
        return 0;
    }
    if (verb == "unset" && arguments.size() == 2) {
        CRegKey key(registry, path.Key, false);
        if (!key.DeleteValue(path.Name)) {
            err << "zibtam: no value named " << arguments[1] << '\n';
            return 1;
        }
        return 0;
    }
    err << kUsage << '\n';
    return 2;
}
