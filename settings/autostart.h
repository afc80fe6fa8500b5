// Whether the desktop program starts with the session: an XDG autostart entry
// "Brevix.desktop" that runs the program's full path.
#pragma once

#include <string>

namespace qv {

inline constexpr const char* kAutostartFileName = "Brevix.desktop";

// $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
std::string DefaultUserAutostartDir();
bool RunningAsRoot();

// The Exec= value that runs exactly `programPath` with no arguments: quoted where the
// Desktop Entry rules ask for it, with their escapes.
std::string DesktopExecValue(const std::string& programPath);

class Autostart {
  public:
    // The machine's folder is used as root (an ordinary user cannot write it), the user's
    // folder otherwise. Both are injectable for tests.
    explicit Autostart(std::string systemDir = "/etc/xdg/autostart",
                       std::string userDir = DefaultUserAutostartDir(),
                       bool asRoot = RunningAsRoot());

    // True when an entry exists in either folder.
    bool Exists() const;
    // Writes the entry into the folder for this user (creating the folder); 0 or the errno
    // of the failed step. The previous entry stays intact when writing fails.
    int Write(const std::string& programPath);
    // Removes the entry from the folder Write uses; failures are ignored.
    void Delete();

    // The entry file Write and Delete use.
    std::string EntryPath() const;

  private:
    std::string systemDir_;
    std::string userDir_;
    bool asRoot_;
};

}  // namespace qv
