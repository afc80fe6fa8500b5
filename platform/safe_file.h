// Files and folders made in a folder that another user may control (the data folder of a
// service that runs as root): a symbolic link found there is never followed.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/net.h"

namespace qv {

// Permission bits of every folder the programs make, whatever the umask.
inline constexpr mode_t kFolderMode = 0755;
// Permission bits of every file the programs make (less the umask).
inline constexpr mode_t kFileMode = 0644;
// The longest file name (bytes) the file systems we write to accept.
inline constexpr size_t kMaxFileNameBytes = 255;

enum class WriteMode { Truncate, Append };

// Opens `name` in the folder `dirFd` (AT_FDCWD: `name` is a path) for writing, creating it
// with kFileMode when missing. Refused, with the file left as it was: a symbolic link
// (ELOOP), anything but a regular file (ENXIO), a file that has other names (EMLINK).
// On failure the result is not valid and `error` receives the errno.
UniqueFd OpenFileForWriting(int dirFd, const std::string& name, WriteMode mode, int* error);

// Opens the folder `name` in `dirFd`, making it with kFolderMode when missing. A symbolic
// link in its place is refused (ELOOP).
UniqueFd MakeFolder(int dirFd, const std::string& name, int* error);

// Makes the folder `path` and every missing parent, each new one with kFolderMode. True
// when the folder is there afterwards.
bool MakeFolders(const std::string& path, int* error = nullptr);

// "<path>: <system text>"; a refused link or file says why in plain words.
std::string FileErrorText(const std::string& path, int error);

// A new file beside `name` in the folder `dirFd`, with a hidden random name, created
// exclusively (so never through a link or into someone else's file). Commit puts it in
// place in one rename; a file that was never committed is removed again.
class TemporaryFile {
  public:
    enum class Replace {
        Any,           // whatever is at `name`; a link there is replaced, not followed
        NotALink,      // refuses (ELOOP) when `name` is a symbolic link
        NothingThere,  // refuses (EEXIST) when anything is at `name`
    };

    // `dirFd` must stay open as long as this object lives.
    TemporaryFile(int dirFd, std::string_view name, mode_t mode, int* error);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    // Closes the file (a delayed write error fails it) and renames it to `name`.
    bool Commit(Replace replace, int* error);

  private:
    const int dirFd_;
    const std::string name_;
    std::string tempName_;
    UniqueFd fd_;
    bool placed_ = false;
};

}  // namespace qv
