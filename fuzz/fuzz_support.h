// What the fuzz targets share: a scratch folder of their own and a sink that shows nothing.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/message_sink.h"

namespace qv::fuzz {

class NullSink final : public MessageSink {
  public:
    void ShowMessage(std::string_view, std::string_view, MessageIcon) override {}
};

// A folder made once per process under TMPDIR (or /tmp); each target writes its files
// there and overwrites them with every input.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/qv-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    return dir;
}

// A sub-folder of the scratch folder, made when missing.
std::string ScratchSubdir(const std::string& name);

inline void WriteBytes(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(f);
}

inline std::string ReadBytes(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            out.append(buffer, n);
        }
        std::fclose(f);
    }
    return out;
}

// Ends the run as a finding, with what differed.
[[noreturn]] inline void Finding(const char* what, std::string_view a, std::string_view b) {
    std::fprintf(stderr, "FINDING: %s\n--- first ---\n%.*s\n--- second ---\n%.*s\n", what,
                 static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
    std::abort();
}

}  // namespace qv::fuzz
