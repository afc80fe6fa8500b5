// Atomic whole-file writes: temporary file, fsync, rename, fsync of the folder.
#include "platform/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/net.h"

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

// A random suffix for the temporary name; two writers (or a stale leftover) never share it.
std::string RandomSuffix() {
    unsigned char bytes[8] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < sizeof bytes) {
        // No randomness to be had: the pid and the clock still make a clash unlikely, and
        // O_EXCL turns any clash into a retry.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = (static_cast<uint64_t>(getpid()) << 32) ^
                       static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec);
        for (unsigned char& b : bytes) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(mix >> 56);
        }
    }
    char text[sizeof bytes * 2 + 1];
    for (size_t i = 0; i < sizeof bytes; ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    }
    return text;
}

bool Fail(int* error, int code) {
    if (error != nullptr) {
        *error = code;
    }
    return false;
}

// Puts `contents` into a new temporary file beside `path`, on the disk and closed. `mode`
// gives its permission bits; without one it takes those of the file at `path` (or 0666 less
// the umask). On failure nothing is left behind.
bool WriteTemporary(const std::string& path, std::string_view contents, std::optional<mode_t> mode,
                    std::string& dir, std::string& tempPath, int* error) {
    if (error != nullptr) {
        *error = 0;
    }
    std::string base;
    SplitPath(path, dir, base);
    if (base.empty()) {
        return Fail(error, EISDIR);
    }

    // A hidden name, so a crash's leftover never shows up in the lists of log and trace files.
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd.Valid(); ++attempt) {
        tempPath = dir + "/." + base + "." + RandomSuffix() + ".tmp";
        int opened = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        int code = errno;
        fd.Reset(opened);
        if (opened < 0 && code != EEXIST) {
            return Fail(error, code);
        }
    }
    if (!fd.Valid()) {
        return Fail(error, EEXIST);
    }

    auto abandon = [&](int code) {
        fd.Reset();
        unlink(tempPath.c_str());
        return Fail(error, code);
    };

    if (mode) {
        if (fchmod(fd.Get(), *mode) != 0) {
            return abandon(errno);
        }
    } else {
        struct stat old {};
        if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            // Keep the permissions the user gave the file; failing to is not worth losing
            // the save.
            (void)fchmod(fd.Get(), old.st_mode & 07777);
        }
    }
    if (!WriteAll(fd.Get(), contents)) {
        return abandon(errno);
    }
    if (fsync(fd.Get()) != 0) {
        return abandon(errno);
    }
    // close() can report a delayed write error (NFS and the like); such a file is not kept.
    if (close(fd.Release()) != 0) {
        int code = errno;
        unlink(tempPath.c_str());
        return Fail(error, code);
    }
    return true;
}

// Makes a rename in `dir` durable; the new file is in place either way.
void SyncFolder(const std::string& dir) {
    UniqueFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Valid()) {
        (void)fsync(dirFd.Get());
    }
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, int* error) {
    std::string dir;
    std::string tempPath;
    if (!WriteTemporary(path, contents, std::nullopt, dir, tempPath, error)) {
        return false;
    }
    if (rename(tempPath.c_str(), path.c_str()) != 0) {
        int code = errno;
        unlink(tempPath.c_str());
        return Fail(error, code);
    }
    SyncFolder(dir);
    return true;
}

bool CreateFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                          int* error) {
    std::string dir;
    std::string tempPath;
    if (!WriteTemporary(path, contents, mode, dir, tempPath, error)) {
        return false;
    }
    int code = 0;
    if (renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        code = errno;
        if (code == EINVAL || code == ENOSYS) {
            // File systems without no-replace renames: a hard link fails just the same way
            // when the name is taken.
            code = link(tempPath.c_str(), path.c_str()) == 0 ? 0 : errno;
        }
    }
    unlink(tempPath.c_str());  // gone already after a rename; the spare name after a link
    if (code != 0) {
        return Fail(error, code);
    }
    SyncFolder(dir);
    return true;
}

}  // namespace qv
