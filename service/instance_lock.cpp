// The service program's lock file: flock on an open file, so it ends with the process.
#include "service/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "platform/error_text.h"

namespace qv {

ServiceInstanceLock::ServiceInstanceLock(const std::string& dataDir) {
    std::string path = dataDir;
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path.append(kServiceLockName);
    // Never through a symlink: whoever may write the folder must not make the service (perhaps
    // started as root) create or lock a file elsewhere.
    const int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    UniqueFd fd(::open(path.c_str(), O_RDWR | flags, 0644));
    if (!fd.Valid() && errno == EACCES) {
        // Left by a run as another user (root, by hand): a read-only descriptor locks as well.
        fd.Reset(::open(path.c_str(), O_RDONLY | flags, 0644));
    }
    if (!fd.Valid()) {
        error_ = "Can't open " + path + ": " + SystemErrorText(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = "Can't use " + path + ": not a regular file";
        return;
    }
    int rc;
    do {
        rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK) {
            error_ = "Can't lock " + path + ": " + SystemErrorText(errno);
            return;
        }
        char text[32] = {};
        ssize_t n = ::pread(fd.Get(), text, sizeof text - 1, 0);
        std::string pid;
        for (ssize_t i = 0; i < n && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            pid.push_back(text[i]);
        }
        error_ = "Another service program already runs on the data folder " + dataDir;
        if (!pid.empty()) {
            error_ += " (process " + pid + ")";
        }
        return;
    }
    // The holder's process id, for the message of the next one that tries.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.Get(), 0) == 0) {
        WriteAll(fd.Get(), pid);  // only a help for that message: a failure changes nothing
    }
    fd_ = std::move(fd);
}

}  // namespace qv
