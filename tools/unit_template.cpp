// Prints the system unit that `HalvoricSvc -i <data folder>` writes, with placeholders for
// what each installation fills in; the build keeps it as packaging/halvoric.service.in for
// packagers. The text is the program's own, so the two cannot drift apart.
#include <iostream>

#include "service/systemd_install.h"

int main() {
    std::cout << qv::UnitTemplate();
    return 0;
}
