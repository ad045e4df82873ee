#pragma once
// Files only their user may read (the settings database, the message log): the folders the
// program makes for them are 0700 and the files 0600, whatever the umask. Folders that
// exist already are the user's choice and stay as they are.
#include <string>
#include <sys/types.h>

inline constexpr mode_t kPrivateFolderMode = 0700;
inline constexpr mode_t kPrivateFileMode = 0600;

// Makes `folder` and the folders above it that are missing, each 0700. True when the
// folder exists afterwards.
bool MakePrivateFolders(const std::string& folder);

// Takes the permissions of group and others away from a file of this user (a file of an
// older copy that was made readable by all); files of other users are left alone.
void KeepFilePrivate(const std::string& path);
