// HalvoricSvc: installs, removes or runs the Halvoric service, by its command line.
#include <iostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "service/command_line.h"
#include "service/service_main.h"
#include "service/systemd_install.h"
#include "service/test_mail_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qv::SystemProcessRunner runner;
    qv::SystemClock clock;
    const qv::SystemdSeams seams = qv::DefaultSystemdSeams(runner, clock);
    return qv::RunCommandLine(args, std::cout, std::cerr, seams, qv::RunService, qv::RunTestMail);
}
