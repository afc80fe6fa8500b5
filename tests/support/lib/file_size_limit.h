// Makes writes fail halfway, as on a full disk, for one scope: a file-size limit, with the
// signal it raises ignored so the write returns EFBIG instead.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <stdexcept>

namespace qv::test {

class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0 ||
            ::sigaction(SIGXFSZ, &ignore, &previous_) != 0) {
            throw std::runtime_error("cannot set a file-size limit");
        }
        rlimit small = saved_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::sigaction(SIGXFSZ, &previous_, nullptr);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    struct sigaction previous_ {};
};

}  // namespace qv::test
