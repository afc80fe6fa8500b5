// History rows: the rows of each view of a log, their labels and sorting.
#include "desktop/history_rows.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace qv {
namespace {

constexpr int kSecondsPerMinute = 60;

HistoryKind KindOfSecond(int32_t v) {
    return v >= 0 ? HistoryKind::Reply : v == -1 ? HistoryKind::TimedOut : HistoryKind::NoData;
}

}  // namespace

std::vector<HistoryRow> BuildHistoryRows(const std::vector<int32_t>& values, HistoryView view,
                                         int32_t low, int32_t high) {
    std::vector<HistoryRow> rows;
    if (view == HistoryView::PerMinute) {
        rows.reserve(values.size() / kSecondsPerMinute);
        // 64 bits: sixty values near the 32-bit limits must not overflow the sum.
        int64_t sum = 0;
        int seconds = 0;
        int64_t minuteStart = 0;
        for (int32_t v : values) {
            sum += v;
            if (++seconds == kSecondsPerMinute) {
                auto average = static_cast<int32_t>(sum / kSecondsPerMinute);
                rows.push_back({minuteStart, average,
                                average < 0 ? HistoryKind::TimedOut : HistoryKind::Reply});
                minuteStart += kSecondsPerMinute;
                seconds = 0;
                sum = 0;
            }
        }
        return rows;
    }
    if (view == HistoryView::AllSeconds) {
        rows.reserve(values.size());
    }
    int64_t time = 0;
    for (int32_t v : values) {
        ++time;
        bool keep = view == HistoryView::AllSeconds || (view == HistoryView::TimeOuts && v == -1) ||
                    (view == HistoryView::Range && low <= v && v <= high && v != -2);
        if (keep) {
            rows.push_back({time, v, KindOfSecond(v)});
        }
    }
    return rows;
}

int32_t ParseRangeBound(std::string_view digits) {
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            break;
        }
        value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

std::string HistoryTimeLabel(const HistoryRow& row, HistoryView view) {
    const long long hours = row.time / 3600;
    const int minutes = static_cast<int>(row.time / 60 % 60);
    char text[48];
    if (view == HistoryView::PerMinute) {
        std::snprintf(text, sizeof text, "%02lld:%02d", hours, minutes);
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02d:%02d", hours, minutes,
                      static_cast<int>(row.time % 60));
    }
    return text;
}

std::string HistoryValueText(const HistoryRow& row) {
    switch (row.kind) {
        case HistoryKind::Reply:
            return std::to_string(row.value);
        case HistoryKind::TimedOut:
            return "Timed out";
        case HistoryKind::NoData:
            break;
    }
    return "No data";
}

void SortHistoryRows(std::vector<HistoryRow>& rows, HistoryColumn column) {
    if (column == HistoryColumn::TimeOfDay) {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const HistoryRow& a, const HistoryRow& b) { return a.time < b.time; });
        return;
    }
    auto key = [](const HistoryRow& r) { return r.kind == HistoryKind::Reply ? r.value : 0; };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const HistoryRow& a, const HistoryRow& b) { return key(a) > key(b); });
}

}  // namespace qv
