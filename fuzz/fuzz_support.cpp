#include "fuzz_support.h"

#include <sys/stat.h>

namespace qv::fuzz {

std::string ScratchSubdir(const std::string& name) {
    std::string path = ScratchDir() + "/" + name;
    ::mkdir(path.c_str(), 0700);
    return path;
}

}  // namespace qv::fuzz
