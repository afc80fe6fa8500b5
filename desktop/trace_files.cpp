// Listing, reading and deleting traceroute capture files.
#include "desktop/trace_files.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "platform/file_read.h"
#include "platform/file_times.h"
#include "platform/net.h"
#include "platform/safe_file.h"

namespace qv {
namespace {

constexpr std::string_view kTraceExtension = ".trace";

bool IsTraceName(const std::string& name) {
    return name.size() >= kTraceExtension.size() &&
           name.compare(name.size() - kTraceExtension.size(), kTraceExtension.size(),
                        kTraceExtension) == 0;
}

}  // namespace

std::string FormatTraceTimestamp(const std::tm& t) {
    char text[80];
    std::snprintf(text, sizeof text, "%d.%02d.%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::vector<TraceFileRow> ListTraceFiles(const std::string& dir, Clock& clock) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (IsTraceName(name) && it->is_regular_file(typeError)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    std::vector<TraceFileRow> rows;
    rows.reserve(names.size());
    for (std::string& name : names) {
        TraceFileRow row{std::move(name), {}};
        std::tm local{};
        if (auto created = FileCreationTime(dir + "/" + row.name);
            created && clock.LocalTime(*created, local)) {
            row.timestamp = FormatTraceTimestamp(local);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::string> ReadTraceHead(const std::string& path, std::string* errorText) {
    std::string text;
    int error = 0;
    if (!ReadRegularFile(path, kTraceShownBytes, true, text, &error)) {
        if (errorText != nullptr) {
            *errorText = FileErrorText(path, error);
        }
        return std::nullopt;
    }
    return text;
}

bool DeleteTraceFile(const std::string& dir, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return false;
    }
    return ::unlink((dir + "/" + name).c_str()) == 0;
}

void SortTraceFiles(std::vector<TraceFileRow>& rows, TraceColumn column) {
    std::stable_sort(
        rows.begin(), rows.end(), [column](const TraceFileRow& a, const TraceFileRow& b) {
            return column == TraceColumn::File ? a.name < b.name : a.timestamp < b.timestamp;
        });
}

}  // namespace qv
