// The host log: any values written read back as they were (a short day after zeros),
// and the reader takes any text without harm. The first byte chooses which.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/host_log.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qv;
    if (size < 1) {
        return 0;
    }
    const std::string path = fuzz::ScratchSubdir("log") + "/host.log";
    if (data[0] % 2 == 0) {
        std::vector<int32_t> samples((size - 1) / 4);
        if (!samples.empty()) {
            std::memcpy(samples.data(), data + 1, samples.size() * 4);
        }
        // Mostly the values alone (a snapshot with nothing in front), sometimes a whole
        // day's log, whose short day comes after zeros so that it ends at midnight.
        const bool wholeDay = data[0] % 8 == 0;
        std::vector<int32_t> expected;
        if (wholeDay) {
            if (!WriteHostLog(path, samples)) {
                std::abort();
            }
            expected.assign(samples.size() < kSecondsPerDay ? kSecondsPerDay - samples.size() : 0,
                            0);
        } else if (!WriteHistorySnapshot(path, samples, 0)) {
            std::abort();
        }
        expected.insert(expected.end(), samples.begin(), samples.end());
        std::string why;
        std::optional<std::vector<int32_t>> back = ReadHostLogFile(path, &why);
        if (!back || *back != expected) {
            fuzz::Finding("host log: write -> read changed the values", why,
                          back ? std::to_string(back->size()) + " values" : "nothing");
        }
    } else {
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        const std::vector<int32_t> parsed = ParseHostLog(text);
        fuzz::WriteBytes(path, text);
        std::optional<std::vector<int32_t>> read = ReadHostLogFile(path);
        if (!read || *read != parsed) {
            fuzz::Finding("host log: the file reads otherwise than its text", text, "");
        }
    }
    return 0;
}
