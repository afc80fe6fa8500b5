// The program's three uses, chosen by its command line: install, remove, run as the service.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "service/systemd_install.h"

namespace qv {

// Runs the service on a data folder until it is stopped; returns the exit status.
using RunServiceFunction = std::function<int(const std::string& dataDir)>;
// Sends the test e-mail of a data folder's settings; returns the exit status.
using TestMailFunction =
    std::function<int(const std::string& dataDir, std::ostream& out, std::ostream& err)>;

// `args` are the arguments after the program name. "-i" DIR [...] installs and starts
// the service, "-d" X [...] stops and removes it, a single argument runs the service on
// that data folder, anything else does nothing. A single argument beginning with "-" is
// an option: "--help"/"-h" print the usage and "--version" the version on `out` (0),
// "--test-mail" DIR sends a test e-mail through `testMail`, any other prints the usage on
// `err` (2); a folder of such a name is given as "./-name". Outcomes go to `out` as the
// program's own texts and to `err` as one "Halvoric: <text>" line per message. Returns the
// exit status: 0, 1 when installing or removing failed, 2 for an unknown option, or what
// running the service or the test mail returned.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SystemdSeams& systemd, const RunServiceFunction& runService,
                   const TestMailFunction& testMail = {});

}  // namespace qv
