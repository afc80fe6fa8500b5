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

// The three forms, for --help and for an argument that is no data folder.
void PrintUsage(std::ostream& to) {
    to << "Usage: HalvoricSvc -i <data folder>   install the Halvoric service and start it\n"
          "       HalvoricSvc -d <data folder>   stop the Halvoric service and remove it\n"
          "       HalvoricSvc <data folder>      run as the service (systemd starts it so)\n"
          "A data folder whose name begins with \"-\" is given as ./-name.\n";
    to.flush();
}

// A single argument beginning with "-": an option, never a data folder.
int AnswerOption(const std::string& option, std::ostream& out, std::ostream& err) {
    if (option == "--help" || option == "-h") {
        PrintUsage(out);
        return 0;
    }
    if (option == "--version") {
        out << "HalvoricSvc " << QV_VERSION << "\n";
        out.flush();
        return 0;
    }
    err << "HalvoricSvc: unknown option " << option << "\n";
    PrintUsage(err);
    return 2;
}

int Install(const std::string& dataDir, std::ostream& out, std::ostream& err,
            const SystemdSeams& systemd) {
    std::string reason;
    if (!InstallService(systemd, dataDir, out, err, &reason)) {
        out << "\n\nError installing service\n";
        out.flush();
        ShowBox(err, "Error installing service: " + reason);
        return 1;
    }
    int startError = StartInstalledService(systemd);
    out << "\n\nService installed sucessfully\n";
    out.flush();
    ShowBox(err, "Service Installed Sucessfully");
    if (startError != 0) {
        // Installed and enabled all the same: systemd starts it at boot.
        ShowBox(err, "Can't start service, error=" + std::to_string(startError));
    }
    return 0;
}

int Remove(std::ostream& out, std::ostream& err, const SystemdSeams& systemd) {
    StopService(systemd);
    std::string reason;
    if (RemoveService(systemd, &reason)) {
        out << "\n\nService Uninstalled sucessfully\n";
        out.flush();
        ShowBox(err, "Service UnInstalled Sucessfully");
        return 0;
    }
    out << "\n\nError Uninstalling service\n";
    out.flush();
    ShowBox(err, "Error uninstalling service: " + reason);
    return 1;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const SystemdSeams& systemd, const RunServiceFunction& runService,
                   const TestMailFunction& testMail) {
    if (args.size() == 2 && args[0] == "--test-mail" && testMail) {
        return testMail(args[1], out, err);
    }
    if (args.size() == 1) {
        if (args[0].starts_with('-')) {
            return AnswerOption(args[0], out, err);
        }
        return runService(args[0]);
    }
    if (args.size() >= 2) {
        if (args[0] == "-i") {
            return Install(args[1], out, err, systemd);
        }
        if (args[0] == "-d") {
            return Remove(out, err, systemd);
        }
    }
    return 0;
}

}  // namespace qv
