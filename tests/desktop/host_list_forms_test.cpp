// The host list dialogs without widgets: the add-host checks, row texts, services, moves.
#include "desktop/host_list_forms.h"

#include <gtest/gtest.h>

#include "support/lib/fake_clock.h"
#include "support/lib/recording_sink.h"

namespace qv {
namespace {

TEST(HostListForms, AddHostChecksInOrder) {
    struct Case {
        AddHostForm form;
        const char* error;  // nullptr: accepted
        int32_t probeValue;
        int port;
    };
    const std::string longName(255, 'a');
    const Case cases[] = {
        {{"router", true, "0", "", ""}, kInvalidPingTimeout, 0, 0},
        {{"router", true, "-99999999999", "", ""}, kInvalidPingTimeout, 0, 0},
        {{"router", true, "11", "", ""}, kInvalidPingTimeout, 0, 0},
        {{"router", true, "abc", "", ""}, kInvalidPingTimeout, 0, 0},
        {{"router", true, " 1", "x", "x"}, nullptr, 1000, 0},
        {{"router", true, "10s", "", ""}, nullptr, 10000, 0},
        {{"web", false, "x", "80", "1"}, kInvalidConnectInterval, 0, 0},
        {{"web", false, "x", "80", "1001"}, kInvalidConnectInterval, 0, 0},
        {{"web", false, "x", "0", "2"}, kInvalidPort, 0, 0},
        {{"web", false, "x", "65536", "1000"}, kInvalidPort, 0, 0},
        {{"web", false, "x", "0", "1"}, kInvalidConnectInterval, 0, 0},
        {{"web", false, "x", "1", "2"}, nullptr, 2, 1},
        {{"web", false, "x", "65535", "1000"}, nullptr, 1000, 65535},
        // Names that would corrupt the host list or leave the data folder come first.
        {{"", true, "1", "", ""}, kInvalidHostName, 0, 0},
        {{"a b", true, "1", "", ""}, kInvalidHostName, 0, 0},
        {{"../etc", true, "0", "", ""}, kInvalidHostName, 0, 0},
        {{"-rf", true, "1", "", ""}, kInvalidHostName, 0, 0},
        {{longName, true, "1", "", ""}, kInvalidHostName, 0, 0},
        {{longName.substr(1), true, "1", "", ""}, nullptr, 1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form.name.substr(0, 10) + " " + c.form.pingTimeout + " " + c.form.port +
                     " " + c.form.connectInterval);
        AddHostCheck check = CheckAddHostForm(c.form);
        if (c.error != nullptr) {
            EXPECT_FALSE(check.host.has_value());
            EXPECT_EQ(check.error, c.error);
        } else {
            ASSERT_TRUE(check.host.has_value()) << check.error;
            EXPECT_EQ(check.host->name, c.form.name);
            EXPECT_EQ(check.host->probeValue, c.probeValue);
            EXPECT_EQ(check.host->port, c.port);
        }
    }
}

TEST(HostListForms, RowTextsAndMoves) {
    FakeClock clock;
    test::RecordingMessageSink sink;
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    HostTable table(Program::Desktop, clock, sink, hooks);
    table.AddHost("router", 1000, 0);
    table.AddHost("web", 5, 8080);
    table.AddHost("high", 5, 65535);
    EXPECT_EQ(HostRowText(table.Entry(1)), "web(TCP:8080)");
    EXPECT_EQ(HostRowText(table.Entry(2)), "high(TCP:65535)");

    EXPECT_EQ(MoveNeighbour(2, 3, 3, MoveDirection::Up), 1);
    // A count that disagrees with the rows never lets a move run off the list.
    EXPECT_EQ(MoveNeighbour(1, 2, 5, MoveDirection::Down), std::nullopt);
    EXPECT_EQ(MoveNeighbour(1, 3, 2, MoveDirection::Down), std::nullopt);
}

}  // namespace
}  // namespace qv
