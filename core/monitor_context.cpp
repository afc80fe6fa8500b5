#include "core/monitor_context.h"

#include <utility>

namespace qv {

MonitorContext::MonitorContext(Program program, std::string dataDirectory, MonitorSeams seams,
                               HostTable::Hooks hooks)
    : program(program),
      dataDirectory(std::move(dataDirectory)),
      seams(seams),
      table(program, seams.clock, seams.sink, std::move(hooks)),
      dailyTrigger(table),
      mailQueue(seams.mail, seams.clock) {}

}  // namespace qv
