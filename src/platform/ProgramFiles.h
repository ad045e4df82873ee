#pragma once
// Files the program carries besides its executable, and where an installed copy finds them.
#include <string>

// The log viewer's web view module: a file of this name beside the executable (a build or a
// setup's installation), or in lib/zibtam/modules next to the bin folder of a package's copy.
inline constexpr char kWebViewModuleName[] = "zibtam_webview.so";

// A copy installed from a package lives under /usr; the package manager upgrades and removes
// it.
bool IsPackageInstall(const std::string& executable);

// The module for `executable`: the first of its places that holds the file, else the one
// beside the executable.
std::string WebViewModuleFor(const std::string& executable);
