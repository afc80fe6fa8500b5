#include "platform/file_read.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>

#include "platform/net.h"

namespace qv {
namespace {

bool Fail(int* error, int code) {
    if (error != nullptr) {
        *error = code;
    }
    return false;
}

}  // namespace

bool ReadRegularFile(const std::string& path, size_t limit, bool truncate, std::string& out,
                     int* error) {
    out.clear();
    // Looked at before the open: opening some devices already does something.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        return Fail(error, errno);
    }
    if (!S_ISREG(before.st_mode)) {
        return Fail(error, ENXIO);
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid()) {
        return Fail(error, errno);
    }
    // The path may have been swapped between the look and the open.
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0) {
        return Fail(error, errno);
    }
    if (!S_ISREG(opened.st_mode)) {
        return Fail(error, ENXIO);
    }
    if (!truncate && static_cast<unsigned long long>(opened.st_size) > limit) {
        return Fail(error, EFBIG);
    }
    // One byte more than allowed tells a file that grew while it was read.
    const size_t want = truncate || limit == SIZE_MAX ? limit : limit + 1;
    if (!ReadAll(fd.Get(), out, want)) {
        const int readError = errno;
        out.clear();
        return Fail(error, readError);
    }
    if (!truncate && out.size() > limit) {
        out.clear();
        return Fail(error, EFBIG);
    }
    return true;
}

}  // namespace qv
