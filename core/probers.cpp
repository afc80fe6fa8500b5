#include "core/probers.h"

#include "core/host_table.h"

namespace qv {

void RunProber(HostTable& table, int hostNumber, uint32_t run) {
    if (table.EntryOfHost(hostNumber).isIcmp) {
        RunIcmpProber(table, hostNumber, run);
    } else {
        RunTcpProber(table, hostNumber, run);
    }
}

}  // namespace qv
