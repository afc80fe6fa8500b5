// Host log files: names, writer and reader.
#include "core/host_log.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/host_file_name.h"
#include "platform/file_read.h"
#include "platform/net.h"
#include "platform/safe_file.h"

namespace qv {
namespace {

// Output is collected in blocks of this size and handed to the kernel in one write each.
constexpr size_t kWriteBlock = 256 * 1024;
// Longest formatted value: sign, ten digits, three separators.
constexpr size_t kMaxNumberBytes = 16;

// Writes the grouped digits of `value` so that they end just before `end`; returns the
// first byte written.
char* FormatGroupedBackwards(char* end, int32_t value) {
    int64_t wide = value;
    bool negative = wide < 0;
    uint64_t magnitude = static_cast<uint64_t>(negative ? -wide : wide);
    char* p = end;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) {
            *--p = kLogThousandsSep;
        }
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (negative) {
        *--p = '-';
    }
    return p;
}

// Digits of 0-999 padded to four bytes, so the common response times are one copy.
struct SmallNumbers {
    char text[1000][4];
    unsigned char length[1000];
};

constexpr SmallNumbers MakeSmallNumbers() {
    SmallNumbers t{};
    for (int v = 0; v < 1000; ++v) {
        int n = v < 10 ? 1 : v < 100 ? 2 : 3;
        int rest = v;
        for (int i = n - 1; i >= 0; --i) {
            t.text[v][i] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        t.text[v][n] = ' ';
        t.length[v] = static_cast<unsigned char>(n + 1);
    }
    return t;
}

constexpr SmallNumbers kSmallNumbers = MakeSmallNumbers();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::locale HostLogLocale() {
    return std::locale(std::locale::classic(), new HostLogNumpunct);
}

void AppendGroupedNumber(std::string& out, int32_t value) {
    char buffer[kMaxNumberBytes];
    char* end = buffer + sizeof buffer;
    char* begin = FormatGroupedBackwards(end, value);
    out.append(begin, end);
}

std::string DayFolderName(const std::tm& day) {
    char text[48];
    std::snprintf(text, sizeof text, "%d_%02d_%02d", day.tm_year + 1900, day.tm_mon + 1,
                  day.tm_mday);
    return text;
}

std::string HostLogFileName(const HostEntry& e, const ProgramRules& rules) {
    std::string name = HostFileStem(e.name);
    if (!e.isIcmp) {
        name += "_port_" + std::to_string(static_cast<int>(e.port));
    }
    name += rules.logSuffix;
    return name;
}

namespace {

// Opens the folder of `path` and hands its file name to `write`.
template <typename Write>
bool WriteInFolderOf(const std::string& path, int* error, Write write) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid()) {
        if (error != nullptr) {
            *error = errno;
        }
        return false;
    }
    return write(dirFd.Get(), name);
}

// The writer of both: `leadingZeros` times "0 ", then the samples.
bool WriteLogAt(int dirFd, const std::string& name, size_t leadingZeros,
                const std::vector<int32_t>& samples, int* error) {
    TemporaryFile file(dirFd, name, kFileMode, error);
    if (!file.Valid()) {
        return false;
    }
    auto failed = [error]() {
        if (error != nullptr) {
            *error = errno;
        }
        return false;
    };
    std::string block;
    block.resize(kWriteBlock);
    char* const base = block.data();
    char* p = base;
    char* const limit = base + kWriteBlock - kMaxNumberBytes - 1;
    auto flush = [&]() {
        bool ok = WriteAll(file.Fd(), std::string_view(base, static_cast<size_t>(p - base)));
        p = base;
        return ok;
    };

    for (size_t i = 0; i < leadingZeros; ++i) {
        if (p > limit && !flush()) {
            return failed();
        }
        *p++ = '0';
        *p++ = ' ';
    }
    char digits[kMaxNumberBytes];
    char* const digitsEnd = digits + sizeof digits;
    for (int32_t value : samples) {
        if (p > limit && !flush()) {
            return failed();
        }
        if (value >= 0 && value < 1000) {
            // Copies four bytes whatever the length; the block keeps room past `limit`.
            std::memcpy(p, kSmallNumbers.text[value], 4);
            p += kSmallNumbers.length[value];
        } else {
            char* begin = FormatGroupedBackwards(digitsEnd, value);
            size_t n = static_cast<size_t>(digitsEnd - begin);
            std::memcpy(p, begin, n);
            p += n;
            *p++ = ' ';
        }
    }
    if (!flush()) {
        return failed();
    }
    return file.Commit(TemporaryFile::Replace::NotALink, error);
}

}  // namespace

bool WriteHostLogAt(int dirFd, const std::string& name, const std::vector<int32_t>& samples,
                    int* error) {
    const size_t zeros = samples.size() < kSecondsPerDay ? kSecondsPerDay - samples.size() : 0;
    return WriteLogAt(dirFd, name, zeros, samples, error);
}

bool WriteHostLog(const std::string& path, const std::vector<int32_t>& samples, int* error) {
    return WriteInFolderOf(path, error, [&](int dirFd, const std::string& name) {
        return WriteHostLogAt(dirFd, name, samples, error);
    });
}

size_t SnapshotLeadingZeros(size_t sampleCount, int64_t secondsSinceMidnight) {
    if (sampleCount >= kSecondsPerDay || secondsSinceMidnight <= 0 ||
        static_cast<uint64_t>(secondsSinceMidnight) <= sampleCount) {
        return 0;
    }
    return static_cast<size_t>(secondsSinceMidnight) - sampleCount;
}

bool WriteHistorySnapshot(const std::string& path, const std::vector<int32_t>& samples,
                          int64_t secondsSinceMidnight, int* error) {
    const size_t zeros = SnapshotLeadingZeros(samples.size(), secondsSinceMidnight);
    return WriteInFolderOf(path, error, [&](int dirFd, const std::string& name) {
        return WriteLogAt(dirFd, name, zeros, samples, error);
    });
}

std::vector<int32_t> ParseHostLog(std::string_view text) {
    std::vector<int32_t> values;
    values.reserve(kSecondsPerDay);
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && IsBlank(text[i])) {
            ++i;
        }
        size_t j = i;
        bool negative = false;
        if (j < n && (text[j] == '-' || text[j] == '+')) {
            negative = text[j] == '-';
            ++j;
        }
        if (j >= n || !IsDigit(text[j])) {
            break;
        }
        int64_t magnitude = 0;
        bool overflow = false;
        while (j < n) {
            if (IsDigit(text[j])) {
                magnitude = magnitude * 10 + (text[j] - '0');
                if (magnitude > int64_t{INT32_MAX} + 1) {
                    overflow = true;
                    break;
                }
                ++j;
            } else if (text[j] == kLogThousandsSep && j + 1 < n && IsDigit(text[j + 1])) {
                ++j;
            } else {
                break;
            }
        }
        int64_t value = negative ? -magnitude : magnitude;
        if (overflow || value > INT32_MAX || value < INT32_MIN) {
            break;
        }
        values.push_back(static_cast<int32_t>(value));
        i = j;
    }
    return values;
}

std::optional<std::vector<int32_t>> ReadHostLogFile(const std::string& path,
                                                    std::string* errorText) {
    std::string text;
    int error = 0;
    if (!ReadRegularFile(path, kMaxHostLogBytes, false, text, &error)) {
        if (errorText != nullptr) {
            *errorText = error == EFBIG ? path + " is larger than " +
                                              std::to_string(kMaxHostLogBytes / (1024 * 1024)) +
                                              " MB; a day's log is much smaller"
                                        : FileErrorText(path, error);
        }
        return std::nullopt;
    }
    return ParseHostLog(text);
}

std::vector<int32_t> ReadHostLog(const std::string& path) {
    return ReadHostLogFile(path).value_or(std::vector<int32_t>{});
}

}  // namespace qv
