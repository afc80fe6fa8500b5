#include "core/host_table.h"
#include "core/probers.h"

namespace qv {

// Not built yet: the TCP prober comes next.
void RunTcpProber(HostTable&, int, uint32_t) {}

}  // namespace qv
