// Installing, starting, stopping and removing the service under systemd.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/process.h"

namespace qv {

inline constexpr std::string_view kServiceName = "Halvoric";
inline constexpr std::string_view kServiceDisplayName = "Marrowind";
inline constexpr std::string_view kUnitName = "halvoric.service";

// Everything the service-manager operations touch, so tests can run them against a
// temp folder and a recording process runner.
struct SystemdSeams {
    ProcessRunner& runner;
    Clock& clock;
    // Folder of the unit file (/etc/systemd/system, or the user's systemd/user folder).
    std::string unitDirectory{};
    // true: a system unit driven by `systemctl`; false: a user unit driven by
    // `systemctl --user`, kept running without a login by `loginctl enable-linger`.
    bool systemScope = true;
    // The user whose services are kept running (user scope only).
    std::string userName{};
    // Full path of the program file that the unit starts.
    std::string programPath{};
    std::string systemctl = "systemctl";
    std::string loginctl = "loginctl";
};

// The seams of the real system: root gets a system unit, anyone else a user unit.
SystemdSeams DefaultSystemdSeams(ProcessRunner& runner, Clock& clock);

// $XDG_CONFIG_HOME/systemd/user, else <home>/.config/systemd/user (either may be null).
std::string UserUnitDirectory(const char* xdgConfigHome, const char* home);

// The program path of an ExecStart= line (or a path of a path list such as ReadWritePaths=),
// double-quoted with "%" doubled; systemd takes the rest literally. Nothing when systemd refuses
// such a path: one that is not absolute or holds quotes, backslashes or control characters.
std::optional<std::string> QuoteExecProgram(std::string_view path);
// An argument of an ExecStart= line: double-quoted, with the characters that systemd
// would otherwise interpret ("%", "$", "\", double quote, control characters) escaped.
std::string QuoteExecArgument(std::string_view word);

// How long systemd waits for the service to end after a stop before it kills it.
constexpr int kStopTimeoutSeconds = 30;

// The user a system unit runs the service as: the owner of the data folder (or, while it
// does not exist, of its nearest existing parent), by name, or by number when the name is
// not one that a unit can hold as it is.
std::string UnitUserOf(const std::string& dir);

// systemd's sandbox for the service. Both kinds: no new privileges, the socket families of
// probes, mail, name lookup and notification, ordinary system calls. A system unit also
// gets private /tmp and devices, protected kernel and control groups, and a read-only
// system with the data folder writable and homes read-only (data folder inside one) or
// hidden.
std::string SandboxLines(const std::string& dataDir, bool systemScope);

// The unit file text that runs `programPath` with the data folder as its one argument;
// nothing when the program path cannot be written in a unit (see QuoteExecProgram). A
// system unit waits for the network to be online and, given a `user`, runs as that user
// with the right to raw ICMP sockets. Both kinds restart after a failure.
std::optional<std::string> UnitText(const std::string& programPath, const std::string& dataDir,
                                    bool systemScope, const std::string& user = {});

// The system unit for packagers: UnitText for a data folder inside a home, with
// @PROGRAM@, @DATA_DIR@, @USER@ and @READ_WRITE@ where each installation puts its own
// (quoted and escaped as UnitText does), after a comment saying so.
std::string UnitTemplate();
// The unit UnitTemplate stands for: the placeholders filled in with the values given as
// they stand in a unit, the comment left out.
std::string FillUnitTemplate(const std::string& unitTemplate, const std::string& quotedProgram,
                             const std::string& quotedDataDir, const std::string& user,
                             const std::string& quotedWritable);

// Writes the unit (never over an existing one), reloads systemd and enables it for
// automatic start. On failure returns false; where the unit could not be created,
// "error=<code>" has been written to `out` first. The data folder is made absolute. A
// system unit runs the service as the folder's owner (UnitUserOf).
// Under a user manager, lingering is enabled; where that fails, a message on `err` says
// the service runs only while the user is logged in.
// On failure `reason` (when given) receives the system's reason in words.
bool InstallService(const SystemdSeams& seams, const std::string& dataDir, std::ostream& out,
                    std::ostream& err, std::string* reason = nullptr);
// `systemctl start`: 0, or systemctl's exit code (errno when it could not be run).
int StartInstalledService(const SystemdSeams& seams);
// `systemctl stop`: 0, or systemctl's exit code (errno when it could not be run).
int StopService(const SystemdSeams& seams);
// Stops the service again, waits 600 ms, disables it, deletes the unit file and reloads
// systemd. False when there is no unit, or it could not be disabled or deleted; then
// `reason` (when given) receives why.
bool RemoveService(const SystemdSeams& seams, std::string* reason = nullptr);

}  // namespace qv
