// History rows: each view's rows, labels and texts, the sort rules and reading a log.
#include "desktop/history_rows.h"

#include <gtest/gtest.h>

#include <climits>

#include "core/host_log.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

std::vector<int32_t> Repeat(std::vector<int32_t> v, size_t n, int32_t value) {
    v.insert(v.end(), n, value);
    return v;
}

// "label=text" of every row, so a case reads like the list it expects.
std::vector<std::string> Shown(const std::vector<HistoryRow>& rows, HistoryView view) {
    std::vector<std::string> out;
    for (const HistoryRow& r : rows) {
        out.push_back(HistoryTimeLabel(r, view) + "=" + HistoryValueText(r));
    }
    return out;
}

TEST(HistoryRows, ViewsListWhatTheyShould) {
    using V = HistoryView;
    const std::vector<int32_t> mixed = {-1, 0, 500, 1000, 1001, -2, -7};
    struct Case {
        std::vector<int32_t> values;
        V view;
        int32_t low, high;
        std::vector<std::string> expected;
    } const cases[] = {
        {Repeat({}, 59, 5), V::PerMinute, 0, 0, {}},
        {Repeat({}, 120, 20), V::PerMinute, 0, 0, {"00:00=20", "00:01=20"}},
        {Repeat({}, 60, -1), V::PerMinute, 0, 0, {"00:00=Timed out"}},
        {Repeat(Repeat({}, 30, -1), 30, 1), V::PerMinute, 0, 0, {"00:00=0"}},
        {Repeat({-59}, 59, 0), V::PerMinute, 0, 0, {"00:00=0"}},  // truncated toward zero
        {Repeat({}, 60, INT32_MAX), V::PerMinute, 0, 0, {"00:00=2147483647"}},
        {Repeat({}, 60, -2), V::PerMinute, 0, 0, {"00:00=Timed out"}},
        {Repeat({}, 60, -2), V::Range, -5, 5, {}},
        {mixed, V::Range, 0, 1000, {"00:00:02=0", "00:00:03=500", "00:00:04=1000"}},
        {mixed, V::Range, -10, 0, {"00:00:01=Timed out", "00:00:02=0", "00:00:07=No data"}},
        {mixed, V::TimeOuts, 0, 0, {"00:00:01=Timed out"}},
        {mixed,
         V::AllSeconds,
         0,
         0,
         {"00:00:01=Timed out", "00:00:02=0", "00:00:03=500", "00:00:04=1000", "00:00:05=1001",
          "00:00:06=No data", "00:00:07=No data"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(Shown(BuildHistoryRows(c.values, c.view, c.low, c.high), c.view), c.expected)
            << "case " << i;
    }
}

TEST(HistoryRows, LabelsRunPastMidnight) {
    std::vector<int32_t> day = Repeat({}, 90'000, 3);
    std::vector<HistoryRow> seconds = BuildHistoryRows(day, HistoryView::AllSeconds);
    EXPECT_EQ(Shown({seconds[59], seconds[86'399], seconds.back()}, HistoryView::AllSeconds),
              std::vector<std::string>({"00:01:00=3", "24:00:00=3", "25:00:00=3"}));
    std::vector<HistoryRow> minutes = BuildHistoryRows(day, HistoryView::PerMinute);
    EXPECT_EQ(Shown({minutes[1439], minutes.back()}, HistoryView::PerMinute),
              std::vector<std::string>({"23:59=3", "24:59=3"}));
}

TEST(HistoryRows, SortingHasNoToggleAndTimeRestoresOrder) {
    const std::vector<int32_t> values = {5, -1, 0, 700, -2, 20};
    const auto chronological =
        Shown(BuildHistoryRows(values, HistoryView::AllSeconds), HistoryView::AllSeconds);
    std::vector<HistoryRow> rows = BuildHistoryRows(values, HistoryView::AllSeconds);
    for (int click = 0; click < 2; ++click) {
        SortHistoryRows(rows, HistoryColumn::Value);
        EXPECT_EQ(
            Shown(rows, HistoryView::AllSeconds),
            std::vector<std::string>({"00:00:04=700", "00:00:06=20", "00:00:01=5",
                                      "00:00:02=Timed out", "00:00:03=0", "00:00:05=No data"}));
    }
    SortHistoryRows(rows, HistoryColumn::TimeOfDay);
    EXPECT_EQ(Shown(rows, HistoryView::AllSeconds), chronological);
}

TEST(HistoryRows, RangeBoundsAndReading) {
    EXPECT_EQ(ParseRangeBound(""), 0);
    EXPECT_EQ(ParseRangeBound("1000"), 1000);
    EXPECT_EQ(ParseRangeBound("9999999999"), INT32_MAX);

    test::TempDir dir;
    std::vector<int32_t> samples = {12, 1234, -1, 1'000'000, -2};
    ASSERT_TRUE(WriteHostLog(dir.File("day.log"), samples));  // grouped, padded to a day
    std::optional<std::vector<int32_t>> values = ReadHostLogFile(dir.File("day.log"));
    ASSERT_TRUE(values && values->size() == kSecondsPerDay);
    EXPECT_EQ(std::vector<int32_t>(values->end() - 5, values->end()), samples);
    test::WriteFileBytes(dir.File("cut.log"), "7 8 \xA0x 9 ");
    EXPECT_EQ(ReadHostLogFile(dir.File("cut.log")), std::vector<int32_t>({7, 8}));
    EXPECT_FALSE(ReadHostLogFile(dir.File("missing.log")));
    EXPECT_FALSE(ReadHostLogFile(dir.path()));
}

}  // namespace
}  // namespace qv
