// Opening and making files and folders without following symbolic links.
#include "platform/safe_file.h"

#include <errno.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/error_text.h"
#include "platform/utf8.h"

namespace qv {

namespace {

bool Fail(int* error, int code) {
    if (error != nullptr) {
        *error = code;
    }
    return false;
}

UniqueFd FailFd(int* error, int code) {
    Fail(error, code);
    return UniqueFd();
}

bool IsLinkAt(int dirFd, const std::string& name) {
    struct stat st {};
    return fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// A random suffix for temporary names; two writers (or a stale leftover) never share it.
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

// "." + name + "." + 16 hex digits + ".tmp" must stay within the file-name limit.
constexpr size_t kTempNameExtra = 1 + 1 + 16 + 4;

}  // namespace

UniqueFd OpenFileForWriting(int dirFd, const std::string& name, WriteMode mode, int* error) {
    // Non-blocking, so a FIFO put in the file's place cannot hang us in open().
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (mode == WriteMode::Append) {
        flags |= O_APPEND;
    }
    UniqueFd fd(openat(dirFd, name.c_str(), flags, kFileMode));
    if (!fd.Valid()) {
        return FailFd(error, errno);
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        return FailFd(error, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return FailFd(error, ENXIO);
    }
    // A hard link would let the truncation below reach a file that lives elsewhere.
    if (st.st_nlink > 1) {
        return FailFd(error, EMLINK);
    }
    if (fcntl(fd.Get(), F_SETFL, flags & O_APPEND) != 0) {
        return FailFd(error, errno);
    }
    if (mode == WriteMode::Truncate && ftruncate(fd.Get(), 0) != 0) {
        return FailFd(error, errno);
    }
    return fd;
}

UniqueFd MakeFolder(int dirFd, const std::string& name, int* error) {
    bool made = mkdirat(dirFd, name.c_str(), kFolderMode) == 0;
    if (!made && errno != EEXIST) {
        return FailFd(error, errno);
    }
    UniqueFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) {
        int code = errno;
        // A link to a folder fails with ENOTDIR here; name it for what it is.
        return FailFd(error, IsLinkAt(dirFd, name) ? ELOOP : code);
    }
    // The umask may have taken bits away; every folder we make is 0755.
    if (made && fchmod(fd.Get(), kFolderMode) != 0) {
        return FailFd(error, errno);
    }
    return fd;
}

bool MakeFolders(const std::string& path, int* error) {
    if (path.empty()) {
        return Fail(error, ENOENT);
    }
    size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('/', end + 1);
        std::string part = path.substr(0, end);
        if (part.empty() || part.back() == '/') {
            continue;  // the root, or a doubled separator
        }
        if (mkdir(part.c_str(), kFolderMode) == 0) {
            UniqueFd made(open(part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!made.Valid() || fchmod(made.Get(), kFolderMode) != 0) {
                return Fail(error, errno);
            }
        } else if (errno != EEXIST) {
            return Fail(error, errno);
        }
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return Fail(error, errno);
    }
    return S_ISDIR(st.st_mode) ? true : Fail(error, ENOTDIR);
}

std::string FileErrorText(const std::string& path, int error) {
    switch (error) {
        case ELOOP:
            return path + " is a symbolic link; it is not followed";
        case EMLINK:
            return path + " has other names (hard links); it is not written";
        case ENXIO:
            return path + " is not a regular file";
        default:
            return path + ": " + SystemErrorText(error);
    }
}

TemporaryFile::TemporaryFile(int dirFd, std::string_view name, mode_t mode, int* error)
    : dirFd_(dirFd), name_(name) {
    if (error != nullptr) {
        *error = 0;
    }
    // A hidden name, so a crash's leftover never shows up in the lists of log and trace files.
    const std::string stem = CutToBytes(name, kMaxFileNameBytes - kTempNameExtra);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate = "." + stem + "." + RandomSuffix() + ".tmp";
        int opened = openat(dirFd_, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (opened >= 0) {
            fd_.Reset(opened);
            tempName_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST) {
            Fail(error, errno);
            return;
        }
    }
    Fail(error, EEXIST);
}

TemporaryFile::~TemporaryFile() {
    fd_.Reset();
    if (!placed_ && !tempName_.empty()) {
        unlinkat(dirFd_, tempName_.c_str(), 0);
    }
}

bool TemporaryFile::Commit(Replace replace, int* error) {
    if (!fd_.Valid()) {
        return Fail(error, EBADF);
    }
    // close() can report a delayed write error (NFS and the like); such a file is not kept.
    if (close(fd_.Release()) != 0) {
        return Fail(error, errno);
    }
    switch (replace) {
        case Replace::NotALink:
            // A link that appears after this look is replaced by the rename, never followed.
            if (IsLinkAt(dirFd_, name_)) {
                return Fail(error, ELOOP);
            }
            [[fallthrough]];
        case Replace::Any:
            if (renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0) {
                return Fail(error, errno);
            }
            break;
        case Replace::NothingThere:
            if (renameat2(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), RENAME_NOREPLACE) !=
                0) {
                int code = errno;
                if (code != EINVAL && code != ENOSYS) {
                    return Fail(error, code);
                }
                // File systems without no-replace renames: a hard link fails just the same
                // way when the name is taken. The destructor removes the spare name.
                if (linkat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str(), 0) != 0) {
                    return Fail(error, errno);
                }
                return true;
            }
            break;
    }
    placed_ = true;
    return true;
}

}  // namespace qv
