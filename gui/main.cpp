// Quorvane, the desktop program.
#include <QApplication>

#include "gui/quorvane_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qv::gui::CQuorvaneApp program;
    return program.InitInstance();
}
