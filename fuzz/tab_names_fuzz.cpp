// tabnames.dat with any bytes: every name loaded is at most 19 characters without control
// characters, and save -> load -> save gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/utf8.h"
#include "settings/config_files.h"

namespace {

using namespace qv;

std::string Round(const std::string& from, const std::string& to) {
    TabNames names;
    LoadTabNames(from, names);
    for (const std::string& name : names) {
        if (CountChars(name) > kMaxTabNameChars) {
            fuzz::Finding("tab name longer than the limit", name, "");
        }
        for (unsigned char c : name) {
            if (c < 0x20 || c == 0x7F) {
                fuzz::Finding("control character in a tab name", name, "");
            }
        }
    }
    if (!SaveTabNames(to, names)) {
        std::abort();
    }
    return fuzz::ReadBytes(to + "/" + kTabNamesFile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = fuzz::ScratchSubdir("tabs_in");
    const std::string once = fuzz::ScratchSubdir("tabs_once");
    const std::string twice = fuzz::ScratchSubdir("tabs_twice");
    fuzz::WriteBytes(in + "/" + kTabNamesFile,
                     std::string(reinterpret_cast<const char*>(data), size));
    const std::string first = Round(in, once);
    const std::string second = Round(once, twice);
    if (first != second) {
        fuzz::Finding("tab names: save -> load -> save changed", first, second);
    }
    return 0;
}
