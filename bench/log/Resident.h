#pragma once
// Memory of a process and of the processes it started, from /proc.
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>

// A "Name:  N kB" line of /proc/PID/status (VmRSS, VmHWM) or smaps_rollup (Pss); 0 if none.
inline long ProcessKb(pid_t pid, const std::string& field, const char* file = "status")
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return 0;
}

inline long ResidentKb(pid_t pid)
{
    return ProcessKb(pid, "VmRSS");
}

// Every process below `parent` (the web engine's page processes are children of its zygote,
// itself a child of the viewer).
inline std::vector<pid_t> Descendants(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            found.push_back(pid);
            for (pid_t child : Descendants(pid))
                found.push_back(child);
        }
    }
    ::closedir(proc);
    return found;
}

// Resident kB of the processes below `parent`: summed RSS counts the pages the zygote's
// children share with it once per process; PSS shares them out.
inline long ChildrenResidentKb(pid_t parent)
{
    long total = 0;
    for (pid_t pid : Descendants(parent))
        total += ResidentKb(pid);
    return total;
}
inline long ChildrenPssKb(pid_t parent)
{
    long total = 0;
    for (pid_t pid : Descendants(parent))
        total += ProcessKb(pid, "Pss", "smaps_rollup");
    return total;
}
