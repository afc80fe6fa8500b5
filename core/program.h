// What differs between the two programs that share the core, gathered in one value that
// each program builds once at start-up and hands to its context and its mail client.
#pragma once

#include <cstddef>

#include "platform/message_sink.h"

namespace qv {

enum class Program { Desktop, Service };

// Longest e-mail address and SMTP server each program keeps, in characters.
constexpr size_t kMaxMailTextCharsDesktop = 99;
constexpr size_t kMaxMailTextCharsService = 255;

struct ProgramRules {
    // Which program these rules are for (the field every other one is derived from).
    Program program = Program::Desktop;

    // --- Host table and probers
    // Service: a prober appends its own samples; desktop: it leaves its last result for the
    // window's tick to record second by second.
    bool proberRecordsSamples = false;
    // Service: AddHost always starts the prober, never saves the host list, and names each
    // host to the onAddHost hook first.
    bool addHostAlwaysStarts = false;
    // Desktop: a full table says "No free space - remove a host" (and saves the list).
    bool reportsFullTable = true;
    // Desktop: hostCount, runningProbers and the entry's recording start are kept.
    bool countsHostsAndProbers = true;
    // Desktop: ResetDay also allows the next traceroute of the day.
    bool resetDayClearsTrace = true;
    // Desktop: a TCP connect measured as 0 ms is recorded as 1, so history never shows a
    // reachable host as 0.
    bool tcpZeroMsAsOne = true;
    // The icon of "Can't resolve ..." (the service's log has no icons).
    MessageIcon resolveFailureIcon = MessageIcon::Error;

    // --- Watcher and logs
    // Desktop: the tray notice has a period and a shown flag; the service has no tray.
    bool hasTray = true;
    // The ending of a host's daily log file name.
    const char* logSuffix = ".log";

    // --- Mail
    // Desktop: a reply code is read from the first three characters only; service: the
    // whole leading number.
    bool replyCodeFromThreeChars = true;
    // Service: error texts carry the server's name and reply; desktop: short texts.
    bool detailedMailErrors = false;
    // Service: a refused recipient ends the transaction; desktop: the mail goes on to the
    // other recipients.
    bool refusedRecipientEndsMail = false;

    // --- Settings files
    // Longest e-mail address and SMTP server read from the settings files, in characters.
    size_t maxMailTextChars = kMaxMailTextCharsDesktop;
    // Desktop: conf02/03's tray fields and conf02's service-mode flag are read; the service
    // only steps over them.
    bool readsDesktopOptions = true;
    // Desktop: without a host list, the default hosts are watched.
    bool defaultHostsWithoutList = true;

    static ProgramRules Desktop();
    static ProgramRules Service();
    // So that a program is named where its rules are wanted: tests and benchmarks write
    // `Program::Service` for `ProgramRules::Service()`.
    ProgramRules(Program p);  // NOLINT(google-explicit-constructor)
    ProgramRules() = default;
};

}  // namespace qv
