// The data folder that holds the configuration, log and traceroute files of both programs.
#pragma once

#include <string>

namespace qv {

// The desktop program's data folder: $APPDATA/Tarnwick, else $XDG_DATA_HOME/Tarnwick, else
// $HOME/.local/share/Tarnwick. Computed afresh on every call.
std::string DataDirectoryPath();

// The rule of DataDirectoryPath with the environment given: each argument is the variable's
// value, or null when it is not set. An empty value counts as not set, and so does a
// relative XDG_DATA_HOME (the XDG rules ignore it). Without a home the folder is relative
// to the working directory; it is never the file-system root.
std::string DataDirectoryPathFrom(const char* appData, const char* xdgDataHome, const char* home);

// Creates the folder and any missing parents, each with permission bits 0755 whatever the
// umask (the service may run as root in a user's folder). Failures (it exists already, no
// permission) are ignored: the file operations that follow fail by themselves.
void CreateDataDirectory(const std::string& dir);

// The user's home folder: $HOME, else the password database; "" when neither knows it.
std::string HomeDirectory();

}  // namespace qv
