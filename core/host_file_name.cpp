// Host names cut to fit file names.
#include "core/host_file_name.h"

#include <cstdint>
#include <cstdio>

#include "platform/utf8.h"

namespace qv {

namespace {

// Stable across runs and builds, so a cut name always gives the same file.
uint32_t Fnv1a(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

std::string HostFileStem(std::string_view name) {
    if (name.size() <= kMaxHostFileStemBytes) {
        return std::string(name);
    }
    char mark[16];
    std::snprintf(mark, sizeof mark, "~%08x", Fnv1a(name));
    std::string stem = CutToBytes(name, kMaxHostFileStemBytes - 9);
    stem += mark;
    return stem;
}

}  // namespace qv
