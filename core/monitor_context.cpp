#include "core/monitor_context.h"

#include <utility>

namespace qv {

MonitorContext::MonitorContext(ProgramRules rules, std::string dataDirectory, MonitorSeams seams,
                               HostTable::Hooks hooks)
    : rules(std::move(rules)),
      dataDirectory(std::move(dataDirectory)),
      seams(seams),
      table(this->rules, seams.clock, seams.sink, std::move(hooks)),
      dailyTrigger(table),
      mailQueue(seams.mail, seams.clock) {}

}  // namespace qv
