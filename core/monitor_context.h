// Everything one program's monitoring needs, made once per program (tests make many):
// the host table, the settings, the data folder, the daily trigger, the status mail
// worker and the seams through which the core reaches the clock, the user, the speaker,
// the traceroute tool and the mail server.
#pragma once

#include <string>

#include "core/daily_report.h"
#include "core/host_table.h"
#include "core/mail_queue.h"
#include "core/mail_sender.h"
#include "core/program.h"
#include "core/settings.h"
#include "core/traceroute.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/sound_player.h"

namespace qv {

struct MonitorSeams {
    Clock& clock;
    MessageSink& sink;
    SoundPlayer& sound;
    TracerouteLauncher& traceroute;
    MailSender& mail;
};

class MonitorContext {
  public:
    MonitorContext(ProgramRules rules, std::string dataDirectory, MonitorSeams seams,
                   HostTable::Hooks hooks = {});
    MonitorContext(const MonitorContext&) = delete;
    MonitorContext& operator=(const MonitorContext&) = delete;

    const ProgramRules rules;
    const std::string dataDirectory;
    MonitorSeams seams;
    Settings settings;
    HostTable table;
    DailyTrigger dailyTrigger;
    // Last, so it stops (aborting a conversation in flight) before anything it reports to.
    MailQueue mailQueue;
};

}  // namespace qv
