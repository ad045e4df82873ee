#pragma once
// The upgrade on this desktop. A file that a web browser downloads has no execute bit and
// cannot run, so the program fetches the server's file itself, under a setup name, into a
// folder of its own in the temporary folder, marks it executable and runs it; the setup
// copy then replaces the installed one and removes itself. The installed copy is not
// touched until the new file has arrived whole.
//
// The file runs with the user's rights, so it is taken only from the server the program is
// logged on to (a redirect to another address is refused), only up to a size that this
// program can have, and only when it is a program for this machine that names a newer
// version of Zib Tam.
#include "net/Frame.h"
#include "platform/ProgramFiles.h"

#include <cstdint>
#include <string>

// The file name of the fetched setup copy: a setup name keeps the kind of the copy
// ("SetupSecondary" makes a secondary one).
std::string UpgradeSetupName(bool secondary);

// A later build of this program is about the size of this one: four times that leaves room
// for a version that grew, and a server sending more is not sending this program.
inline constexpr std::uintmax_t kUpgradeSizeFactor = 4;
// The cap when the running program's size cannot be read: far above any build of it.
inline constexpr std::uintmax_t kUpgradeSizeUnknownCap = std::uintmax_t{64} << 20;
// The largest upgrade file taken by a program of `ownSize` bytes (0: not known).
std::uintmax_t UpgradeSizeLimit(std::uintmax_t ownSize);

// Fetches `url` to a new executable file; `path` is its path. A redirect is followed only
// to the same server (scheme, host and port); a file larger than `maxBytes` is refused as
// soon as that shows. False with `error` saying why; nothing is left behind then.
bool FetchUpgrade(const std::string& url, bool secondary, std::string& path, std::string& error,
                  std::uintmax_t maxBytes, int timeoutMs = 120000);

// How long a fetched program has to answer "--version"; this program answers at once.
inline constexpr int kVersionAnswerMs = 10000;

// Whether the file at `path` is a program of this program's kind: an ELF executable for the
// machine the running program is built for, that answers "--version" with a version above
// `ownVersion`. False with `error` saying why.
bool CheckUpgradeProgram(const std::string& path, int ownVersion, std::string& error,
                         int answerMs = kVersionAnswerMs);

inline constexpr char kUpgradeConfirmText[] =
    "Zib Tam will download the upgrade from the server %s (%s) and start its setup.  Continue?";
inline constexpr char kUpgradeFailedText[] = "Zib Tam could not download the upgrade from %s:";
inline constexpr char kUpgradeRefusedText[] =
    "Zib Tam did not start the file that the server %s sent as its upgrade:";
inline constexpr char kUpgradeStartFailedText[] =
    "Zib Tam could not start the setup program it downloaded (%s).";
inline constexpr char kUpgradePackageText[] =
    "This copy of Zib Tam was installed from a package, so it is upgraded with the package: "
    "update the zibtam package (for example, apt-get install --only-upgrade zibtam).  The "
    "server offers the new version at %s.";

class IPrompt;

// What the "&Upgrade..." link does: says to update the package for a package's copy;
// otherwise asks, naming the server, fetches and checks the setup copy and starts it, or
// says why it did not. `start` starts a program (null: the system's). True when the setup
// copy was started.
bool RunUpgrade(const std::string& url, IPrompt& prompt, bool secondary,
                const std::string& executable, bool (*start)(const std::string& path) = nullptr,
                int ownVersion = kProtocolVersion);
