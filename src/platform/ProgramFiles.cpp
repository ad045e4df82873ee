#include "platform/ProgramFiles.h"

#include <filesystem>

namespace fs = std::filesystem;

bool IsPackageInstall(const std::string& executable)
{
    return executable.rfind("/usr/", 0) == 0;
}

std::string WebViewModuleFor(const std::string& executable)
{
    fs::path folder = fs::path(executable).parent_path();
    fs::path beside = folder / kWebViewModuleName;
    fs::path packaged = folder.parent_path() / "lib/zibtam/modules" / kWebViewModuleName;
    std::error_code error;
    if (!fs::is_regular_file(beside, error) && fs::is_regular_file(packaged, error))
        return packaged.string();
    return beside.string();
}
