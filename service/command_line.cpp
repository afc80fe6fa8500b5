// Dispatching the command line and reporting the outcome of installing and removing.
#include "service/command_line.h"

#include <string_view>

namespace qv {

namespace {

// The service program's message box: one line on stderr, captioned with the service name.
void ShowBox(std::ostream& err, std::string_view text) {
    err << kServiceName << ": " << text << "\n";
    err.flush();
}

void Install(const std::string& dataDir, std::ostream& out, std::ostream& err,
             const SystemdSeams& systemd) {
    if (!InstallService(systemd, dataDir, out, err)) {
        out << "\n\nError installing service\n";
        out.flush();
        ShowBox(err, "Error Installing Service");
        return;
    }
    int startError = StartInstalledService(systemd);
    out << "\n\nService installed sucessfully\n";
    out.flush();
    ShowBox(err, "Service Installed Sucessfully");
    if (startError != 0) {
        ShowBox(err, "Can't start service, error=" + std::to_string(startError));
    }
}

void Remove(std::ostream& out, std::ostream& err, const SystemdSeams& systemd) {
    StopService(systemd);
    if (RemoveService(systemd)) {
        out << "\n\nService Uninstalled sucessfully\n";
        out.flush();
        ShowBox(err, "Service UnInstalled Sucessfully");
    } else {
        out << "\n\nError Uninstalling service\n";
        out.flush();
        ShowBox(err, "Error UnInstalling Service");
    }
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SystemdSeams& systemd, const RunServiceFunction& runService,
                   const TestMailFunction& testMail) {
    if (args.size() == 2 && args[0] == "--test-mail" && testMail) {
        return testMail(args[1], out, err);
    }
    if (args.size() == 1) {
        return runService(args[0]);
    }
    if (args.size() >= 2) {
        if (args[0] == "-i") {
            Install(args[1], out, err, systemd);
        } else if (args[0] == "-d") {
            Remove(out, err, systemd);
        }
    }
    return 0;
}

}  // namespace qv
