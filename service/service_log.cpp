// Appending to and emptying the service log.
#include "service/service_log.h"

#include <fcntl.h>

#include "platform/net.h"
#include "settings/config_files.h"

namespace qv {

std::string ServiceLogPath(const std::string& dataDir) {
    std::string path = dataDir;
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path.append(kServiceLogName);
    return path;
}

void WriteServiceLog(const std::string& dataDir, std::optional<std::string_view> text) {
    const std::string path = ServiceLogPath(dataDir);
    if (!text) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        return;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
        return;
    }
    // One write per line: with O_APPEND, lines written at the same time by the service
    // thread and the control handler never interleave.
    std::string line(*text);
    line.append(kLineEnd);
    WriteAll(fd.Get(), line);  // a failed line is lost, as every log failure is
}

void ServiceLogSink::ShowMessage(std::string_view text, std::string_view, MessageIcon) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    WriteServiceLog(dataDir_, line);
    if (err_ != nullptr) {
        std::string errLine = "Halvoric: " + line + "\n";
        std::fwrite(errLine.data(), 1, errLine.size(), err_);
        std::fflush(err_);
    }
}

}  // namespace qv
