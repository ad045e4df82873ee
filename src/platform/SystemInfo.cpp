#include "platform/SystemInfo.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()))
            home = entry->pw_dir ? entry->pw_dir : "";
    }
    return home.empty() ? std::string("/tmp") : home;
}

} // namespace

std::string CSystemInfo::LogonName() const
{
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name)
        return entry->pw_name;
    return Environment("USER");
}

std::string CSystemInfo::ExecutablePath() const
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string CSystemInfo::ConfigHome() const
{
    std::string folder = Environment("XDG_CONFIG_HOME");
    return folder.empty() ? HomeFolder() + "/.config" : folder;
}

std::string CSystemInfo::DataHome() const
{
    std::string folder = Environment("XDG_DATA_HOME");
    return folder.empty() ? HomeFolder() + "/.local/share" : folder;
}

std::string CSystemInfo::ComputerName() const
{
    std::string name = Environment("COMPUTERNAME");
    if (name.empty()) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0)
            name = host;
        name = name.substr(0, name.find('.'));
    }
    return name.substr(0, 15);
}
