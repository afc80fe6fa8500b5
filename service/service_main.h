// Running as the service: ServiceMain's start-up and one-second run loop.
#pragma once

#include <string>

#include "core/host_table.h"
#include "service/service.h"

namespace qv {

// The service thread: reports running, starts a fresh log, loads the host list and the
// settings from the data folder and ticks the status watcher once a second until the
// service is stopped. Returns 0 after a stop, non-zero when it had to give up.
int ServiceMain(ServiceControl& control);

// The one-line status systemd shows for the service ("systemctl status"): how many hosts
// are probed and how many of them are down.
std::string ServiceStatusText(const HostTable& table);

// Runs the service on a data folder until a stop signal; the program's exit status.
int RunService(const std::string& dataDir);

}  // namespace qv
