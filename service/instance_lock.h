// One service program per data folder: a lock on a file in the folder, held while the
// service runs.
#pragma once

#include <string>
#include <string_view>

#include "platform/net.h"

namespace qv {

inline constexpr std::string_view kServiceLockName = "HalvoricSvc.lock";

class ServiceInstanceLock {
  public:
    // Takes the lock of `dataDir` (which must exist) without waiting. When it cannot be
    // taken, Held() is false and Error() says why, naming the running one's process id
    // when another service program holds it.
    explicit ServiceInstanceLock(const std::string& dataDir);

    bool Held() const { return fd_.Valid(); }
    const std::string& Error() const { return error_; }

  private:
    UniqueFd fd_;  // the lock goes with the descriptor
    std::string error_;
};

}  // namespace qv
