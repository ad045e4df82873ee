#include "platform/Identity.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// Atom values are fixed numbers of our own; only equality between copies matters.
constexpr InstanceIdentity kPrimary{false,
                                    "Fernquill_ZibTam",
                                    "Fernquill_ZibTamLogViewer",
                                    "Fernquill_ZibTam_AutoType",
                                    0xC101,
                                    0xC102,
                                    0xC103,
                                    0x5B8C5911,
                                    0x7951BACA,
                                    106,
                                    109};
constexpr InstanceIdentity kSecondary{true,
                                      "Fernquill_ZibTamSecondary",
                                      "Fernquill_ZibTamLogViewerSecondary",
                                      "Fernquill_ZibTam_AutoType",
                                      0xC111,
                                      0xC112,
                                      0xC103,
                                      0x042384EE,
                                      0x26FE6735,
                                      107,
                                      108};

std::string FileStem(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

} // namespace

const InstanceIdentity& InstanceIdentity::For(bool secondary)
{
    return secondary ? kSecondary : kPrimary;
}

bool IsSecondaryExecutable(const std::string& executablePath)
{
    std::string stem = FileStem(executablePath);
    return strcasecmp(stem.c_str(), "Zib Tam (Secondary)") == 0 ||
           strcasecmp(stem.c_str(), "SetupSecondary") == 0;
}

InstanceMode ModeFromCommandLine(const std::string& arguments)
{
    return arguments.compare(0, 4, "/log") == 0 ? InstanceMode::LogViewer : InstanceMode::Chat;
}

std::string MutexName(bool secondary, InstanceMode mode)
{
    std::string name = "ZibTam";
    if (mode == InstanceMode::LogViewer)
        name += "LogViewer";
    if (secondary)
        name += "Secondary";
    return name + "Mutex";
}

uint32_t IdentificationReply(const InstanceIdentity& own, InstanceMode ownMode, uint32_t magic)
{
    if (magic != own.Magic)
        return 0;
    return ownMode == InstanceMode::Chat ? own.ChatAtom : own.LogViewerAtom;
}

bool IsRunningInstanceReply(const InstanceIdentity& own, InstanceMode wanted, uint32_t reply)
{
    if (wanted == InstanceMode::LogViewer)
        return reply == own.LogViewerAtom;
    return reply == own.ChatAtom || reply == own.AlternativeReply;
}
