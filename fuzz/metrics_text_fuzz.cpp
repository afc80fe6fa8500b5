// The metrics text for hosts with any names (NUL between names): the whole text is UTF-8,
// every line is a comment or a well-formed series with its label values escaped, the
// hosts' label sets differ, and a name that was UTF-8 reads back from its label as it was.
#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "service/metrics_text.h"

namespace {

using namespace qv;

bool NameChar(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           (!first && c >= '0' && c <= '9');
}

// A metric or label name at `at`; false when there is none.
bool SkipName(std::string_view line, size_t& at) {
    const size_t start = at;
    while (at < line.size() && NameChar(line[at], at == start)) {
        ++at;
    }
    return at > start;
}

// One series line: name{label="value",...} value. The host label's value, unescaped, goes
// to `host`.
bool ParseSeries(std::string_view line, std::string& labels, std::string& host) {
    size_t at = 0;
    if (!SkipName(line, at)) {
        return false;
    }
    const size_t labelsStart = at;
    if (at < line.size() && line[at] == '{') {
        ++at;
        while (true) {
            const size_t nameStart = at;
            if (!SkipName(line, at) || line.substr(at, 2) != "=\"") {
                return false;
            }
            const std::string_view labelName = line.substr(nameStart, at - nameStart);
            at += 2;
            std::string value;
            while (at < line.size() && line[at] != '"') {
                if (line[at] == '\\') {
                    if (at + 1 >= line.size()) {
                        return false;
                    }
                    const char escaped = line[at + 1];
                    if (escaped != '\\' && escaped != '"' && escaped != 'n') {
                        return false;
                    }
                    value += escaped == 'n' ? '\n' : escaped;
                    at += 2;
                } else {
                    value += line[at++];
                }
            }
            if (at >= line.size()) {
                return false;
            }
            ++at;  // the closing quote
            if (labelName == "host") {
                host = value;
            }
            if (at < line.size() && line[at] == ',') {
                ++at;
                continue;
            }
            if (at < line.size() && line[at] == '}') {
                ++at;
                break;
            }
            return false;
        }
    }
    labels = std::string(line.substr(labelsStart, at - labelsStart));
    if (at >= line.size() || line[at] != ' ') {
        return false;
    }
    const std::string_view value = line.substr(at + 1);
    return !value.empty() && value.find(' ') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScrapeNumbers numbers;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size() && numbers.hosts.size() < 100) {
        size_t end = input.find('\0', start);
        if (end == std::string_view::npos) {
            end = input.size();
        }
        HostNumbers h;
        h.name = std::string(input.substr(start, end - start));
        h.icmp = numbers.hosts.size() % 3 != 0;
        h.port = h.icmp ? 0 : static_cast<int>(h.name.size() % 3) * 1000;
        h.stateSeconds = static_cast<int32_t>(h.name.size()) - 5;
        h.tally.Add(static_cast<int32_t>(h.name.size()) * 97 - 1);
        numbers.hosts.push_back(std::move(h));
        start = end + 1;
    }
    std::string text;
    WriteMetricsText(numbers, text);
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        fuzz::Finding("metrics text is not UTF-8", text, "");
    }
    if (text.empty() || text.back() != '\n') {
        fuzz::Finding("metrics text does not end with a line feed", text, "");
    }

    std::set<std::string> upLabels;
    std::vector<std::string> upHosts;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
            continue;
        }
        std::string labels, host;
        if (!ParseSeries(line, labels, host)) {
            fuzz::Finding("malformed series line", line, text);
        }
        if (line.starts_with("quorvane_host_up{")) {
            if (!upLabels.insert(labels).second) {
                fuzz::Finding("two hosts with the same labels", labels, text);
            }
            upHosts.push_back(host);
        }
    }
    if (upHosts.size() != numbers.hosts.size()) {
        fuzz::Finding("a host without its series", text, "");
    }
    for (size_t i = 0; i < upHosts.size(); ++i) {
        const std::string& name = numbers.hosts[i].name;
        if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr) &&
            upHosts[i] != name) {
            fuzz::Finding("a host label does not read back as the name", name, upHosts[i]);
        }
    }
    return 0;
}
