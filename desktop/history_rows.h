// The rows of the History dialog: a host log's values averaged per minute, second by
// second, or filtered to time-outs or a range of response times, and their sort rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class HistoryView { PerMinute, AllSeconds, TimeOuts, Range };

// What a row shows beside its time: a response time (check mark) or, with the red cross,
// a time-out or a second without a measurement.
enum class HistoryKind : uint8_t { Reply, TimedOut, NoData };

// One row, kept compact so a full day of rows is cheap; the texts are made when shown.
struct HistoryRow {
    // Seconds from the start of the file: the end of the labelled second (the first value
    // is 1), or the start of the labelled minute (the first minute is 0).
    int64_t time = 0;
    int32_t value = 0;  // the value, or the minute's average
    HistoryKind kind = HistoryKind::Reply;
};

enum class HistoryColumn { TimeOfDay, Value };

// Rows in file order. Per minute: one row per complete minute with the average truncated
// toward zero, "Timed out" when negative. Other views: -1 times out, any other negative
// value has no data; the range keeps low <= v <= high except -2.
std::vector<HistoryRow> BuildHistoryRows(const std::vector<int32_t>& values, HistoryView view,
                                         int32_t low = 0, int32_t high = 0);

// A bound of the range edits: their digits as a number, 0 when empty, INT32_MAX at most.
int32_t ParseRangeBound(std::string_view digits);

// "%02d:%02d" per minute, "%02d:%02d:%02d" otherwise; hours go on past 24.
std::string HistoryTimeLabel(const HistoryRow& row, HistoryView view);
// "%d", "Timed out" or "No data".
std::string HistoryValueText(const HistoryRow& row);

// Time of day: chronological. Value: descending, time-outs and no-data rows counting as
// 0. Every call sorts the same way (no toggle); equal rows keep their order.
void SortHistoryRows(std::vector<HistoryRow>& rows, HistoryColumn column);

}  // namespace qv
