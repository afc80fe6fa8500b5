// The ICMP echo prober with a chosen kind of socket (tests run it over both kinds;
// RunIcmpProber lets the socket layer choose).
#pragma once

#include <cstdint>

#include "platform/icmp_socket.h"

namespace qv {

class HostTable;

void RunIcmpProberWith(HostTable& table, int hostNumber, uint32_t run, IcmpSocketKind kind);

}  // namespace qv
