// Appending to and emptying the service log.
#include "service/service_log.h"

#include <errno.h>
#include <fcntl.h>

#include "platform/net.h"
#include "platform/safe_file.h"
#include "settings/config_files.h"

namespace qv {

namespace {

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// Refusals that someone put in place on purpose, as opposed to a missing folder.
bool IsRefusal(int error) {
    return error == ELOOP || error == EMLINK || error == ENXIO;
}

void WriteErrLine(std::FILE* err, const std::string& text) {
    if (err == nullptr) {
        return;
    }
    std::string line = "Halvoric: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
}

}  // namespace

std::string OneLogLine(std::string_view text) {
    while (!text.empty() && IsLineBreak(text.back())) {
        text.remove_suffix(1);
    }
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLineBreak(text[i])) {
            while (i + 1 < text.size() && IsLineBreak(text[i + 1])) {
                ++i;
            }
            line.push_back(' ');
        } else if (c == '\t') {
            line.push_back(' ');
        } else if (c < 0x20 || c == 0x7F) {
            line.push_back('?');
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: the 8-bit controls, among them the terminal's CSI.
            line.push_back('?');
            ++i;
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    return line;
}

std::string ServiceLogPath(const std::string& dataDir) {
    std::string path = dataDir;
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path.append(kServiceLogName);
    return path;
}

void WriteServiceLog(const std::string& dataDir, std::optional<std::string_view> text,
                     std::FILE* err) {
    const std::string path = ServiceLogPath(dataDir);
    int error = 0;
    if (!text) {
        UniqueFd fd = OpenFileForWriting(AT_FDCWD, path, WriteMode::Truncate, &error);
        // Said once per run, at the start; the lines that follow are lost.
        if (!fd.Valid() && IsRefusal(error)) {
            WriteErrLine(err, FileErrorText(path, error));
        }
        return;
    }
    UniqueFd fd = OpenFileForWriting(AT_FDCWD, path, WriteMode::Append, &error);
    if (!fd.Valid()) {
        return;
    }
    // One write per line: with O_APPEND, lines written at the same time by the service
    // thread and the control handler never interleave.
    std::string line = OneLogLine(*text);
    line.append(kLineEnd);
    WriteAll(fd.Get(), line);  // a failed line is lost, as every log failure is
}

void ServiceLogSink::ShowMessage(std::string_view text, std::string_view, MessageIcon) {
    std::string line = OneLogLine(text);
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    WriteServiceLog(dataDir_, line, err_);
    WriteErrLine(err_, line);
}

}  // namespace qv
