// The service-manager operations on systemd: a unit file plus systemctl (and loginctl).
#include "service/systemd_install.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/error_text.h"
#include "platform/net.h"
#include "platform/safe_file.h"

namespace qv {

namespace {

std::string UnitPath(const SystemdSeams& seams) {
    return (std::filesystem::path(seams.unitDirectory) / kUnitName).string();
}

// systemctl or loginctl with the scope's options.
ProcessResult RunCtl(const SystemdSeams& seams, std::vector<std::string> words) {
    std::vector<std::string> argv{seams.systemctl};
    if (!seams.systemScope) {
        argv.push_back("--user");
    }
    argv.insert(argv.end(), words.begin(), words.end());
    return seams.runner.Run(argv);
}

// 0 on success, else the program's exit code, or errno when it could not be started.
int Outcome(const ProcessResult& result) {
    if (result.startError != 0) {
        return result.startError;
    }
    return result.exitCode;
}

// Why a systemctl call failed, in the words of the system: systemctl's own last line when
// it said something, else how it ended.
std::string CtlFailureText(const SystemdSeams& seams, const std::string& verb,
                           const ProcessResult& result) {
    if (result.startError != 0) {
        return seams.systemctl + ": " + SystemErrorText(result.startError);
    }
    std::string_view output = result.output;
    while (!output.empty() &&
           (output.back() == '\n' || output.back() == '\r' || output.back() == ' ')) {
        output.remove_suffix(1);
    }
    const size_t lineStart = output.find_last_of('\n');
    output.remove_prefix(lineStart == std::string_view::npos ? 0 : lineStart + 1);
    if (!output.empty()) {
        return std::string(output);
    }
    return seams.systemctl + " " + verb + " ended with code " + std::to_string(result.exitCode);
}

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

}  // namespace

std::string UserUnitDirectory(const char* xdgConfigHome, const char* home) {
    // Relative values of XDG_CONFIG_HOME are invalid and ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::string(xdgConfigHome) + "/systemd/user";
    }
    return std::string(home != nullptr ? home : "") + "/.config/systemd/user";
}

SystemdSeams DefaultSystemdSeams(ProcessRunner& runner, Clock& clock) {
    SystemdSeams seams{runner, clock};
    seams.programPath = RunningProgramPath();
    if (::geteuid() == 0) {
        seams.systemScope = true;
        seams.unitDirectory = "/etc/systemd/system";
        return seams;
    }
    seams.systemScope = false;
    std::string homeDir;
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        seams.userName = pw.pw_name;
        homeDir = pw.pw_dir;
    }
    const char* home = ::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        home = homeDir.c_str();
    }
    seams.unitDirectory = UserUnitDirectory(::getenv("XDG_CONFIG_HOME"), home);
    return seams;
}

std::optional<std::string> QuoteExecProgram(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    std::string quoted = "\"";
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\'' || c == '\\') {
            return std::nullopt;
        }
        if (c == '%') {
            quoted.push_back('%');  // specifier
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string QuoteExecArgument(std::string_view word) {
    std::string quoted = "\"";
    for (char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '%':  // specifier
                quoted.append("%%");
                break;
            case '$':  // environment variable
                quoted.append("$$");
                break;
            case '\\':
                quoted.append("\\\\");
                break;
            case '"':
                quoted.append("\\\"");
                break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    // A raw line break would end the line of the unit file.
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
                    quoted.append(escape);
                } else {
                    quoted.push_back(c);
                }
        }
    }
    quoted.push_back('"');
    return quoted;
}

std::string UnitUserOf(const std::string& dir) {
    // A folder not made yet will be made by the service, so the nearest one that exists
    // says whose it is.
    std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
    struct stat st {};
    while (::stat(path.c_str(), &st) != 0) {
        if (!path.has_relative_path()) {
            return "root";
        }
        path = path.parent_path();
    }
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(st.st_uid, &pw, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        // A name systemd could read otherwise (a specifier, a blank) goes by its number.
        const std::string name = pw.pw_name;
        bool plain = !name.empty() && name.front() != '-';
        for (char c : name) {
            plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' ||
                              c == '.');
        }
        if (plain) {
            return name;
        }
    }
    return std::to_string(st.st_uid);
}

std::string SandboxLines(const std::string& dataDir, bool systemScope) {
    // What needs no namespaces, so a user manager applies it too: no privilege gained
    // through programs it starts (the traceroute tool), only the socket kinds that probes,
    // mail, name lookup and systemd's notification use, and ordinary system calls (others
    // fail with EPERM instead of killing the service).
    std::string text =
        "NoNewPrivileges=yes\n"
        "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK\n"
        "RestrictRealtime=yes\n"
        "RestrictSUIDSGID=yes\n"
        "LockPersonality=yes\n"
        "SystemCallArchitectures=native\n"
        "SystemCallFilter=@system-service\n"
        "SystemCallFilter=~@privileged @resources\n"
        "SystemCallErrorNumber=EPERM\n"
        "UMask=0022\n";
    if (!systemScope) {
        return text;
    }
    text.append(
        "CapabilityBoundingSet=CAP_NET_RAW\n"
        "PrivateTmp=yes\n"
        "PrivateDevices=yes\n"
        "PrivateMounts=yes\n"
        "ProtectKernelTunables=yes\n"
        "ProtectKernelModules=yes\n"
        "ProtectKernelLogs=yes\n"
        "ProtectControlGroups=yes\n"
        "ProtectClock=yes\n"
        "ProtectHostname=yes\n"
        "ProtectProc=invisible\n"
        "ProcSubset=pid\n"
        "RestrictNamespaces=yes\n"
        "RemoveIPC=yes\n");
    // The whole system read-only but the data folder. A folder whose name a path list
    // cannot hold keeps the system writable rather than leave the service unable to write.
    // A path list takes quotes but no escapes: the program path's rules.
    std::optional<std::string> writable = QuoteExecProgram(dataDir);
    if (!writable) {
        return text;
    }
    text.append("ProtectSystem=strict\n");
    text.append("ReadWritePaths=").append(*writable).append("\n");
    // Homes stay readable (a sound file there) where the data folder lies inside one.
    const bool inHome = dataDir.starts_with("/home/") || dataDir.starts_with("/root/") ||
                        dataDir.starts_with("/run/user/");
    text.append("ProtectHome=").append(inHome ? "read-only" : "yes").append("\n");
    return text;
}

std::optional<std::string> UnitText(const std::string& programPath, const std::string& dataDir,
                                    bool systemScope, const std::string& user) {
    std::optional<std::string> program = QuoteExecProgram(programPath);
    if (!program) {
        return std::nullopt;
    }
    std::string text;
    text.append("[Unit]\n");
    text.append("Description=").append(kServiceDisplayName).append("\n");
    if (systemScope) {
        // Started at boot: host names must be resolvable and routes up before probing.
        // (A user manager cannot see this target.)
        text.append("Wants=network-online.target\n");
        text.append("After=network-online.target\n");
    }
    text.append("\n[Service]\n");
    text.append("Type=notify\n");
    if (systemScope && !user.empty()) {
        // The owner of the data folder, not root; raw ICMP sockets are all it needs beyond.
        text.append("User=").append(user).append("\n");
        text.append("AmbientCapabilities=CAP_NET_RAW\n");
    }
    text.append("ExecStart=")
        .append(*program)
        .append(" ")
        .append(QuoteExecArgument(dataDir))
        .append("\n");
    text.append("Restart=on-failure\n");
    text.append("RestartSec=5\n");
    // The run loop ends within a tick; a daily report being written needs a few seconds
    // more, but not the 90 s systemd grants by default.
    text.append("TimeoutStopSec=").append(std::to_string(kStopTimeoutSeconds)).append("\n");
    text.append(SandboxLines(dataDir, systemScope));
    text.append("\n[Install]\n");
    text.append("WantedBy=").append(systemScope ? "multi-user.target" : "default.target");
    text.append("\n");
    return text;
}

namespace {

constexpr const char* kTemplateProgram = "/@PROGRAM@";
constexpr const char* kTemplateDataDir = "/home/@DATA_DIR@";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

}  // namespace

std::string UnitTemplate() {
    std::string unit = UnitText(kTemplateProgram, kTemplateDataDir, true, "@USER@").value_or("");
    ReplaceAll(unit, "ReadWritePaths=" + QuoteExecProgram(kTemplateDataDir).value_or(""),
               "ReadWritePaths=@READ_WRITE@");
    ReplaceAll(unit, QuoteExecArgument(kTemplateDataDir), "\"@DATA_DIR@\"");
    ReplaceAll(unit, QuoteExecProgram(kTemplateProgram).value_or(""), "\"@PROGRAM@\"");
    return "# The unit that `HalvoricSvc -i <data folder>` writes itself as root (a user unit, in\n"
           "# ~/.config/systemd/user, has WantedBy=default.target and no network ordering,\n"
           "# User=, capability or namespace lines). Made from the program's own text when it\n"
           "# is built; the program does not read this file. @PROGRAM@ and @DATA_DIR@ are\n"
           "# quoted and escaped for systemd (\"%\" doubled; in the folder also \"$\", \"\\\"\n"
           "# and double quotes escaped). @USER@ is the owner of the data folder; @READ_WRITE@\n"
           "# the data folder for ReadWritePaths= (double-quoted, \"%\" doubled; a folder such a\n"
           "# list cannot hold keeps the system writable instead), and ProtectHome= is\n"
           "# read-only when the folder lies in a home, else yes.\n" +
           unit;
}

std::string FillUnitTemplate(const std::string& unitTemplate, const std::string& quotedProgram,
                             const std::string& quotedDataDir, const std::string& user,
                             const std::string& quotedWritable) {
    std::string unit;
    size_t start = 0;
    while (start < unitTemplate.size()) {
        size_t end = unitTemplate.find('\n', start);
        end = end == std::string::npos ? unitTemplate.size() : end + 1;
        if (unitTemplate[start] != '#') {
            unit.append(unitTemplate, start, end - start);
        }
        start = end;
    }
    ReplaceAll(unit, "\"@PROGRAM@\"", quotedProgram);
    ReplaceAll(unit, "\"@DATA_DIR@\"", quotedDataDir);
    ReplaceAll(unit, "@USER@", user);
    ReplaceAll(unit, "@READ_WRITE@", quotedWritable);
    return unit;
}

bool InstallService(const SystemdSeams& seams, const std::string& dataDir, std::ostream& out,
                    std::ostream& err, std::string* reason) {
    if (dataDir.empty()) {
        out << "error=" << EINVAL;
        SetReason(reason, "no data folder was given");
        return false;
    }
    // systemd starts services in "/", so a relative folder would name another place.
    std::error_code ec;
    std::string absoluteDir = std::filesystem::absolute(dataDir, ec).string();
    if (ec) {
        out << "error=" << ec.value();
        SetReason(reason, FileErrorText(dataDir, ec.value()));
        return false;
    }
    std::optional<std::string> unit =
        UnitText(seams.programPath, absoluteDir, seams.systemScope,
                 seams.systemScope ? UnitUserOf(absoluteDir) : std::string());
    if (!unit) {
        out << "error=" << EINVAL;
        SetReason(reason, "systemd cannot start the program " + seams.programPath +
                              " (a relative path, or quotes, backslashes or control "
                              "characters in it)");
        return false;
    }
    std::filesystem::create_directories(seams.unitDirectory, ec);
    if (ec) {
        SetReason(reason, FileErrorText(seams.unitDirectory, ec.value()));
        return false;
    }
    const std::string unitPath = UnitPath(seams);
    int error = 0;
    if (!CreateFileAtomically(unitPath, *unit, 0644, &error)) {
        out << "error=" << error;
        SetReason(reason, error == EEXIST ? "the service is already installed (" + unitPath + ")"
                                          : FileErrorText(unitPath, error));
        return false;
    }
    const ProcessResult reload = RunCtl(seams, {"daemon-reload"});
    if (Outcome(reload) != 0) {
        // The service manager cannot be reached: leave nothing half installed.
        ::unlink(unitPath.c_str());
        SetReason(reason, CtlFailureText(seams, "daemon-reload", reload));
        return false;
    }
    const ProcessResult enable = RunCtl(seams, {"enable", std::string(kUnitName)});
    if (int enabled = Outcome(enable); enabled != 0) {
        out << "error=" << enabled;
        ::unlink(unitPath.c_str());
        RunCtl(seams, {"daemon-reload"});
        SetReason(reason, CtlFailureText(seams, "enable", enable));
        return false;
    }
    if (!seams.systemScope) {
        // A user's services otherwise end with the user's last session.
        std::vector<std::string> argv{seams.loginctl, "enable-linger"};
        if (!seams.userName.empty()) {
            argv.push_back(seams.userName);
        }
        int lingering = Outcome(seams.runner.Run(argv));
        if (lingering != 0) {
            err << kServiceName
                << ": The service runs only while you are logged in: can't enable lingering, error="
                << lingering << "\n";
            err.flush();
        }
    }
    return true;
}

int StartInstalledService(const SystemdSeams& seams) {
    return Outcome(RunCtl(seams, {"start", std::string(kUnitName)}));
}

int StopService(const SystemdSeams& seams) {
    return Outcome(RunCtl(seams, {"stop", std::string(kUnitName)}));
}

bool RemoveService(const SystemdSeams& seams, std::string* reason) {
    const std::string unitPath = UnitPath(seams);
    struct stat st;
    if (::lstat(unitPath.c_str(), &st) != 0) {
        SetReason(reason, errno == ENOENT ? "the service is not installed (no " + unitPath + ")"
                                          : FileErrorText(unitPath, errno));
        return false;
    }
    RunCtl(seams, {"stop", std::string(kUnitName)});
    seams.clock.SleepMs(600);
    const ProcessResult disable = RunCtl(seams, {"disable", std::string(kUnitName)});
    if (Outcome(disable) != 0) {
        SetReason(reason, CtlFailureText(seams, "disable", disable));
        return false;
    }
    if (::unlink(unitPath.c_str()) != 0) {
        SetReason(reason, FileErrorText(unitPath, errno));
        return false;
    }
    RunCtl(seams, {"daemon-reload"});
    return true;
}

}  // namespace qv
