#pragma once
// The user's settings store as every mode of the program opens it: the registry file
// under the configuration folder and the options over it, for the primary or the
// secondary copy as the executable's name says.
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"

#include <string>

class ISystemInfo;

// $XDG_CONFIG_HOME/zibtam/registry.sqlite3 (default ~/.config).
std::string SettingsFilePath(const ISystemInfo& system);

class CUserSettings
{
public:
    // `executablePath` is argv[0]: a copy named "Zib Tam (Secondary)" has settings of its own.
    CUserSettings(const ISystemInfo& system, const std::string& executablePath);
    CUserSettings(const CUserSettings&) = delete;
    CUserSettings& operator=(const CUserSettings&) = delete;

    COptions& Options() { return m_options; }
    CSqliteRegistry& Registry() { return m_registry; }
    bool Secondary() const { return m_secondary; }
    // False when the file could not be used; the options then run on defaults in memory.
    bool IsUsable() const { return m_registry.GetState() == CSqliteRegistry::State::Ok; }

private:
    bool m_secondary;
    CSqliteRegistry m_registry;
    COptions m_options;
};
