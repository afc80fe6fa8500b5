// The ICMP echo prober with a chosen kind of socket (tests run it over both kinds;
// RunIcmpProber lets the socket layer choose).
#pragma once

#include <cstdint>

#include "core/probers.h"
#include "platform/icmp_socket.h"

namespace qv {

class HostTable;

// Without `resolve`, names are looked up the system's way.
void RunIcmpProberWith(HostTable& table, int hostNumber, uint32_t run, IcmpSocketKind kind,
                       const HostResolver& resolve = {});

}  // namespace qv
