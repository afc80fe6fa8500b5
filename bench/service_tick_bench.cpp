// Cost of one service tick over a full table of 100 probed hosts when nothing is due.
#include <benchmark/benchmark.h>

#include <string>

#include "core/traceroute.h"
#include "core/watcher.h"
#include "mail/status_mail.h"
#include "platform/message_sink.h"
#include "platform/sound_player.h"

namespace {

class NoMail final : public qv::MailSender {
  public:
    bool Send(const std::string&, int, const std::string&, const std::string&, const std::string&,
              const std::string&) override {
        return true;
    }
};
class NoSound final : public qv::SoundPlayer {
  public:
    void Play(const std::string&) override {}
};
class NoTrace final : public qv::TracerouteLauncher {
  public:
    void Start(qv::HostEntry&) override {}
};

void BM_ServiceTick100Hosts(benchmark::State& state) {
    qv::SystemClock clock;
    qv::StderrMessageSink sink;
    NoMail mail;
    NoSound sound;
    NoTrace trace;
    qv::HostTable::Hooks hooks;
    hooks.runProber = [](qv::HostTable&, int, uint32_t) {};
    qv::MonitorContext ctx(qv::Program::Service, "/nonexistent", {clock, sink, sound, trace, mail},
                           hooks);
    ctx.settings.icmp.emailEnabled = 1;
    ctx.settings.icmp.soundEnabled = 1;
    ctx.settings.general.tracertAfter = 10;
    for (int i = 0; i < qv::kMaxHosts; ++i) {
        ctx.table.AddHost("host" + std::to_string(i), 1000, 0);
        ctx.table.Entry(i).up = 1;
    }
    for (int i = 0; i < 100; ++i) {
        qv::ServiceTick(ctx);  // past the start-up stretch: nothing is due from here on
    }
    for (auto _ : state) {
        qv::ServiceTick(ctx);
    }
    state.counters["hosts"] = qv::kMaxHosts;
}
BENCHMARK(BM_ServiceTick100Hosts)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
