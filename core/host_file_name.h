// The part of a file name that stands for a host: the log files, the traceroute captures
// and the snapshot of the day all name their host the same way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Room kept for what goes around the host's part: the longest is "_port_-32768_svc.log".
inline constexpr size_t kHostFileAffixBytes = 24;
// Longest host part of a file name, so that every file of a host fits in 255 bytes.
inline constexpr size_t kMaxHostFileStemBytes = 255 - kHostFileAffixBytes;

// The host's name as it goes into file names. A name of up to kMaxHostFileStemBytes
// bytes is kept whole. A longer one is cut to its longest start that ends on a whole
// UTF-8 character and leaves room for "~" and the eight hex digits of the 32-bit FNV-1a
// hash of the whole name, which are appended; so every file of that host carries the
// same part, and two long names that share their start still get files of their own.
// The host itself keeps its full name.
std::string HostFileStem(std::string_view name);

}  // namespace qv
