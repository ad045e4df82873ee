#include "platform/PrivateFiles.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

bool MakePrivateFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    std::filesystem::path path = std::filesystem::path(folder).lexically_normal();
    std::filesystem::path partial;
    for (const auto& part : path) {
        partial /= part;
        if (part.empty() || part == "/" || part == "." || part == "..")
            continue;
        if (::mkdir(partial.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void KeepFilePrivate(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return;
    if ((info.st_mode & 077) != 0)
        ::chmod(path.c_str(), info.st_mode & 0700);
}
