// The creation time of a file, where the file system keeps one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

// Calendar seconds of the file's creation (statx birth time); the time of its last change
// where the file system keeps no birth time. Nothing when the file cannot be examined.
std::optional<int64_t> FileCreationTime(const std::string& path);

}  // namespace qv
