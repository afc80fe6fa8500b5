// CQuorvaneApp: the desktop program's start-up. It builds the monitoring (one
// MonitorContext for the desktop program) and the main window, and runs until File > Exit.
#pragma once

namespace qv::gui {

class CQuorvaneApp {
  public:
    // Runs the program on the running QApplication; returns its exit status.
    int InitInstance();
};

}  // namespace qv::gui
