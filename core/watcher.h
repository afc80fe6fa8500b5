// The status watcher: once a second per host, follow up/down stretches and give the
// e-mail, tray notice, alarm sound and traceroute when they fall due, once per stretch.
// Mail goes to the context's mail worker; the tick never waits on a mail server.
#pragma once

#include <string>

#include "core/host_table.h"
#include "core/monitor_context.h"
#include "core/settings.h"

namespace qv {

// "Host %s is %s" (ICMP) or "Host %s port %d is %s" (TCP) for the given state.
std::string StatusText(const HostEntry& entry, bool up);

// One tick for one host. `trayText` collects the tick's tray notice lines (desktop
// program); the service program passes nullptr. A due mail is queued; its flag is set
// by a later tick that collects the worker's acceptance.
void WatchHost(MonitorContext& ctx, HostEntry& entry, const NotifySettings& kind,
               const GeneralOptions& general, std::string* trayText);

// The service program's whole tick: idle seconds, the watcher for every probed host,
// then the daily trigger.
void ServiceTick(MonitorContext& ctx);

}  // namespace qv
