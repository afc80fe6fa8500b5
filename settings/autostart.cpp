// The XDG autostart entry of the desktop program.
#include "settings/autostart.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/atomic_file.h"
#include "settings/data_directory.h"

namespace qv {

namespace {

bool EntryExistsIn(const std::string& dir) {
    struct stat st {};
    return stat((dir + "/" + kAutostartFileName).c_str(), &st) == 0;
}

}  // namespace

std::string DefaultUserAutostartDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/autostart";
    }
    std::string home = HomeDirectory();
    if (!home.empty() && home.back() != '/') {
        home += '/';
    }
    return home + ".config/autostart";
}

bool RunningAsRoot() {
    return geteuid() == 0;
}

std::string DesktopExecValue(const std::string& programPath) {
    // Characters that make an Exec argument need quotes.
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (programPath.find_first_of(kReserved) == std::string::npos) {
        argument = programPath;
    } else {
        argument = "\"";
        for (char c : programPath) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                argument += '\\';
            }
            argument += c;
        }
        argument += '"';
    }
    // Then the rules of every string value: "%" would start a field code, and backslashes
    // and control characters are escaped once more.
    std::string value;
    for (char c : argument) {
        switch (c) {
            case '%':
                value += "%%";
                break;
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

Autostart::Autostart(std::string systemDir, std::string userDir, bool asRoot)
    : systemDir_(std::move(systemDir)), userDir_(std::move(userDir)), asRoot_(asRoot) {}

std::string Autostart::EntryPath() const {
    return (asRoot_ ? systemDir_ : userDir_) + "/" + kAutostartFileName;
}

bool Autostart::Exists() const {
    return EntryExistsIn(systemDir_) || EntryExistsIn(userDir_);
}

int Autostart::Write(const std::string& programPath) {
    if (programPath.empty()) {
        return EINVAL;
    }
    std::error_code ec;
    std::filesystem::create_directories(asRoot_ ? systemDir_ : userDir_, ec);
    if (ec) {
        return ec.value();
    }
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quorvane\n"
        "Exec=" +
        DesktopExecValue(programPath) +
        "\n"
        "X-GNOME-Autostart-enabled=true\n";
    int error = 0;
    if (!WriteFileAtomically(EntryPath(), entry, &error)) {
        return error != 0 ? error : EIO;
    }
    return 0;
}

void Autostart::Delete() {
    unlink(EntryPath().c_str());
}

}  // namespace qv
