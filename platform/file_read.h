// Reading a file the user names (File > Open log, a listed trace file): whatever sits at
// the path, the read neither blocks nor grows without bound.
#pragma once

#include <cstddef>
#include <string>

namespace qv {

// Reads the regular file `path` into `out`: the whole file, or with `truncate` only its
// first `limit` bytes. The file is opened without blocking and only after it was seen to
// be a regular file, so a FIFO or a device is never waited on. False with `error` set:
// ENXIO for anything but a regular file (a FIFO, a device, a folder, a link to one),
// EFBIG for a file larger than `limit` when not truncating, else the system's errno.
bool ReadRegularFile(const std::string& path, size_t limit, bool truncate, std::string& out,
                     int* error);

}  // namespace qv
