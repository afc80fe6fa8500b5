// The lines of a data folder's service log, without their CR CR LF ends.
#pragma once

#include <string>
#include <vector>

#include "service/service_log.h"
#include "support/lib/temp_dir.h"

namespace qv::test {

inline std::vector<std::string> LogLines(const std::string& dataDir) {
    std::vector<std::string> lines;
    const std::string bytes = ReadFileBytes(ServiceLogPath(dataDir));
    size_t start = 0;
    size_t end;
    while ((end = bytes.find("\r\r\n", start)) != std::string::npos) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 3;
    }
    return lines;
}

}  // namespace qv::test
