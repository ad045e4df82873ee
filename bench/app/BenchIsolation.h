#pragma once
// The app benches run in a network namespace of their own (the fixed peer-to-peer ports
// clash with nothing) and with settings and data in a fresh temporary folder.
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <unistd.h>

// The temporary folder, or "" (having said why where it can) when the bench cannot be
// isolated.
inline std::string IsolateBench(const char* folderPrefix)
{
    if (::unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET) (run as root)");
        return {};
    }
    if (std::system("ip link set lo up") != 0)
        return {};
    std::string folder = std::string(folderPrefix) + "-XXXXXX";
    if (!::mkdtemp(folder.data()))
        return {};
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    return folder;
}
