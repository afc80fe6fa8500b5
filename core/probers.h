// The two prober thread bodies. Each runs until its host's slot is stopped or taken over
// by another run, or until a start-up error ends it.
#pragma once

#include <cstdint>

namespace qv {

class HostTable;

void RunIcmpProber(HostTable& table, int hostNumber, uint32_t run);
void RunTcpProber(HostTable& table, int hostNumber, uint32_t run);

}  // namespace qv
