#pragma once
// Facts about this computer and user that the settings and start-up depend on.
#include <cstdint>
#include <string>

class ISystemInfo
{
public:
    virtual ~ISystemInfo() = default;
    virtual std::string LogonName() const = 0;      // the user's login name
    virtual std::string ExecutablePath() const = 0; // full path of the running program
    virtual std::string ConfigHome() const = 0;     // $XDG_CONFIG_HOME or ~/.config
    virtual std::string DataHome() const = 0;       // $XDG_DATA_HOME or ~/.local/share
    virtual uint32_t WindowColor() const = 0;       // the system window colour, 0x00BBGGRR
    virtual std::string ComputerName() const = 0;   // $COMPUTERNAME, else the host name
};

// The real facts, from the environment and the process.
class CSystemInfo : public ISystemInfo
{
public:
    std::string LogonName() const override;
    std::string ExecutablePath() const override;
    std::string ConfigHome() const override;
    std::string DataHome() const override;
    uint32_t WindowColor() const override { return m_windowColor; }
    std::string ComputerName() const override;
    // The widgets layer knows the real window colour once a palette exists.
    void SetWindowColor(uint32_t color) { m_windowColor = color; }

private:
    uint32_t m_windowColor = 0x00FFFFFF;
};
