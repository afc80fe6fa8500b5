// Where the data folder lives, and its creation.
#include "settings/data_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/safe_file.h"

namespace qv {

namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (IsSet(home)) {
        return home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && IsSet(found->pw_dir)) {
        return found->pw_dir;
    }
    return "";
}

std::string DataDirectoryPathFrom(const char* appData, const char* xdgDataHome, const char* home) {
    if (IsSet(appData)) {
        return std::string(appData) + "/Tarnwick";
    }
    if (IsSet(xdgDataHome) && xdgDataHome[0] == '/') {
        return std::string(xdgDataHome) + "/Tarnwick";
    }
    if (IsSet(home)) {
        std::string base(home);
        if (base.back() != '/') {
            base += '/';
        }
        return base + ".local/share/Tarnwick";
    }
    return ".local/share/Tarnwick";
}

std::string DataDirectoryPath() {
    std::string home = HomeDirectory();
    return DataDirectoryPathFrom(std::getenv("APPDATA"), std::getenv("XDG_DATA_HOME"),
                                 home.c_str());
}

void CreateDataDirectory(const std::string& dir) {
    if (dir.empty()) {
        return;
    }
    (void)MakeFolders(dir);
}

}  // namespace qv
