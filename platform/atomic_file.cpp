// Atomic whole-file writes: temporary file, fsync, rename, fsync of the folder.
#include "platform/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "platform/net.h"
#include "platform/safe_file.h"

namespace qv {

namespace {

// Folder part of a path ("." when it has none) and its file name.
void SplitPath(const std::string& path, std::string& dir, std::string& base) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

bool Fail(int* error, int code) {
    if (error != nullptr) {
        *error = code;
    }
    return false;
}

// Puts `contents` at `path` through a temporary file that reaches the disk first. `mode`
// gives its permission bits; without one it takes those of the file at `path` (or
// kFileMode less the umask). On failure nothing is left behind.
bool WriteThroughTemporary(const std::string& path, std::string_view contents,
                           std::optional<mode_t> mode, TemporaryFile::Replace replace, int* error) {
    if (error != nullptr) {
        *error = 0;
    }
    std::string dir;
    std::string base;
    SplitPath(path, dir, base);
    if (base.empty()) {
        return Fail(error, EISDIR);
    }
    UniqueFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid()) {
        return Fail(error, errno);
    }
    TemporaryFile temp(dirFd.Get(), base, kFileMode, error);
    if (!temp.Valid()) {
        return false;
    }
    if (mode) {
        if (fchmod(temp.Fd(), *mode) != 0) {
            return Fail(error, errno);
        }
    } else {
        // Keep the permissions the user gave the file (never those of a link's target);
        // failing to is not worth losing the save.
        struct stat old {};
        if (fstatat(dirFd.Get(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(old.st_mode)) {
            (void)fchmod(temp.Fd(), old.st_mode & 07777);
        }
    }
    if (!WriteAll(temp.Fd(), contents) || fsync(temp.Fd()) != 0) {
        return Fail(error, errno);
    }
    if (!temp.Commit(replace, error)) {
        return false;
    }
    // Makes the rename durable; the new file is in place either way.
    (void)fsync(dirFd.Get());
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, int* error) {
    return WriteThroughTemporary(path, contents, std::nullopt, TemporaryFile::Replace::Any, error);
}

bool CreateFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                          int* error) {
    return WriteThroughTemporary(path, contents, mode, TemporaryFile::Replace::NothingThere, error);
}

}  // namespace qv
