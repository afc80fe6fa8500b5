// conf01.dat, conf02.dat and conf03.dat as a user or another program may leave them: what
// a load makes of any bytes, saved, loads back to the same and saves to the same bytes.
// The first byte chooses the file; the rest is its content.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/host_table.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "settings/config_files.h"
#include "support/lib/fake_clock.h"

namespace {

using namespace qv;

std::string HostListRound(const std::string& from, const std::string& to) {
    fuzz::NullSink sink;
    FakeClock clock(1'700'000'000);
    HostTable::Hooks hooks;
    hooks.runProber = [](HostTable&, int, uint32_t) {};
    HostTable table(Program::Desktop, clock, sink, hooks);
    LoadHostList(from, table);
    if (!SaveHostList(to, table)) {
        std::abort();
    }
    return fuzz::ReadBytes(to + "/" + kHostListFile);
}

std::string SettingsRound(const std::string& from, const std::string& to) {
    Settings settings;
    LoadSettings(from, settings, Program::Desktop, "/usr/bin/Quorvane");
    if (!SaveSettings(to, settings)) {
        std::abort();
    }
    return fuzz::ReadBytes(to + "/" + kIcmpSettingsFile) + "|" +
           fuzz::ReadBytes(to + "/" + kTcpSettingsFile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string in = fuzz::ScratchSubdir("config_in");
    const std::string once = fuzz::ScratchSubdir("config_once");
    const std::string twice = fuzz::ScratchSubdir("config_twice");
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool hostList = data[0] % 2 == 0;
    if (hostList) {
        fuzz::WriteBytes(in + "/" + kHostListFile, content);
        const std::string first = HostListRound(in, once);
        const std::string second = HostListRound(once, twice);
        if (first != second) {
            fuzz::Finding("host list: save -> load -> save changed", first, second);
        }
    } else {
        // The same bytes as conf02.dat or conf03.dat, the other file missing.
        const bool icmp = data[0] % 4 == 1;
        ::unlink((in + "/" + kIcmpSettingsFile).c_str());
        ::unlink((in + "/" + kTcpSettingsFile).c_str());
        fuzz::WriteBytes(in + "/" + (icmp ? kIcmpSettingsFile : kTcpSettingsFile), content);
        const std::string first = SettingsRound(in, once);
        const std::string second = SettingsRound(once, twice);
        if (first != second) {
            fuzz::Finding("settings: save -> load -> save changed", first, second);
        }
    }
    return 0;
}
