#include "core/program.h"

namespace qv {

ProgramRules ProgramRules::Desktop() {
    return ProgramRules{};
}

ProgramRules ProgramRules::Service() {
    ProgramRules r;
    r.program = Program::Service;
    r.proberRecordsSamples = true;
    r.addHostAlwaysStarts = true;
    r.reportsFullTable = false;
    r.countsHostsAndProbers = false;
    r.resetDayClearsTrace = false;
    r.tcpZeroMsAsOne = false;
    r.resolveFailureIcon = MessageIcon::None;
    r.hasTray = false;
    r.logSuffix = "_svc.log";
    r.replyCodeFromThreeChars = false;
    r.detailedMailErrors = true;
    r.refusedRecipientEndsMail = true;
    r.maxMailTextChars = kMaxMailTextCharsService;
    r.readsDesktopOptions = false;
    r.defaultHostsWithoutList = false;
    return r;
}

ProgramRules::ProgramRules(Program p)
    : ProgramRules(p == Program::Service ? Service() : Desktop()) {}

}  // namespace qv
