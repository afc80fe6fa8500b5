// The settings records: notification options per probe kind and the general options.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qv {

// Notification options of one probe kind. Periods count seconds for ICMP hosts and
// minutes for TCP hosts.
struct NotifySettings {
    int32_t emailEnabled = 0;
    int32_t emailAfter = 60;
    std::string emailAddress;
    std::string smtpServer;
    int32_t smtpPort = 25;
    int32_t soundEnabled = 0;
    int32_t soundAfter = 60;
    std::string soundFile;
    int32_t trayEnabled = 0;
    int32_t trayAfter = 60;
};

struct GeneralOptions {
    int32_t tracertAfter = 0;
    int32_t dailyReports = 0;
    int32_t serviceMode = 0;
    bool launchOnStartup = false;  // not stored in a file
};

struct Settings {
    NotifySettings icmp;
    NotifySettings tcp;
    GeneralOptions general;
};

// Placeholders the settings start with until the user enters real ones; single tokens, so
// they fit the one-token fields of the settings files.
inline constexpr const char* kDefaultEmailAddress = "user@localhost";
inline constexpr const char* kDefaultSmtpServer = "localhost";

constexpr int kTabCount = 20;
constexpr size_t kMaxTabNameChars = 19;
using TabNames = std::array<std::string, kTabCount>;

}  // namespace qv
