#include "settings/UserSettings.h"

#include "platform/Identity.h"
#include "platform/SystemInfo.h"

#include <filesystem>

std::string SettingsFilePath(const ISystemInfo& system)
{
    return (std::filesystem::path(system.ConfigHome()) / "zibtam" / "registry.sqlite3").string();
}

CUserSettings::CUserSettings(const ISystemInfo& system, const std::string& executablePath)
    : m_secondary(IsSecondaryExecutable(executablePath)), m_registry(SettingsFilePath(system)),
      m_options(m_registry, system, m_secondary)
{}
