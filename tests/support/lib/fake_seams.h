// Recording stand-ins for the watcher's seams: mail, sound and traceroute.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/traceroute.h"
#include "core/mail_sender.h"
#include "platform/sound_player.h"

namespace qv::test {

struct SentMail {
    std::string server;
    int port;
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
};

class FakeMailSender final : public MailSender {
  public:
    bool Send(const std::string& server, int port, const std::string& from, const std::string& to,
              const std::string& subject, const std::string& body) override {
        attempts.push_back({server, port, from, to, subject, body});
        return succeed;
    }
    bool succeed = true;
    std::vector<SentMail> attempts;
};

class FakeSoundPlayer final : public SoundPlayer {
  public:
    void Play(const std::string& path) override { played.push_back(path); }
    std::vector<std::string> played;
};

class FakeTraceroute final : public TracerouteLauncher {
  public:
    void Start(HostEntry& entry) override {
        entry.traceCount += 1;
        traced.push_back(entry.name);
    }
    std::vector<std::string> traced;
};

// Probers that end at once: for tests that set `up` and the statistics themselves.
inline HostTable::Hooks NoProbers() {
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    return hooks;
}

}  // namespace qv::test
