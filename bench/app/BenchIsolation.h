#pragma once
// The app benches run in a network namespace of their own (the fixed peer-to-peer ports
// clash with nothing) and with settings and data in a fresh temporary folder; a bench that
// needs another computer to talk to makes one.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
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

// A second computer on the bench's network: a namespace of its own joined to the bench's by
// a cable (a veth pair), the bench's computer at kBenchAddress and the other at
// kOtherAddress. `make` runs inside the other computer (sockets it makes stay there, so the
// bench can speak from that computer on any thread); then the calling thread is back on
// the bench's own. Call after IsolateBench, before any other thread starts.
inline constexpr const char* kBenchAddress = "10.77.0.1";
inline constexpr const char* kOtherAddress = "10.77.0.2";

inline bool WithOtherComputer(const std::function<bool()>& make)
{
    int own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (own < 0 || std::system("ip link add zt-bench type veth peer name zt-other && "
                               "ip addr add 10.77.0.1/24 dev zt-bench && "
                               "ip link set zt-bench up") != 0)
        return false;
    bool made = false;
    if (::unshare(CLONE_NEWNET) == 0) {
        // Not close-on-exec: `ip` finds the other computer through it.
        int other = ::open("/proc/thread-self/ns/net", O_RDONLY);
        made = other >= 0 && ::setns(own, CLONE_NEWNET) == 0 &&
               std::system(
                   ("ip link set zt-other netns /proc/self/fd/" + std::to_string(other)).c_str()) ==
                   0 &&
               ::setns(other, CLONE_NEWNET) == 0 &&
               std::system("ip link set lo up && ip addr add 10.77.0.2/24 dev zt-other && "
                           "ip link set zt-other up") == 0 &&
               make();
        if (other >= 0)
            ::close(other);
    }
    made = ::setns(own, CLONE_NEWNET) == 0 && made;
    ::close(own);
    return made;
}
