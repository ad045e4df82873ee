#pragma once
// The upgrade on this desktop. A file that a web browser downloads has no execute bit and
// cannot run, so the program fetches the server's file itself, under a setup name, into a
// folder of its own in the temporary folder, marks it executable and runs it; the setup
// copy then replaces the installed one. The installed copy is not touched until the new
// file has arrived whole.
#include <string>

// The file name of the fetched setup copy: a setup name keeps the kind of the copy
// ("SetupSecondary" makes a secondary one).
std::string UpgradeSetupName(bool secondary);

// A copy installed from a package lives under /usr and is upgraded with the package.
bool IsPackageInstall(const std::string& executable);

// Fetches `url` (following the server's redirect) to a new executable file; `path` is
// its path. False with `error` saying why; nothing is left behind then.
bool FetchUpgrade(const std::string& url, bool secondary, std::string& path, std::string& error,
                  int timeoutMs = 120000);

inline constexpr char kUpgradeConfirmText[] =
    "Zib Tam will download the upgrade from %s and start its setup.  Continue?";
inline constexpr char kUpgradeFailedText[] = "Zib Tam could not download the upgrade from %s:";
inline constexpr char kUpgradeStartFailedText[] =
    "Zib Tam could not start the setup program it downloaded (%s).";
inline constexpr char kUpgradePackageText[] =
    "This copy of Zib Tam was installed from a package, so it is upgraded with the package: "
    "update the zibtam package (for example, apt-get install --only-upgrade zibtam).  The "
    "server offers the new version at %s.";

class IPrompt;

// What the "&Upgrade..." link does: says to update the package for a package's copy;
// otherwise asks, fetches and starts the setup copy, or says why it could not. `start`
// starts a program (null: the system's). True when the setup copy was started.
bool RunUpgrade(const std::string& url, IPrompt& prompt, bool secondary,
                const std::string& executable, bool (*start)(const std::string& path) = nullptr);
