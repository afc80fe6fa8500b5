// Quorvane, the desktop program.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "gui/quorvane_app.h"

namespace {

// --help and --version are answered without a window (and without a display).
int AnswerOption(const char* option) {
    if (std::strcmp(option, "--version") == 0) {
        std::printf("Quorvane %s\n", QV_VERSION);
        return 0;
    }
    std::printf(
        "Usage: Quorvane              open the monitor's window on the data folder\n"
        "       Quorvane --help       show this text\n"
        "       Quorvane --version    show the version\n"
        "The data folder is $APPDATA/Tarnwick, else $XDG_DATA_HOME/Tarnwick, else\n"
        "~/.local/share/Tarnwick. The service program is HalvoricSvc (see halvoricsvc(8)).\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "--version") == 0)) {
        return AnswerOption(argv[1]);
    }
    QApplication app(argc, argv);
    qv::gui::CQuorvaneApp program;
    return program.InitInstance();
}
