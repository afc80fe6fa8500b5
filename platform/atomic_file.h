// Whole-file replacement that a reader never sees half done and a crash never loses:
// the new contents go to a temporary file beside the target (created exclusively, never
// through a link), reach the disk, and are then renamed over the target in one step.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace qv {

// Replaces the file at `path` with `contents`. On any failure the previous file is left
// as it was, no temporary file is left behind, and `error` (when given) receives the
// errno of the step that failed. The new file keeps the permission bits of the file it
// replaces; a new file gets 0644 less the umask, like any file the programs create. A
// symbolic link at `path` is replaced by the file; its target is never written.
bool WriteFileAtomically(const std::string& path, std::string_view contents, int* error = nullptr);

// Creates the file at `path` with `contents` and permission bits `mode` in the same way,
// but never replaces a file that is there: then it fails with EEXIST and that file stays
// as it was.
bool CreateFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                          int* error = nullptr);

}  // namespace qv
